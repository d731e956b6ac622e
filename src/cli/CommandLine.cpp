// The command-line front end. Each command is the window's own operation
// (CreateArchive, ListArchive, TestArchive, RestoreCompany, UploadArchive)
// driven through ConsoleHost and ConsoleInteraction, so its lines, checks and
// failures are exactly the window's; what is added here is only what the
// window gets from a person: which companies, which file, and the answers.
//
// The settings file is read the way the main window's keeper restores it
// (ReadMainSettings) and never written. A register that is missing or read
// only in part fails the run: no one is there to see a short list.
#include "cli/CommandLine.h"

#include "archive/ArchiveOperations.h"
#include "archive/DataFolderLock.h"
#include "cabinet/CabSTComps.h"
#include "cli/Console.h"
#include "cli/ConsoleHost.h"
#include "cli/ConsoleInteraction.h"
#include "cli/Options.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"
#include "settings/inifile.h"
#include "settings/keepers.h"
#include "settings/settingsfile.h"
#include "upload/IdFTP.h"
#include "upload/Upload.h"

#include <algorithm>
#include <clocale>

namespace qv {

namespace {

using cli::Command;
using cli::Console;
using cli::ConsoleHost;
using cli::ConsoleInteraction;
using cli::Options;
using cli::UsageError;

enum ExitStatus { kSuccess = 0, kFailed = 1, kUsage = 2 };

// The program's file name without its extension, as the messages name it.
std::string programName()
{
    std::string name = ExtractFileName(ProgramFilePath());
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name.empty() ? std::string("qvarchiwizator") : name;
}

// A path from the arguments, whole, in the system's own form.
std::string argumentPath(const std::string &path) { return ToNativeSeparators(ExpandFileName(path)); }

// The run's arguments on one line, for the log file.
std::string commandLineText(const std::vector<std::string> &args)
{
    std::string shown;
    for (const std::string &a : args) {
        if (!shown.empty())
            shown += ' ';
        shown += a.find(' ') != std::string::npos ? '"' + a + '"' : a;
    }
    return shown;
}

void printUsageError(Console &console, const std::string &message)
{
    console.err(programName() + ": " + message);
    console.err(cli::UsageHint(programName()));
}

class Run {
public:
    Run(Console &console, const Options &options) : console_(console), ui_(console), options_(options) {}

    int execute()
    {
        try {
            switch (options_.command) {
            case Command::Archive: return archive();
            case Command::List: return list();
            case Command::Test: return test();
            case Command::Restore: return restore();
            case Command::Help:
            case Command::Version: break;
            }
        } catch (const UsageError &e) {
            printUsageError(console_, e.message());
            return kUsage;
        } catch (const std::exception &e) {
            // The general error report.
            plainMessage(ExceptionReportText(e.what()));
            return kFailed;
        }
        return kSuccess;
    }

private:
    void plainMessage(const std::string &text)
    {
        ui_.message({text, ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    }

    void readSettings()
    {
        settingsFile_ = DefaultSettingsFileToRead();
        settings_ = ReadMainSettings(settingsFile_);
        dataFolder_ = DataFolderAsHeld(options_.data.empty() ? settings_.dataFolderText : argumentPath(options_.data));
    }

    // The register of the data folder, whole, or false after telling why.
    bool loadRegister()
    {
        const std::string path = ResolveEntryIgnoringCase(dataFolder_, kRegisterFileName);
        if (!FileExists(path)) {
            plainMessage(MissingRegisterMessage(dataFolder_));
            return false;
        }
        RegisterLoad load = LoadCompanyRegister(path);
        if (load.error != 0) {
            plainMessage(UnreadableRegisterMessage(path, load.error));
            return false;
        }
        companies_.setRows(std::move(load.rows));
        return true;
    }

    // The rows whose Katalog is `name` ignoring letter case (Polish letters
    // too); a name that matches exactly wins over those that differ in case.
    std::vector<int> rowsOf(const std::string &name) const
    {
        std::vector<int> exact;
        std::vector<int> folded;
        for (int row = 0; row < companies_.count(); ++row) {
            const std::string katalog = companies_.katalog(row);
            if (katalog == name)
                exact.push_back(row);
            else if (SameTextIgnoringCase(katalog, name))
                folded.push_back(row);
        }
        return exact.empty() ? folded : exact;
    }

    std::string unknownCompany(const std::string &name) const
    {
        return Format("Nieznana firma \"%1\": rejestr %2 w katalogu %3 nie ma takiego katalogu firmy",
                      {name, kRegisterFileName, dataFolder_});
    }

    void markCompanies()
    {
        if (options_.all) {
            companies_.setAllArchiwizuj(true);
            return;
        }
        std::vector<int> rows;
        for (const std::string &name : options_.companies) {
            const std::vector<int> found = rowsOf(name);
            if (found.empty())
                throw UsageError(unknownCompany(name));
            rows.insert(rows.end(), found.begin(), found.end());
        }
        for (int row : rows)
            companies_.setArchiwizuj(row, true);
    }

    std::string archiveName() const
    {
        if (!options_.output.empty())
            return argumentPath(options_.output);
        if (options_.generateName)
            return GeneratedArchiveName(dataFolder_, LocalNow());
        // The window's last archive, by the field's own rule; when there is
        // none, the create generates a name as the window does.
        return ArchiveFileNameFromText(settings_.archiveFieldText);
    }

    ConsoleHost makeHost(const std::string &archive)
    {
        return ConsoleHost(ui_, console_, companies_, dataFolder_, archive, options_.lockWaitSeconds * 1000);
    }

    int archive()
    {
        readSettings();
        if (!loadRegister())
            return kFailed;
        markCompanies();
        ConsoleHost host = makeHost(archiveName());
        ui_.setConsent(options_.yes, "istniejący plik archiwum jest zastępowany tylko z opcją --yes");

        bool ok;
        {
            // Held from the create to the last old archive removed, so that
            // another run never sees one without the other.
            const std::optional<DataFolderLock> lock = LockDataFolder(host);
            if (!lock)
                return kFailed;
            TSTCabWriter writer;
            if (!CreateArchive(host, writer))
                return kFailed;
            ok = removeOldArchives(host.archiveFileName());
        }
        if (options_.upload && !upload(host.archiveFileName()))
            ok = false;
        return ok ? kSuccess : kFailed;
    }

    // --keep: the generated archives beyond the newest N in the new one's
    // folder. The new archive is complete and checked by now.
    bool removeOldArchives(const std::string &archive)
    {
        if (options_.keep <= 0)
            return true;
        bool ok = true;
        const std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(ExpandFileName(archive)));
        const GeneratedArchives found = FindGeneratedArchives(folder, options_.keep, archive, LocalNow());
        if (!found.future.empty()) {
            std::string shown;
            for (const std::string &f : found.future)
                shown += (shown.empty() ? "" : ", ") + ToNativeSeparators(f);
            console_.out("Archiwa z datą późniejszą niż teraz nie są liczone ani usuwane: " + shown);
        }
        for (const std::string &old : found.beyond) {
            const std::string shown = ToNativeSeparators(old);
            if (FileDelete(shown)) {
                console_.out("Usunięto starsze archiwum " + shown);
            } else {
                plainMessage(
                    Format("Nie można usunąć starszego archiwum %1\r%2", {shown, SysErrorMessage(LastOSError())}));
                ok = false;
            }
        }
        return ok;
    }

    bool upload(const std::string &archive)
    {
        // --upload is the user's word for the transmission question.
        ui_.setConsent(true);
        UploadHost host;
        host.archiveFileName = [archive] { return archive; };
        host.storedValue = [this](const std::string &name) {
            const TStoredValue *value = settings_.values.Find(name);
            return value ? value->Value : std::string();
        };
        // As the window reads them: from the file, at the upload.
        host.setting = [this](const std::string &name) {
            return IniFile(settingsFile_).ReadString(kMainSection, name, std::string());
        };
        host.setFtpEnabled = [](bool) {};
        host.setOperationRunning = [](bool) {};
        host.closing = [] { return InterruptRequested(); };
        TIdFTP ftp;
        return UploadArchive(ui_, ftp, host);
    }

    int list()
    {
        ConsoleHost host = makeHost(argumentPath(options_.file));
        TSTCabReader reader;
        switch (ListArchive(host, reader)) {
        case ListOutcome::Listed: return kSuccess;
        case ListOutcome::NoArchive: return kFailed;
        case ListOutcome::NotCabinet:
            // The window shows an empty list; a script must not take it for one.
            plainMessage(Format("Plik \"%1\" nie jest plikiem typu .CAB", {host.archiveFileName()}));
            return kFailed;
        }
        return kFailed;
    }

    int test()
    {
        ConsoleHost host = makeHost(argumentPath(options_.file));
        TSTCabReader reader;
        return TestArchive(host, reader) ? kSuccess : kFailed;
    }

    int restore()
    {
        readSettings();
        if (!loadRegister())
            return kFailed;
        const std::vector<int> rows = rowsOf(options_.company);
        if (rows.empty())
            throw UsageError(unknownCompany(options_.company));
        if (rows.size() > 1) {
            std::string names;
            for (int row : rows)
                names += (names.empty() ? "" : ", ") + companies_.katalog(row);
            throw UsageError(
                Format("\"%1\" pasuje do kilku firm (%2): podaj katalog dokładnie", {options_.company, names}));
        }
        ConsoleHost host = makeHost(argumentPath(options_.file));
        host.setCurrentRow(rows.front());
        // --yes is required by the arguments: both questions are answered.
        ui_.setConsent(true);
        TSTCabReader reader;
        return RestoreCompany(host, reader) ? kSuccess : kFailed;
    }

    Console &console_;
    ConsoleInteraction ui_;
    const Options &options_;
    std::string settingsFile_;
    MainSettings settings_;
    std::string dataFolder_;
    TCompanyList companies_;
};

}  // namespace

int RunCommandLine(const std::vector<std::string> &args)
{
    AttachParentConsole();
    InstallInterruptHandler();
    // The user's formats for the listing's dates and times.
    std::setlocale(LC_TIME, "");
    Console console(stdout, stderr, StandardOutputIsTerminal());

    Options options;
    try {
        options = cli::ParseOptions(args);
    } catch (const UsageError &e) {
        printUsageError(console, e.message());
        return kUsage;
    }
    if (options.command == Command::Help) {
        console.out(Trimmed(cli::HelpText(programName())));
        return kSuccess;
    }
    if (options.command == Command::Version) {
        console.out(programName() + ' ' + QV_VERSION);
        return kSuccess;
    }
    if (!options.log.empty()) {
        std::string reason;
        if (!console.openLog(argumentPath(options.log), reason)) {
            console.err(Format("Nie można otworzyć pliku dziennika %1: %2", {argumentPath(options.log), reason}));
            return kFailed;
        }
    }
    console.logOnly(Format("=== %1 %2", {programName(), commandLineText(args)}));
    int status = Run(console, options).execute();
    console.logOnly(Format("=== koniec, kod wyjścia %1", {std::to_string(status)}));
    // A scheduled run is judged by its log: one that could not be kept is a
    // failure, whatever else went well.
    if (!console.logFailure().empty()) {
        console.err(
            Format("Nie można zapisać pliku dziennika %1: %2", {argumentPath(options.log), console.logFailure()}));
        status = std::max(status, static_cast<int>(kFailed));
    }
    return status;
}

}  // namespace qv
