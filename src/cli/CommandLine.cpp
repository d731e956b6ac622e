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
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"
#include "settings/inifile.h"
#include "settings/keepers.h"
#include "settings/settingsfile.h"
#include "upload/IdFTP.h"
#include "upload/Upload.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace qv {

namespace {

using cli::Command;
using cli::Console;
using cli::ConsoleHost;
using cli::ConsoleInteraction;
using cli::Options;
using cli::UsageError;

enum ExitStatus { kSuccess = 0, kFailed = 1, kUsage = 2 };

QString programName() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

// A path from the arguments, whole, in the system's own form.
QString argumentPath(const QString &path) { return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()); }

// The run's arguments on one line, for the log file.
QString commandLineText(const QStringList &args)
{
    QStringList shown;
    for (const QString &a : args)
        shown << (a.contains(QLatin1Char(' ')) ? QLatin1Char('"') + a + QLatin1Char('"') : a);
    return shown.join(QLatin1Char(' '));
}

void printUsageError(Console &console, const QString &message)
{
    console.err(QStringLiteral("%1: %2").arg(programName(), message));
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
            plainMessage(ExceptionReportText(QString::fromUtf8(e.what())));
            return kFailed;
        }
        return kSuccess;
    }

private:
    void plainMessage(const QString &text)
    {
        ui_.message(nullptr, {text, ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    }

    void readSettings()
    {
        settingsFile_ = DefaultSettingsFileToRead();
        settings_ = ReadMainSettings(settingsFile_);
        dataFolder_ = DataFolderAsHeld(options_.data.isEmpty() ? settings_.dataFolderText : argumentPath(options_.data));
    }

    // The register of the data folder, whole, or false after telling why.
    bool loadRegister()
    {
        const QString path = ResolveEntryIgnoringCase(dataFolder_, QLatin1String(kRegisterFileName));
        if (!QFileInfo(path).isFile()) {
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
    QList<int> rowsOf(const QString &name) const
    {
        QList<int> exact;
        QList<int> folded;
        for (int row = 0; row < companies_.count(); ++row) {
            const QString katalog = companies_.katalog(row);
            if (katalog == name)
                exact << row;
            else if (katalog.compare(name, Qt::CaseInsensitive) == 0)
                folded << row;
        }
        return exact.isEmpty() ? folded : exact;
    }

    QString unknownCompany(const QString &name) const
    {
        return QStringLiteral("Nieznana firma \"%1\": rejestr %2 w katalogu %3 nie ma takiego katalogu firmy")
            .arg(name, QLatin1String(kRegisterFileName), dataFolder_);
    }

    void markCompanies()
    {
        if (options_.all) {
            companies_.setAllArchiwizuj(true);
            return;
        }
        QList<int> rows;
        for (const QString &name : options_.companies) {
            const QList<int> found = rowsOf(name);
            if (found.isEmpty())
                throw UsageError(unknownCompany(name));
            rows << found;
        }
        for (int row : std::as_const(rows))
            companies_.setArchiwizuj(row, true);
    }

    QString archiveName() const
    {
        if (!options_.output.isEmpty())
            return argumentPath(options_.output);
        if (options_.generateName)
            return GeneratedArchiveName(dataFolder_, QDateTime::currentDateTime());
        // The window's last archive, by the field's own rule; when there is
        // none, the create generates a name as the window does.
        return ArchiveFileNameFromText(settings_.archiveFieldText);
    }

    ConsoleHost makeHost(const QString &archive)
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
        ui_.setConsent(options_.yes, QStringLiteral("istniejący plik archiwum jest zastępowany tylko z opcją --yes"));

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
    bool removeOldArchives(const QString &archive)
    {
        if (options_.keep <= 0)
            return true;
        bool ok = true;
        const QString folder = QFileInfo(archive).absolutePath();
        const GeneratedArchives found =
            FindGeneratedArchives(folder, options_.keep, archive, QDateTime::currentDateTime());
        if (!found.future.isEmpty()) {
            QStringList shown;
            for (const QString &f : found.future)
                shown << QDir::toNativeSeparators(f);
            console_.out(QStringLiteral("Archiwa z datą późniejszą niż teraz nie są liczone ani usuwane: %1")
                             .arg(shown.join(QStringLiteral(", "))));
        }
        for (const QString &old : found.beyond) {
            const QString shown = QDir::toNativeSeparators(old);
            if (FileDelete(shown.toStdString())) {
                console_.out(QStringLiteral("Usunięto starsze archiwum %1").arg(shown));
            } else {
                plainMessage(QStringLiteral("Nie można usunąć starszego archiwum %1\r%2")
                                 .arg(shown, QString::fromStdString(SysErrorMessage(LastOSError()))));
                ok = false;
            }
        }
        return ok;
    }

    bool upload(const QString &archive)
    {
        // --upload is the user's word for the transmission question.
        ui_.setConsent(true);
        UploadHost host;
        host.archiveFileName = [archive] { return archive; };
        host.storedValue = [this](const QString &name) {
            const TStoredValue *value = settings_.values.Find(name);
            return value ? value->Value : QVariant();
        };
        // As the window reads them: from the file, at the upload.
        host.setting = [this](const QString &name) {
            return IniFile(settingsFile_).ReadString(QString::fromLatin1(kMainSection), name, QString());
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
            plainMessage(QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(host.archiveFileName()));
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
        const QList<int> rows = rowsOf(options_.company);
        if (rows.isEmpty())
            throw UsageError(unknownCompany(options_.company));
        if (rows.size() > 1) {
            QStringList names;
            for (int row : rows)
                names << companies_.katalog(row);
            throw UsageError(QStringLiteral("\"%1\" pasuje do kilku firm (%2): podaj katalog dokładnie")
                                 .arg(options_.company, names.join(QStringLiteral(", "))));
        }
        ConsoleHost host = makeHost(argumentPath(options_.file));
        host.setCurrentRow(rows.first());
        // --yes is required by the arguments: both questions are answered.
        ui_.setConsent(true);
        TSTCabReader reader;
        return RestoreCompany(host, reader) ? kSuccess : kFailed;
    }

    Console &console_;
    ConsoleInteraction ui_;
    const Options &options_;
    QString settingsFile_;
    MainSettings settings_;
    QString dataFolder_;
    TCompanyList companies_;
};

}  // namespace

int RunCommandLine(int argc, char **argv)
{
    AttachParentConsole();
    // Core only: no window system is loaded, so no display is needed.
    QCoreApplication app(argc, argv);
    InstallInterruptHandler();
    Console console(stdout, stderr, StandardOutputIsTerminal());
    const QStringList args = QCoreApplication::arguments().mid(1);

    Options options;
    try {
        options = cli::ParseOptions(args);
    } catch (const UsageError &e) {
        printUsageError(console, e.message());
        return kUsage;
    }
    if (options.command == Command::Help) {
        console.out(cli::HelpText(programName()).trimmed());
        return kSuccess;
    }
    if (options.command == Command::Version) {
        console.out(QStringLiteral("%1 %2").arg(programName(), QStringLiteral(QV_VERSION)));
        return kSuccess;
    }
    if (!options.log.isEmpty()) {
        QString reason;
        if (!console.openLog(argumentPath(options.log), reason)) {
            console.err(QStringLiteral("Nie można otworzyć pliku dziennika %1: %2").arg(argumentPath(options.log), reason));
            return kFailed;
        }
    }
    console.logOnly(QStringLiteral("=== %1 %2").arg(programName(), commandLineText(args)));
    int status = Run(console, options).execute();
    console.logOnly(QStringLiteral("=== koniec, kod wyjścia %1").arg(status));
    // A scheduled run is judged by its log: one that could not be kept is a
    // failure, whatever else went well.
    if (!console.logFailure().isEmpty()) {
        console.err(QStringLiteral("Nie można zapisać pliku dziennika %1: %2")
                        .arg(argumentPath(options.log), console.logFailure()));
        status = std::max(status, static_cast<int>(kFailed));
    }
    return status;
}

}  // namespace qv
