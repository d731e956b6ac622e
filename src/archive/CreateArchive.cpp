#include "archive/ArchiveOperations.h"

#include "archive/DataFolderLock.h"
#include "cabinet/CabSTComps.h"
#include "platform/pathcase.h"
#include "platform/tempfiles.h"
#include "platform/text.h"
#include "register/CompanyList.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>

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

void RemoveStaleTemporaries(ArchiveHost &host)
{
    RemoveStaleTempFiles(TempDirectory());
    const QString archive = host.archiveFileName();
    if (!archive.isEmpty())
        RemoveStaleTempFiles(ExtractFilePath(ExpandFileName(archive.toStdString())));
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

// One run of "Twórz archiwum". Beyond the specified lines it guarantees:
// - only regular files are read; any other entry (a FIFO, a socket) gets a
//   line and is left out, so nothing can block the run;
// - a file that stops the run is named with the system's reason;
// - the new cabinet is read back whole before it replaces anything, and a
//   run that adds no file at all changes nothing;
// - the companies are unmarked only when the run has completed.
class ArchiveRun {
public:
    ArchiveRun(ArchiveHost &host, TSTCabWriter &writer, LogWindow &log) : host_(host), writer_(writer), log_(log)
    {
        listReset_ = QObject::connect(&host_.companies(), &QAbstractItemModel::modelAboutToBeReset,
                                      [this] { handedOver_.clear(); });
    }

    // Returns normally when the cabinet is complete; throws otherwise.
    void run()
    {
        writer_.SetCompressionType(cctMsZip);
        writer_.OnFilePlaced = [this](TSTCabWriter &, const cab::CCAB &, const std::string &name,
                                      std::int32_t size, bool continuation, bool &abort) {
            filePlaced(name, size, continuation, abort);
        };
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
        writer_.OnBeforeFileAdd = [this](TSTCabWriter &, const std::string &, bool &) { ++added_; };
        writer_.OnFileSkipped = [this](TSTCabWriter &, const std::string &name, TSTCabSkipReason reason) {
            log_.addLine(QStringLiteral("-!- Pominięto %1 (%2) -!- ")
                             .arg(shownPath(name), reason == csrBrokenLink
                                                       ? QStringLiteral("dowiązanie do nieistniejącego pliku")
                                                       : QStringLiteral("to nie jest zwykły plik")));
        };
        writer_.OnBlockingCall = [this](const std::function<void()> &work) { host_.ui().runBlocking(work); };
        writer_.OnCabinetsComplete = [this](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &cabinets,
                                            bool &abort) { verify(cabinets, abort); };
        const std::string archive = host_.archiveFileName().toStdString();
        try {
            RemoveStaleTemporaries(host_);
            writer_.Open(archive);
            addMarkedCompanies();
            if (added_ == 0) {
                log_.addLine(QStringLiteral("Brak plików do archiwizacji - archiwum nie zostało zmienione"));
                throw Exception("no file to archive");
            }
            log_.addLine(QStringLiteral("*** dodaję - czekaj ... ***"));
            if (log_.stopPressed())
                throw Exception("Client requested abort");
            writer_.Close(true);
        } catch (const ESTCabinet &e) {
            reportCause(e);
            throw;
        }
        log_.addLine(QStringLiteral("Archiwum sprawdzone: %1 plików").arg(verified_));
        log_.addLine(QStringLiteral("***"));
        log_.addLine(QStringLiteral("--- Koniec operacji \"Archiwizowanie\" ---"));
        unmarkHandedOver();
        host_.setCommandEnabled(ArchiveHost::cmdFTP, QFileInfo(host_.archiveFileName()).isFile());
    }

    ~ArchiveRun()
    {
        QObject::disconnect(listReset_);
        writer_.OnFilePlaced = nullptr;
        writer_.OnFileStatus = nullptr;
        writer_.OnProgress = nullptr;
        writer_.OnBeforeFileAdd = nullptr;
        writer_.OnFileSkipped = nullptr;
        writer_.OnCabinetsComplete = nullptr;
        writer_.OnBlockingCall = nullptr;
        // A run that failed leaves nothing half-made behind.
        try {
            writer_.Close(false);
        } catch (const std::exception &) {
        }
    }

private:
    static QString shownPath(const std::string &path)
    {
        return QDir::toNativeSeparators(QString::fromStdString(PrintableName(path)));
    }

    // The system's text for an OS error code, on one line and without the
    // closing full stop, to sit inside a log line.
    static QString systemReason(int code)
    {
        QString text = QString::fromStdString(SysErrorMessage(code)).simplified();
        while (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        return text;
    }


    // A line on why the run stops, where there is more to say than the
    // failure lines do. A STOP, or a check that has said its piece, adds none.
    void reportCause(const ESTCabinet &e)
    {
        const QString reason = e.SystemErrorCode() != 0 ? systemReason(e.SystemErrorCode()) : PrintableMessage(e.what());
        if (!e.FileName().empty())
            log_.addLine(QStringLiteral("-!- Błąd pliku %1: %2 -!- ").arg(shownPath(e.FileName()), reason));
        else if (e.ErrorCode() == cab::FCIERR_TEMP_FILE)
            log_.addLine(QStringLiteral("-!- Błąd pliku tymczasowego w katalogu %1: %2 -!- ")
                             .arg(shownPath(ExcludeTrailingDelimiter(TempDirectory())), reason));
        else if (e.SystemErrorCode() != 0)
            log_.addLine(QStringLiteral("-!- Błąd zapisu archiwum: %1 -!- ").arg(reason));
    }

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
            try {
                writer_.AddFiles(JoinFsPath(folder, QStringLiteral("*.*")).toStdString(), katalog.toStdString(),
                                 false);
            } catch (const EOSError &e) {
                log_.addLine(QStringLiteral("-!- Błąd katalogu %1: %2 -!- ")
                                 .arg(QDir::toNativeSeparators(folder), systemReason(e.code())));
                throw;
            }
            handedOver_.push_back(row);
        }
    }

    // Only a run whose archive took its place unmarks; a row the user
    // unmarked meanwhile, or a list loaded anew, is left as it is.
    void unmarkHandedOver()
    {
        TCompanyList &list = host_.companies();
        for (int row : handedOver_) {
            if (row >= list.count() || !list.isMarked(row))
                continue;
            try {
                list.setArchiwizuj(row, false);
                host_.companyUnmarked();
            } catch (const std::exception &) {
                // As when the mark was cleared during the walk: the row stays marked.
            }
        }
    }

    void filePlaced(const std::string &name, std::int32_t size, bool continuation, bool &abort)
    {
        if (!continuation)
            placed_.emplace_back(name, size);
        log_.addLine(QStringLiteral("%1 %2 byte(s)").arg(Printable(name), -22).arg(size, 10));
        log_.repaintPane();
        if (log_.stopPressed())
            abort = true;
        host_.ui().processEvents();
    }

    // Reads the finished cabinet back before it replaces the old archive:
    // every block, and every file against what was placed. The reading runs
    // beside the window, which stays alive and takes STOP in meanwhile.
    void verify(const std::vector<TSTCabCompletedCabinet> &cabinets, bool &abort)
    {
        std::vector<std::string> files;
        for (const TSTCabCompletedCabinet &c : cabinets)
            files.push_back(c.TempFileName);
        std::size_t seen = 0;
        std::string mismatch;
        std::string failure;
        std::atomic<bool> stop{false};
        host_.ui().runBlocking(
            [&] {
                try {
                    TSTCabReader reader;
                    reader.TestCabinetSet(files, [&](TSTCabReader &, const std::string &name, std::int32_t size,
                                                     bool &halt) {
                        if (seen >= placed_.size() || placed_[seen].first != name || placed_[seen].second != size) {
                            mismatch = PrintableName(name) + " (" + std::to_string(size) + " bajtów)";
                            halt = true;
                            return;
                        }
                        ++seen;
                        halt = stop;
                    });
                } catch (const std::exception &e) {
                    failure = e.what();
                }
            },
            [&] {
                if (log_.stopPressed())
                    stop = true;
            });
        QString problem;
        if (!mismatch.empty())
            problem = QStringLiteral("%1 nie odpowiada dodanemu plikowi").arg(QString::fromStdString(mismatch));
        else if (!failure.empty() && !log_.stopPressed())
            problem = PrintableMessage(failure.c_str());
        else if (failure.empty() && !stop && seen != placed_.size())
            problem = QStringLiteral("%1 plików zamiast %2").arg(seen).arg(placed_.size());
        if (!problem.isEmpty())
            log_.addLine(QStringLiteral("-!- Archiwum nie przeszło sprawdzenia: %1 -!- ").arg(problem));
        abort = !problem.isEmpty() || log_.stopPressed();
        verified_ = seen;
    }

    ArchiveHost &host_;
    TSTCabWriter &writer_;
    LogWindow &log_;
    QMetaObject::Connection listReset_;
    qint64 total_ = 0;
    qint64 done_ = 0;
    int added_ = 0;
    std::vector<int> handedOver_;  // rows whose files all went to the writer
    std::vector<std::pair<std::string, std::int32_t>> placed_;
    std::size_t verified_ = 0;
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

// Why an archive cannot be written at that name, before anything is
// compressed; empty when it can. The folder is made as the writer would.
QString unwritableArchiveReason(const QString &archive)
{
    if (QFileInfo(archive).isDir())
        return QStringLiteral("pod tą nazwą jest katalog");
    const std::string folder = ExtractFilePath(ExpandFileName(archive.toStdString()));
    std::string probe;
    FileHandle h = InvalidFileHandle;
    if (ForceDirectories(folder))
        h = CreateOwnTempFile(folder, "~" + ExtractFileName(archive.toStdString()).substr(0, 64), probe);
    if (h == InvalidFileHandle)
        return QString::fromStdString(SysErrorMessage(LastOSError())).simplified();
    FileClose(h);
    FileDelete(probe);
    return QString();
}

}  // namespace

bool CreateArchive(ArchiveHost &host, TSTCabWriter &writer)
{
    Interaction &ui = host.ui();
    if (host.archiveFileName().isEmpty())
        GenerateArchiveName(host);
    host.setCommandEnabled(ArchiveHost::cmdArchiwizuj, false);
    struct EnableUnlessRun {
        ArchiveHost &host;
        bool ran = false;
        ~EnableUnlessRun()
        {
            if (!ran)
                host.setCommandEnabled(ArchiveHost::cmdArchiwizuj, true);
        }
    } enable{host};

    const OperationScope running(host);
    const int count = countMarked(host);
    if (count == 0) {
        ui.message(host.window(), {QStringLiteral("Nie zaznaczono firm do \"Archiwizacji\""), plainCaption(),
                                   MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return false;
    }
    // Said before the question, as the restore does: a question answered for
    // nothing is a question too many.
    if (DataFolderHeldElsewhere(host.dataFolder())) {
        ui.message(host.window(), {DataFolderBusyMessage(host.dataFolder()), plainCaption(), MsgIcon::None,
                                   MsgButtons::Ok, MsgResult::Ok});
        return false;
    }

    const QString archive = host.archiveFileName();
    const auto cannotWrite = [&](const QString &reason) {
        ui.message(host.window(), {QStringLiteral("Nie można zapisać archiwum %1\r%2").arg(archive, reason),
                                   plainCaption(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    };
    if (QFileInfo(archive).isDir()) {
        cannotWrite(unwritableArchiveReason(archive));
        return false;
    }
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
    if (ui.message(host.window(), question) != MsgResult::Yes)
        return false;
    // Taken once the user has said yes, so that an open question never keeps
    // another run waiting.
    const std::optional<DataFolderLock> lock = LockDataFolder(host);
    if (!lock)
        return false;
    // A restore that a crash cut short is settled first, so that it is never
    // archived half done.
    RecoverInterruptedRestores(host, *lock);
    if (const QString reason = unwritableArchiveReason(archive); !reason.isEmpty()) {
        cannotWrite(reason);
        return false;
    }

    enable.ran = true;
    LogWindow *log = OpenStoppableLog(host, archive);
    bool complete = false;
    try {
        ArchiveRun(host, writer, *log).run();
        complete = true;
    } catch (const std::exception &) {
        // The failure's own text is not shown; the log says the run failed,
        // and whether it was asked to stop.
        if (log->stopPressed())
            log->addLine(host.stoppedLine());
        log->addLine(QStringLiteral("***"));
        log->addLine(QStringLiteral("Błąd dodawania danych !"));
    }
    FinishStoppableLog(host, *log);
    host.updateArchiveAction();
    host.archiveFileCheck();
    return complete;
}

}  // namespace qv
