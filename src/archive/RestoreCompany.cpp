#include "archive/ArchiveOperations.h"
#include "archive/StagedRestore.h"

#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <optional>

namespace qv {

namespace {

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
    }

    // Number of files and bytes of the company that were restored.
    void run(const QString &archive, std::int32_t &files, std::int32_t &bytes)
    {
        const std::string prefix = (katalog_ + QLatin1Char('\\')).toStdString();
        const bool usable = IsUsableKatalog(katalog_);
        total_ = usable ? companyBytes(archive, prefix) : 0;

        // The company's files are extracted beside its folder and moved in
        // only when every one of them is there.
        std::optional<StagedRestore> staging;
        if (usable) {
            const std::string target = ResolveEntryIgnoringCase(host_.dataFolder(), katalog_).toStdString();
            staging.emplace(ExtractFilePath(target), ExtractFileName(target));
        }

        reader_.OnCopyFile = [&](TSTCabReader &, const std::string &name, std::int32_t size, std::uint16_t,
                                 std::uint16_t, std::uint16_t, std::uint16_t, std::string &dest, bool &abort) {
            dest.clear();
            if (staging && name.compare(0, prefix.size(), prefix) == 0) {
                dest = staging->stagedPath(name.substr(prefix.size()));
                if (dest.empty()) {
                    logUnsafeName(QString::fromStdString(name));
                    abort = true;
                    return;
                }
                ++files;
                bytes += size;
                log_.addLine(QStringLiteral("%1 - %2 bajtów").arg(QString::fromStdString(name), -20).arg(size, 10));
            }
            host_.ui().processEvents();
            abort = log_.stopPressed();
        };
        reader_.OnCloseFile = [&](TSTCabReader &, const std::string &, std::uint16_t, std::uint16_t, std::uint16_t,
                                  std::uint16_t, bool &, const std::string &dest, bool &abort) {
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
            staging->commit();
        } catch (const ERestoreLeavesFolder &e) {
            if (e.isCompanyFolder())
                log_.addLine(QStringLiteral("-!- Katalog %1 jest dowiązaniem do innego miejsca -!- ").arg(katalog_));
            else
                logUnsafeName(katalog_ + QLatin1Char('\\') + QString::fromStdString(e.name()));
            throw;
        }
    }

private:
    void logUnsafeName(const QString &name)
    {
        log_.addLine(QStringLiteral("-!- Niebezpieczna nazwa w archiwum: %1 -!- ").arg(name));
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
    qint64 total_ = 0;
    qint64 done_ = 0;
};

}  // namespace

void RecoverInterruptedRestores(ArchiveHost &host)
{
    const QString dataFolder = host.dataFolder();
    if (dataFolder.isEmpty())
        return;
    // A folder left as it was comes up at every list load; once a run is enough.
    static QSet<QString> toldLeftAsItWas;
    for (const SettledRestore &settled : SettleInterruptedRestores(dataFolder.toStdString())) {
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
    RecoverInterruptedRestores(host);
    cab::FDICABINETINFO info{};
    if (!reader.IsCabinet(archive.toStdString(), info)) {
        ui.message(host.window(), {QStringLiteral("Plik \"%1\" nie jest plikiem typu .CAB").arg(archive),
                                   ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return false;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    bool failed = false;
    try {
        RestoreRun(host, reader, *log, katalog).run(archive, RestoreFileCount, RestoreByteCount);
        if (RestoreFileCount == 0) {
            log->addLine(QStringLiteral("*!* Nie odnaleziono danych wskazanej firmy w Archiwum *!*"));
        } else {
            log->addLine(QStringLiteral(" Kopiowanie/odtwarzanie z Archiwum zakończone. "));
            log->addLine(QStringLiteral(" %1 plików, łączna wielkości %2 bytes").arg(RestoreFileCount).arg(RestoreByteCount));
        }
    } catch (const std::exception &) {
        log->addLine(QStringLiteral(" *** Błąd wypakowania danych ! *** "));
        failed = true;
    }
    FinishStoppableLog(host, *log);
    return !failed && RestoreFileCount > 0;
}

}  // namespace qv
