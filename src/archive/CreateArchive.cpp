#include "archive/ArchiveOperations.h"

#include "archive/DataFolderLock.h"
#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/tempfiles.h"
#include "platform/text.h"
#include "register/CompanyList.h"

#include <atomic>

namespace qv {

bool IsUsableKatalog(const std::string &katalog)
{
    return !katalog.empty() && katalog != "." && katalog != ".." &&
           katalog.find_first_of("\\/:") == std::string::npos;
}

std::string SystemReason(int osError)
{
    std::string text = Simplified(SysErrorMessage(osError));
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

LogWindow *OpenStoppableLog(ArchiveHost &host, const std::string &archive)
{
    LogWindow *log = host.ui().openLogWindow();
    log->setCaptionFromTemplate(ExtractFileName(archive));
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
    const std::string archive = host.archiveFileName();
    if (!archive.empty())
        RemoveStaleTempFiles(ExtractFilePath(ExpandFileName(archive)));
}

void GenerateArchiveName(ArchiveHost &host)
{
    host.setArchiveFileName(GeneratedArchiveName(host.dataFolder(), LocalNow()));
    host.archiveFileCheck();
}

namespace {

std::string plainCaption() { return ApplicationTitle(); }

void plainMessage(ArchiveHost &host, const std::string &text)
{
    host.ui().message({text, plainCaption(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
}

// The company folder of a row, found whatever its letter case.
std::string companyFolder(const std::string &dataFolder, const std::string &katalog)
{
    return ResolveEntryIgnoringCase(dataFolder, katalog);
}

// Bytes of the files lying directly in the folder, for the progress bar.
std::int64_t topLevelBytes(const std::string &folder)
{
    std::int64_t total = 0;
    FileSearch search;
    SearchEntry e;
    if (search.First(JoinFsPath(folder, "*"), e)) {
        do {
            if (e.regular)
                total += static_cast<std::int64_t>(e.size);
        } while (search.Next(e));
    }
    return total;
}

// One run of "Twórz archiwum". Beyond the specified lines it guarantees:
// - only regular files are read; any other entry (a FIFO, a socket) gets a
//   line and is left out, so nothing can block the run;
// - a file that stops the run is named with the system's reason;
// - the new cabinet is read back whole before it replaces anything, and a
//   run that adds no file at all changes nothing;
// - the companies are unmarked only when the run has completed.
class ArchiveRun : private TCompanyList::Observer {
public:
    ArchiveRun(ArchiveHost &host, TSTCabWriter &writer, LogWindow &log) : host_(host), writer_(writer), log_(log)
    {
        host_.companies().addObserver(this);
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
            log_.addLine(Format("-!- Pominięto %1 (%2) -!- ",
                                {shownPath(name), reason == csrBrokenLink ? "dowiązanie do nieistniejącego pliku"
                                                                          : "to nie jest zwykły plik"}));
        };
        writer_.OnBlockingCall = [this](const std::function<void()> &work) { host_.ui().runBlocking(work); };
        writer_.OnCabinetsComplete = [this](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &cabinets,
                                            bool &abort) { verify(cabinets, abort); };
        const std::string archive = host_.archiveFileName();
        try {
            RemoveStaleTemporaries(host_);
            writer_.Open(archive);
            addMarkedCompanies();
            if (added_ == 0) {
                log_.addLine("Brak plików do archiwizacji - archiwum nie zostało zmienione");
                throw Exception("no file to archive");
            }
            log_.addLine("*** dodaję - czekaj ... ***");
            if (log_.stopPressed())
                throw Exception("Client requested abort");
            writer_.Close(true);
        } catch (const ESTCabinet &e) {
            reportCause(e);
            throw;
        }
        log_.addLine(Format("Archiwum sprawdzone: %1 plików", {std::to_string(verified_)}));
        log_.addLine("***");
        log_.addLine("--- Koniec operacji \"Archiwizowanie\" ---");
        unmarkHandedOver();
        host_.setCommandEnabled(ArchiveHost::cmdFTP, FileExists(host_.archiveFileName()));
    }

    ~ArchiveRun() override
    {
        host_.companies().removeObserver(this);
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
    // A list loaded anew meanwhile is not the one the rows were counted in.
    void listAboutToBeReplaced() override { handedOver_.clear(); }
    void marksChanged(int, int) override {}

    static std::string shownPath(const std::string &path) { return ToNativeSeparators(Printable(path)); }

    // A line on why the run stops, where there is more to say than the
    // failure lines do. A STOP, or a check that has said its piece, adds none.
    void reportCause(const ESTCabinet &e)
    {
        const std::string reason =
            e.SystemErrorCode() != 0 ? SystemReason(e.SystemErrorCode()) : PrintableMessage(e.what());
        if (!e.FileName().empty())
            log_.addLine(Format("-!- Błąd pliku %1: %2 -!- ", {shownPath(e.FileName()), reason}));
        else if (e.ErrorCode() == cab::FCIERR_TEMP_FILE)
            log_.addLine(Format("-!- Błąd pliku tymczasowego w katalogu %1: %2 -!- ",
                                {shownPath(ExcludeTrailingDelimiter(TempDirectory())), reason}));
        else if (e.SystemErrorCode() != 0)
            log_.addLine(Format("-!- Błąd zapisu archiwum: %1 -!- ", {reason}));
    }

    void addMarkedCompanies()
    {
        TCompanyList &list = host_.companies();
        const std::string data = host_.dataFolder();
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
            const std::string katalog = list.katalog(row);
            const std::string folder = companyFolder(data, katalog);
            if (!IsUsableKatalog(katalog) || !DirectoryExists(folder)) {
                log_.addLine(Format("-!- Brak katalogu %1 dla Firmy %2 -!- ", {katalog, list.firma(row)}));
                continue;
            }
            log_.addLine(Format("-- Firma : %1 -- ", {list.firma(row)}));
            try {
                writer_.AddFiles(JoinFsPath(folder, "*.*"), katalog, false);
            } catch (const EOSError &e) {
                log_.addLine(
                    Format("-!- Błąd katalogu %1: %2 -!- ", {ToNativeSeparators(folder), SystemReason(e.code())}));
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
        log_.addLine(Format("%1 %2 byte(s)", {PadRight(Printable(name), 22), PadLeft(std::to_string(size), 10)}));
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
                            mismatch = Printable(name) + " (" + std::to_string(size) + " bajtów)";
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
        std::string problem;
        if (!mismatch.empty())
            problem = mismatch + " nie odpowiada dodanemu plikowi";
        else if (!failure.empty() && !log_.stopPressed())
            problem = PrintableMessage(failure.c_str());
        else if (failure.empty() && !stop && seen != placed_.size())
            problem = Format("%1 plików zamiast %2", {std::to_string(seen), std::to_string(placed_.size())});
        if (!problem.empty())
            log_.addLine(Format("-!- Archiwum nie przeszło sprawdzenia: %1 -!- ", {problem}));
        abort = !problem.empty() || log_.stopPressed();
        verified_ = seen;
    }

    ArchiveHost &host_;
    TSTCabWriter &writer_;
    LogWindow &log_;
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
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
std::string unwritableArchiveReason(const std::string &archive)
{
    if (DirectoryExists(archive))
        return "pod tą nazwą jest katalog";
    const std::string folder = ExtractFilePath(ExpandFileName(archive));
    std::string probe;
    FileHandle h = InvalidFileHandle;
    if (ForceDirectories(folder))
        h = CreateOwnTempFile(folder, "~" + ExtractFileName(archive).substr(0, 64), probe);
    if (h == InvalidFileHandle)
        return Simplified(SysErrorMessage(LastOSError()));
    FileClose(h);
    FileDelete(probe);
    return {};
}

}  // namespace

bool CreateArchive(ArchiveHost &host, TSTCabWriter &writer)
{
    Interaction &ui = host.ui();
    if (host.archiveFileName().empty())
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
        plainMessage(host, "Nie zaznaczono firm do \"Archiwizacji\"");
        return false;
    }
    // Said before the question, as the restore does: a question answered for
    // nothing is a question too many.
    if (DataFolderHeldElsewhere(host.dataFolder())) {
        plainMessage(host, DataFolderBusyMessage(host.dataFolder()));
        return false;
    }

    const std::string archive = host.archiveFileName();
    const auto cannotWrite = [&](const std::string &reason) {
        plainMessage(host, Format("Nie można zapisać archiwum %1\r%2", {archive, reason}));
    };
    if (DirectoryExists(archive)) {
        cannotWrite(unwritableArchiveReason(archive));
        return false;
    }
    MessageRequest question;
    question.icon = MsgIcon::Question;
    question.buttons = MsgButtons::YesNo;
    if (FileExists(archive)) {
        question.text = Format("WYBRANY PLIK ARCHIWUM %1 JUŻ ISTNIEJE !\rCzy dokonać archiwizacji wybarnych "
                               "firm [%2 sztuk] w miejsce tego pliku\r(znajdujące się w nim dane ulegną "
                               "usunięciu) ?",
                               {archive, std::to_string(count)});
        question.caption = "Potwierdź nadpisanie ... ";
        question.defaultButton = MsgResult::No;
    } else {
        question.text = Format("Dokonać archiwizacji wybarnych firm ? [%1 sztuk]", {std::to_string(count)});
        question.caption = "Potwierdź ... ";
        question.defaultButton = MsgResult::Yes;
    }
    if (ui.message(question) != MsgResult::Yes)
        return false;
    // Taken once the user has said yes, so that an open question never keeps
    // another run waiting.
    const std::optional<DataFolderLock> lock = LockDataFolder(host);
    if (!lock)
        return false;
    // A restore that a crash cut short is settled first, so that it is never
    // archived half done.
    RecoverInterruptedRestores(host, *lock);
    if (const std::string reason = unwritableArchiveReason(archive); !reason.empty()) {
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
        log->addLine("***");
        log->addLine("Błąd dodawania danych !");
    }
    FinishStoppableLog(host, *log);
    host.updateArchiveAction();
    host.archiveFileCheck();
    return complete;
}

}  // namespace qv
