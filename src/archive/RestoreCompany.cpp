#include "archive/ArchiveOperations.h"
#include "archive/DataFolderLock.h"
#include "archive/StagedRestore.h"

#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"
#include "register/CompanyList.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <map>
#include <optional>

namespace qv {

namespace {

// The system's text for an OS error code, on one line and without the closing
// full stop, to sit inside a log line.
QString systemReason(int code)
{
    QString text = QString::fromStdString(SysErrorMessage(code)).simplified();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

class RestoreRun {
public:
    RestoreRun(ArchiveHost &host, TSTCabReader &reader, LogWindow &log, const QString &katalog)
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
    void run(const QString &archive, std::int32_t &files, std::int32_t &bytes)
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

    void extractAndCommit(const QString &archive, std::optional<StagedRestore> &staging, std::int32_t &files,
                          std::int32_t &bytes)
    {
        const std::string prefix = (katalog_ + QLatin1Char('\\')).toStdString();
        const bool usable = IsUsableKatalog(katalog_);
        total_ = usable ? companyBytes(archive, prefix) : 0;

        // The company's files are extracted beside its folder and moved in
        // only when every one of them is there.
        if (usable) {
            const std::string target = ResolveEntryIgnoringCase(host_.dataFolder(), katalog_).toStdString();
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
                    log_.addLine(QStringLiteral("%1 - %2 bajtów").arg(Printable(name), -20).arg(size, 10));
                } else {
                    bytes += size - seen->second;
                    seen->second = size;
                    log_.addLine(QStringLiteral("-!- %1 jest w archiwum więcej niż raz - odtwarzany jest ostatni "
                                                "-!- ")
                                     .arg(Printable(name)));
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
            done_ += QFileInfo(QString::fromStdString(dest)).size();
            log_.setProgress(done_, total_);
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        // Without a usable company folder every entry is skipped and nothing
        // is written: the data folder only stands in as the destination.
        reader_.ExtractFiles(archive.toStdString(),
                             staging ? staging->extractionFolder() : host_.dataFolder().toStdString(), false);
        if (files == 0)
            return;
        try {
            host_.ui().runBlocking([&] { staging->commit(); });
        } catch (const ERestoreLeavesFolder &e) {
            switch (e.kind()) {
            case ERestoreLeavesFolder::CompanyFolder:
                log_.addLine(QStringLiteral("-!- Katalog %1 jest dowiązaniem do innego miejsca -!- ").arg(katalog_));
                break;
            case ERestoreLeavesFolder::LinkInCompany:
                log_.addLine(QStringLiteral("-!- %1 w katalogu firmy jest dowiązaniem do innego miejsca -!- ")
                                 .arg(Printable(prefix + e.name())));
                break;
            case ERestoreLeavesFolder::UnsafeName: logUnsafeName(prefix + e.name()); break;
            }
            throw;
        } catch (const ERestoreMoveFailed &e) {
            log_.addLine(QStringLiteral("-!- Błąd pliku %1: %2 -!- ")
                             .arg(Printable(prefix + e.name()),
                                  e.folderInTheWay() ? QStringLiteral("w jego miejscu w katalogu firmy jest podkatalog")
                                                     : systemReason(e.code())));
            throw;
        } catch (const EOSError &e) {
            log_.addLine(QStringLiteral("-!- Błąd zapisu danych firmy: %1 -!- ").arg(systemReason(e.code())));
            throw;
        }
    }

    // Why the extraction stopped, naming the entry being written when there
    // was one; a STOP says so instead.
    void reportCause(const ESTCabinet &e)
    {
        if (log_.stopPressed() || e.ErrorCode() == cab::FDIERROR_USER_ABORT)
            return;
        const QString reason = e.SystemErrorCode() != 0 ? systemReason(e.SystemErrorCode())
                                                        : PrintableMessage(e.what());
        if (!current_.empty())
            log_.addLine(QStringLiteral("-!- Błąd pliku %1: %2 -!- ").arg(Printable(current_), reason));
        else
            log_.addLine(QStringLiteral("-!- Błąd archiwum: %1 -!- ").arg(reason));
    }

private:
    void logUnsafeName(const std::string &name)
    {
        log_.addLine(QStringLiteral("-!- Niebezpieczna nazwa w archiwum: %1 -!- ").arg(Printable(name)));
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

    qint64 companyBytes(const QString &archive, const std::string &prefix)
    {
        qint64 total = 0;
        reader_.EnumerateFiles(archive.toStdString(),
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
    QString katalog_;
    std::string current_;  // the entry being written
    qint64 total_ = 0;
    qint64 done_ = 0;
};

}  // namespace

void RecoverInterruptedRestores(ArchiveHost &host, const DataFolderLock &lock)
{
    const QString dataFolder = host.dataFolder();
    if (dataFolder.isEmpty())
        return;
    const AbandonedBy abandoned = lock.holdsFile() ? AbandonedBy::AnyoneElse : AbandonedBy::EndedProcess;
    std::vector<SettledRestore> settledRestores;
    host.ui().runBlocking(
        [&] { settledRestores = SettleInterruptedRestores(dataFolder.toStdString(), abandoned); });
    // A folder left as it was comes up at every list load; once a run is enough.
    static QSet<QString> toldLeftAsItWas;
    for (const SettledRestore &settled : settledRestores) {
        const QString staging = QString::fromStdString(settled.stagingFolder);
        const bool leftAsItWas =
            settled.outcome == SettledRestore::LeftAlone || settled.outcome == SettledRestore::Stuck;
        if (leftAsItWas && toldLeftAsItWas.contains(staging))
            continue;
        if (leftAsItWas)
            toldLeftAsItWas.insert(staging);
        const QString company = QDir::toNativeSeparators(QString::fromStdString(settled.companyFolder));
        const QString interrupted =
            QStringLiteral("Odtwarzanie danych firmy w katalogu %1 zostało przerwane.\r").arg(company);
        QString text;
        switch (settled.outcome) {
        case SettledRestore::Finished:
            text = interrupted + QStringLiteral("Dokończono je: katalog zawiera dane z archiwum.");
            break;
        case SettledRestore::Undone:
            text = interrupted + QStringLiteral("Cofnięto je: katalog zawiera dane sprzed odtwarzania.");
            break;
        case SettledRestore::Stuck:
            text = interrupted + QStringLiteral("Nie udało się go ani dokończyć, ani cofnąć; pliki odtwarzania "
                                                "pozostały w katalogu %1.")
                                     .arg(QDir::toNativeSeparators(staging));
            break;
        case SettledRestore::LeftAlone:
            text = QStringLiteral("Przerwane odtwarzanie danych pozostawiło katalog %1 z uszkodzonym dziennikiem.\r"
                                  "Niczego nie zmieniono: sprawdź dane firm, zanim usuniesz ten katalog.")
                       .arg(QDir::toNativeSeparators(staging));
            break;
        }
        host.ui().message(host.window(), {text, ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    }
}

bool RestoreCompany(ArchiveHost &host, TSTCabReader &reader)
{
    Interaction &ui = host.ui();
    struct EnableAtEnd {
        ArchiveHost &host;
        ~EnableAtEnd() { host.setCommandEnabled(ArchiveHost::cmdRestore, true); }
    } enableAtEnd{host};

    const QString archive = host.archiveFileName();
    // Nothing to ask about when there is nothing to restore from.
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        ui.message(host.window(), {QStringLiteral("Brak pliku archiwum %1 !").arg(archive), ApplicationTitle(),
                                   MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
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
    const QString firma = hasRow ? list.firma(row) : QString();
    const QString katalog = hasRow ? list.katalog(row) : QString();

    if (ui.message(host.window(), {QStringLiteral("Odtworzyć z archiwum %1 dane\rdla firmy %2 w katalogu %3 ?")
                                       .arg(QFileInfo(archive).fileName(), firma, katalog),
                                   QStringLiteral("Potwierdź odtworzenie... "), MsgIcon::Question, MsgButtons::YesNo,
                                   MsgResult::No}) != MsgResult::Yes)
        return false;
    ui.beep();
    if (ui.message(host.window(),
                   {QStringLiteral("Dla pewności potwierdź jeszcze jeden raz.\r\rNa pewno odtworzyć  dane dla firmy %1 ?")
                        .arg(firma),
                    QStringLiteral("Potwierdź ostatecznie odtworzenie... "), MsgIcon::Question, MsgButtons::YesNo,
                    MsgResult::No}) != MsgResult::Yes)
        return false;

    std::int32_t RestoreFileCount = 0;
    std::int32_t RestoreByteCount = 0;
    // An earlier restore cut short is settled before this one can meet it.
    RecoverInterruptedRestores(host, *lock);
    cab::FDICABINETINFO info{};
    if (!reader.IsCabinet(archive.toStdString(), info)) {
        ui.message(host.window(), {QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(archive),
                                   ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return false;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    bool failed = false;
    {
        RestoreRun run(host, reader, *log, katalog);
        try {
            run.run(archive, RestoreFileCount, RestoreByteCount);
            if (RestoreFileCount == 0) {
                log->addLine(QStringLiteral("*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*"));
            } else {
                log->addLine(QStringLiteral(" Kopiowanie/odtwarzanie z Archiwum zakończone. "));
                log->addLine(QStringLiteral(" %1 plików, łączna wielkości %2 bytes")
                                 .arg(RestoreFileCount)
                                 .arg(RestoreByteCount));
            }
        } catch (const std::exception &e) {
            if (const auto *cabinet = dynamic_cast<const ESTCabinet *>(&e))
                run.reportCause(*cabinet);
            if (log->stopPressed())
                log->addLine(host.stoppedLine());
            log->addLine(QStringLiteral(" *** Błąd wypakowania danych ! *** "));
            failed = true;
        }
    }
    FinishStoppableLog(host, *log);
    return !failed && RestoreFileCount > 0;
}

}  // namespace qv
