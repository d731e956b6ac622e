#include "archive/ArchiveOperations.h"

#include "cabinet/CabSTComps.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"

#include <QDir>
#include <QFileInfo>

namespace qv {

bool IsUsableKatalog(const QString &katalog)
{
    if (katalog.isEmpty() || katalog == QLatin1String(".") || katalog == QLatin1String(".."))
        return false;
    for (QChar c : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char(':')})
        if (katalog.contains(c))
            return false;
    return true;
}

QString GeneratedArchiveName(const QString &dataFolder, const QDateTime &now)
{
    return JoinFsPath(dataFolder, QStringLiteral("Arch") + now.toString(QStringLiteral("yyyy-MM-dd_HHmm")) +
                                      QStringLiteral(".cab"));
}

LogWindow *OpenStoppableLog(ArchiveHost &host, const QString &archive)
{
    LogWindow *log = host.ui().openLogWindow();
    log->setCaptionFromTemplate(QFileInfo(archive).fileName());
    log->clearLines();
    log->setStopVisible(true);
    log->setCloseEnabled(false);
    host.setOperationRunning(true);
    log->showModeless();
    host.ui().processEvents();
    return log;
}

void FinishStoppableLog(ArchiveHost &host, LogWindow &log)
{
    log.hideProgress();
    log.setStopVisible(false);
    log.setCloseEnabled(true);
    host.setOperationRunning(false);
}

void GenerateArchiveName(ArchiveHost &host)
{
    host.setArchiveFileName(GeneratedArchiveName(host.dataFolder(), QDateTime::currentDateTime()));
    host.archiveFileCheck();
}

namespace {

QString plainCaption() { return ApplicationTitle(); }

// The company folder of a row, found whatever its letter case.
QString companyFolder(const QString &dataFolder, const QString &katalog)
{
    return ResolveEntryIgnoringCase(dataFolder, katalog);
}

// Bytes of the files lying directly in the folder, for the progress bar.
qint64 topLevelBytes(const QString &folder)
{
    qint64 total = 0;
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &f : files)
        total += f.size();
    return total;
}

class ArchiveRun {
public:
    ArchiveRun(ArchiveHost &host, TSTCabWriter &writer, LogWindow &log) : host_(host), writer_(writer), log_(log) {}

    // Returns normally when the cabinet is complete; throws otherwise.
    void run()
    {
        writer_.SetCompressionType(cctMsZip);
        writer_.OnFilePlaced = [this](TSTCabWriter &, const cab::CCAB &, const std::string &name,
                                      std::int32_t size, bool, bool &abort) { filePlaced(name, size, abort); };
        writer_.OnFileStatus = [this](TSTCabWriter &, std::uint32_t, std::uint32_t uncompressed, bool &) {
            done_ += uncompressed;
            log_.setProgress(done_, total_);
        };
        // Keeps the windows alive while large files are compressed, and takes
        // a STOP press in before the first file is placed.
        writer_.OnProgress = [this](TSTCabWriter &, bool &abort) {
            host_.ui().processEvents();
            if (log_.stopPressed())
                abort = true;
        };
        writer_.Open(host_.archiveFileName().toStdString());
        addMarkedCompanies();
        log_.addLine(QStringLiteral("*** dodaję - czekaj ... ***"));
        if (log_.stopPressed())
            throw Exception("Client requested abort");
        writer_.Close(true);
        log_.addLine(QStringLiteral("***"));
        log_.addLine(QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
        host_.setCommandEnabled(ArchiveHost::cmdFTP, QFileInfo(host_.archiveFileName()).isFile());
    }

    ~ArchiveRun()
    {
        writer_.OnFilePlaced = nullptr;
        writer_.OnFileStatus = nullptr;
        writer_.OnProgress = nullptr;
        // A run that failed leaves nothing half-made behind.
        try {
            writer_.Close(false);
        } catch (const std::exception &) {
        }
    }

private:
    void addMarkedCompanies()
    {
        TCompanyList &list = host_.companies();
        const QString data = host_.dataFolder();
        for (int row = 0; row < list.count(); ++row)
            if (list.isMarked(row) && IsUsableKatalog(list.katalog(row)))
                total_ += topLevelBytes(companyFolder(data, list.katalog(row)));

        const int remembered = host_.currentRow();
        struct Back {
            ArchiveHost &host;
            int row;
            ~Back() { host.setCurrentRow(row); }
        } back{host_, remembered};
        for (int row = 0; row < list.count(); ++row) {
            host_.setCurrentRow(row);
            if (!list.isMarked(row))
                continue;
            const QString katalog = list.katalog(row);
            const QString folder = companyFolder(data, katalog);
            if (!IsUsableKatalog(katalog) || !QFileInfo(folder).isDir()) {
                log_.addLine(QStringLiteral("-!- Brak katalogu %1 dla Firmy %2 -!- ").arg(katalog, list.firma(row)));
                continue;
            }
            log_.addLine(QStringLiteral("-- Firma : %1 -- ").arg(list.firma(row)));
            writer_.AddFiles(JoinFsPath(folder, QStringLiteral("*.*")).toStdString(), katalog.toStdString(), false);
            list.setArchiwizuj(row, false);
            host_.companyUnmarked();
        }
    }

    void filePlaced(const std::string &name, std::int32_t size, bool &abort)
    {
        log_.addLine(QStringLiteral("%1 %2 byte(s)").arg(QString::fromStdString(name), -22).arg(size, 10));
        log_.repaintPane();
        if (log_.stopPressed())
            abort = true;
        host_.ui().processEvents();
    }

    ArchiveHost &host_;
    TSTCabWriter &writer_;
    LogWindow &log_;
    qint64 total_ = 0;
    qint64 done_ = 0;
};

int countMarked(ArchiveHost &host)
{
    TCompanyList &list = host.companies();
    host.setGridUpdatesEnabled(false);
    const int remembered = host.currentRow();
    int count = 0;
    for (int row = 0; row < list.count(); ++row)
        count += list.isMarked(row) ? 1 : 0;
    host.setCurrentRow(remembered);
    host.setGridUpdatesEnabled(true);
    return count;
}

}  // namespace

void CreateArchive(ArchiveHost &host, TSTCabWriter &writer)
{
    Interaction &ui = host.ui();
    if (host.archiveFileName().isEmpty())
        GenerateArchiveName(host);
    host.setCommandEnabled(ArchiveHost::cmdArchiwizuj, false);

    const int count = countMarked(host);
    if (count == 0) {
        ui.message(host.window(), {QStringLiteral("Nie zaznaczono firm do \"Archiwizacji\""), plainCaption(),
                                   MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        host.setCommandEnabled(ArchiveHost::cmdArchiwizuj, true);
        return;
    }

    const QString archive = host.archiveFileName();
    MessageRequest question;
    question.icon = MsgIcon::Question;
    question.buttons = MsgButtons::YesNo;
    if (QFileInfo(archive).isFile()) {
        question.text = QStringLiteral("WYBRANY PLIK ARCHIWUM %1 JUŻ ISTNIEJE !\rCzy dokonać archiwizacji wybarnych "
                                       "firm [%2 sztuk] w miejsce tego pliku\r(znajdujące się w nim dane ulegną "
                                       "usunięciu) ?")
                            .arg(archive)
                            .arg(count);
        question.caption = QStringLiteral("Potwierdź nadpisanie ... ");
        question.defaultButton = MsgResult::No;
    } else {
        question.text = QStringLiteral("Dokonać archiwizacji wybarnych firm ? [%1 sztuk]").arg(count);
        question.caption = QStringLiteral("Potwierdź ... ");
        question.defaultButton = MsgResult::Yes;
    }
    if (ui.message(host.window(), question) != MsgResult::Yes) {
        host.setCommandEnabled(ArchiveHost::cmdArchiwizuj, true);
        return;
    }

    LogWindow *log = OpenStoppableLog(host, archive);
    try {
        ArchiveRun(host, writer, *log).run();
    } catch (const std::exception &) {
        // The failure's own text is not shown; the log says the run failed.
        log->addLine(QStringLiteral("***"));
        log->addLine(QStringLiteral("Błąd dodawania danych !"));
    }
    FinishStoppableLog(host, *log);
    host.updateArchiveAction();
    host.archiveFileCheck();
}

}  // namespace qv
