#include "archive/ArchiveOperations.h"
#include "archive/DataFolderLock.h"
#include "archive/StagedRestore.h"

#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"
#include "register/CompanyList.h"

#include <map>
#include <optional>
#include <set>

namespace qv {

namespace {

class RestoreRun {
public:
    RestoreRun(ArchiveHost &host, TSTCabReader &reader, LogWindow &log, const std::string &katalog)
        : host_(host), reader_(reader), log_(log), katalog_(katalog)
    {
    }

    ~RestoreRun()
    {
        reader_.OnCopyFile = nullptr;
        reader_.OnCloseFile = nullptr;
        reader_.OnProgress = nullptr;
    }

    // Number of files and bytes of the company that were restored.
    void run(const std::string &archive, std::int32_t &files, std::int32_t &bytes)
    {
        std::optional<StagedRestore> staging;
        // What is left of the staging folder goes with the window alive too.
        const auto discard = [&] { host_.ui().runBlocking([&] { staging.reset(); }); };
        try {
            extractAndCommit(archive, staging, files, bytes);
        } catch (...) {
            discard();
            throw;
        }
        discard();
    }

    void extractAndCommit(const std::string &archive, std::optional<StagedRestore> &staging, std::int32_t &files,
                          std::int32_t &bytes)
    {
        const std::string prefix = katalog_ + '\\';
        const bool usable = IsUsableKatalog(katalog_);
        total_ = usable ? companyBytes(archive, prefix) : 0;

        // The company's files are extracted beside its folder and moved in
        // only when every one of them is there.
        if (usable) {
            const std::string target = ResolveEntryIgnoringCase(host_.dataFolder(), katalog_);
            host_.ui().runBlocking([&] { staging.emplace(ExtractFilePath(target), ExtractFileName(target)); });
        }

        // An entry that comes twice lands on the same file: the last one stays.
        std::map<std::string, std::int32_t> sizes;
        reader_.OnCopyFile = [&](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t,
                                 std::uint16_t, std::uint16_t, std::uint16_t, std::string &dest, bool &abort) {
            dest.clear();
            if (staging && name.compare(0, prefix.size(), prefix) == 0) {
                dest = staging->stagedPath(name.substr(prefix.size()));
                if (dest.empty()) {
                    logUnsafeName(name);
                    abort = true;
                    return;
                }
                current_ = name;
                const auto [seen, first] = sizes.try_emplace(sameFileKey(name), size);
                if (first) {
                    ++files;
                    bytes += size;
                    log_.addLine(
                        Format("%1 - %2 bajtów", {PadRight(Printable(name), 20), PadLeft(std::to_string(size), 10)}));
                } else {
                    bytes += size - seen->second;
                    seen->second = size;
                    log_.addLine(Format("-!- %1 jest w archiwum więcej niż raz - odtwarzany jest ostatni -!- ",
                                        {Printable(name)}));
                }
            }
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        reader_.OnProgress = [&](TSTCabReader &, std::int64_t written, bool &abort) {
            log_.setProgress(done_ + written, total_);
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        reader_.OnCloseFile = [&](TSTCabReader &, const std::string &, std::uint16_t, std::uint16_t, std::uint16_t,
                                  std::uint16_t, bool &, const std::string &dest, bool &abort) {
            current_.clear();
            done_ += std::max<std::int64_t>(0, FileSizeOf(dest));
            log_.setProgress(done_, total_);
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        // Without a usable company folder every entry is skipped and nothing
        // is written: the data folder only stands in as the destination.
        reader_.ExtractFiles(archive, staging ? staging->extractionFolder() : host_.dataFolder(), false);
        if (files == 0)
            return;
        try {
            host_.ui().runBlocking([&] { staging->commit(); });
        } catch (const ERestoreLeavesFolder &e) {
            switch (e.kind()) {
            case ERestoreLeavesFolder::CompanyFolder:
                log_.addLine(Format("-!- Katalog %1 jest dowiązaniem do innego miejsca -!- ", {katalog_}));
                break;
            case ERestoreLeavesFolder::LinkInCompany:
                log_.addLine(Format("-!- %1 w katalogu firmy jest dowiązaniem do innego miejsca -!- ",
                                    {Printable(prefix + e.name())}));
                break;
            case ERestoreLeavesFolder::UnsafeName: logUnsafeName(prefix + e.name()); break;
            }
            throw;
        } catch (const ERestoreMoveFailed &e) {
            std::string reason;
            switch (e.obstacle()) {
            case ERestoreMoveFailed::NoObstacle: reason = SystemReason(e.code()); break;
            case ERestoreMoveFailed::FolderInTheWay: reason = "w jego miejscu w katalogu firmy jest podkatalog"; break;
            case ERestoreMoveFailed::FileInTheWay:
                reason = Format("%1 w katalogu firmy jest plikiem, a nie podkatalogiem", {Printable(e.obstacleName())});
                break;
            }
            log_.addLine(Format("-!- Błąd pliku %1: %2 -!- ", {Printable(prefix + e.name()), reason}));
            throw;
        } catch (const EOSError &e) {
            log_.addLine(Format("-!- Błąd zapisu danych firmy: %1 -!- ", {SystemReason(e.code())}));
            throw;
        }
    }

    // Why the extraction stopped, naming the entry being written when there
    // was one; a STOP says so instead.
    void reportCause(const ESTCabinet &e)
    {
        if (log_.stopPressed() || e.ErrorCode() == cab::FDIERROR_USER_ABORT)
            return;
        const std::string reason =
            e.SystemErrorCode() != 0 ? SystemReason(e.SystemErrorCode()) : PrintableMessage(e.what());
        if (!current_.empty())
            log_.addLine(Format("-!- Błąd pliku %1: %2 -!- ", {Printable(current_), reason}));
        else
            log_.addLine(Format("-!- Błąd archiwum: %1 -!- ", {reason}));
    }

private:
    void logUnsafeName(const std::string &name)
    {
        log_.addLine(Format("-!- Niebezpieczna nazwa w archiwum: %1 -!- ", {Printable(name)}));
    }

    static std::string sameFileKey(const std::string &name)
    {
        if (!FileSystemIgnoresCase())
            return name;
        std::string key;
        for (char32_t c : DecodeUtf8(name))
            key += std::to_string(static_cast<std::uint32_t>(FoldCase(c))) + ',';
        return key;
    }

    std::int64_t companyBytes(const std::string &archive, const std::string &prefix)
    {
        std::int64_t total = 0;
        reader_.EnumerateFiles(archive,
                               [&](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t,
                                   std::uint16_t, std::uint16_t, std::uint16_t, bool &) {
                                   if (name.compare(0, prefix.size(), prefix) == 0)
                                       total += size;
                               });
        return total;
    }

    ArchiveHost &host_;
    TSTCabReader &reader_;
    LogWindow &log_;
    std::string katalog_;
    std::string current_;  // the entry being written
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
};

}  // namespace

void RecoverInterruptedRestores(ArchiveHost &host, const DataFolderLock &lock)
{
    const std::string dataFolder = host.dataFolder();
    if (dataFolder.empty())
        return;
    const AbandonedBy abandoned = lock.holdsFile() ? AbandonedBy::AnyoneElse : AbandonedBy::EndedProcess;
    std::vector<SettledRestore> settledRestores;
    host.ui().runBlocking([&] { settledRestores = SettleInterruptedRestores(dataFolder, abandoned); });
    // A folder left as it was comes up at every list load; once a run is enough.
    static std::set<std::string> toldLeftAsItWas;
    for (const SettledRestore &settled : settledRestores) {
        const std::string &staging = settled.stagingFolder;
        const bool leftAsItWas =
            settled.outcome == SettledRestore::LeftAlone || settled.outcome == SettledRestore::Stuck;
        if (leftAsItWas && !toldLeftAsItWas.insert(staging).second)
            continue;
        const std::string interrupted = Format("Odtwarzanie danych firmy w katalogu %1 zostało przerwane.\r",
                                               {ToNativeSeparators(settled.companyFolder)});
        std::string text;
        switch (settled.outcome) {
        case SettledRestore::Finished:
            text = interrupted + "Dokończono je: katalog zawiera dane z archiwum.";
            break;
        case SettledRestore::Undone:
            text = interrupted + "Cofnięto je: katalog zawiera dane sprzed odtwarzania.";
            break;
        case SettledRestore::Stuck:
            text = interrupted + Format("Nie udało się go ani dokończyć, ani cofnąć; pliki odtwarzania "
                                        "pozostały w katalogu %1.",
                                        {ToNativeSeparators(staging)});
            break;
        case SettledRestore::LeftAlone:
            text = Format("Przerwane odtwarzanie danych pozostawiło katalog %1 z uszkodzonym dziennikiem.\r"
                          "Niczego nie zmieniono: sprawdź dane firm, zanim usuniesz ten katalog.",
                          {ToNativeSeparators(staging)});
            break;
        }
        host.ui().message({text, ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    }
}

bool RestoreCompany(ArchiveHost &host, TSTCabReader &reader)
{
    Interaction &ui = host.ui();
    struct EnableAtEnd {
        ArchiveHost &host;
        ~EnableAtEnd() { host.setCommandEnabled(ArchiveHost::cmdRestore, true); }
    } enableAtEnd{host};
    const auto plainMessage = [&](const std::string &text) {
        ui.message({text, ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    };

    const std::string archive = host.archiveFileName();
    // Nothing to ask about when there is nothing to restore from.
    if (archive.empty() || !FileExists(archive)) {
        plainMessage(Format("Brak pliku archiwum %1 !", {archive}));
        return false;
    }
    const OperationScope running(host);
    // Held around the whole command, questions included: the restore's steps
    // stay together, and a busy folder is told before anything is asked.
    const std::optional<DataFolderLock> lock = LockDataFolder(host);
    if (!lock)
        return false;

    const int row = host.currentRow();
    TCompanyList &list = host.companies();
    const bool hasRow = row >= 0 && row < list.count();
    // The company is fixed here: moving the grid meanwhile changes nothing.
    const std::string firma = hasRow ? list.firma(row) : std::string();
    const std::string katalog = hasRow ? list.katalog(row) : std::string();

    if (ui.message({Format("Odtworzyć z archiwum %1 dane\rdla firmy %2 w katalogu %3 ?",
                           {ExtractFileName(archive), firma, katalog}),
                    "Potwierdź odtworzenie... ", MsgIcon::Question, MsgButtons::YesNo, MsgResult::No}) != MsgResult::Yes)
        return false;
    ui.beep();
    if (ui.message({Format("Dla pewności potwierdź jeszcze jeden raz.\r\rNa pewno odtworzyć  dane dla firmy %1 ?",
                           {firma}),
                    "Potwierdź ostatecznie odtworzenie... ", MsgIcon::Question, MsgButtons::YesNo,
                    MsgResult::No}) != MsgResult::Yes)
        return false;

    std::int32_t RestoreFileCount = 0;
    std::int32_t RestoreByteCount = 0;
    // An earlier restore cut short is settled before this one can meet it.
    RecoverInterruptedRestores(host, *lock);
    cab::FDICABINETINFO info{};
    if (!reader.IsCabinet(archive, info)) {
        plainMessage(Format("Plik \"%1\" nie jest plikiem typu .CAB", {archive}));
        return false;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    bool failed = false;
    {
        RestoreRun run(host, reader, *log, katalog);
        try {
            run.run(archive, RestoreFileCount, RestoreByteCount);
            if (RestoreFileCount == 0) {
                log->addLine("*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*");
            } else {
                log->addLine(" Kopiowanie/odtwarzanie z Archiwum zakończone. ");
                log->addLine(Format(" %1 plików, łączna wielkości %2 bytes",
                                    {std::to_string(RestoreFileCount), std::to_string(RestoreByteCount)}));
            }
        } catch (const std::exception &e) {
            if (const auto *cabinet = dynamic_cast<const ESTCabinet *>(&e))
                run.reportCause(*cabinet);
            if (log->stopPressed())
                log->addLine(host.stoppedLine());
            log->addLine(" *** Błąd wypakowania danych ! *** ");
            failed = true;
        }
    }
    FinishStoppableLog(host, *log);
    return !failed && RestoreFileCount > 0;
}

}  // namespace qv
