#include "app/model/MainWindowModel.h"

#include "archive/ArchiveHost.h"
#include "archive/ArchiveOperations.h"
#include "archive/DataFolderLock.h"
#include "cabinet/CabSTComps.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"
#include "settings/inifile.h"
#include "settings/keepers.h"
#include "settings/storedvalues.h"
#include "upload/IdFTP.h"
#include "upload/Upload.h"

#include <algorithm>

namespace qv {

namespace {

// Where the folder browser opens when no folder of ours exists.
std::string fileSystemRoot()
{
#ifdef _WIN32
    return "C:\\";
#else
    return "/";
#endif
}

}  // namespace

// The main window as the archive operations see it.
class MainWindowModel::Host : public ArchiveHost {
public:
    explicit Host(MainWindowModel &m) : m_(m) {}
    Interaction &ui() override { return m_.ui_; }
    std::string archiveFileName() const override { return m_.view_.archiveFileName(); }
    void setArchiveFileName(const std::string &name) override { m_.view_.setArchiveFileName(name); }
    std::string dataFolder() const override { return m_.view_.dataFolderText(); }
    TCompanyList &companies() override { return *m_.companies_; }
    int currentRow() const override { return m_.view_.currentRow(); }
    void setCurrentRow(int row) override { m_.view_.setCurrentRow(row); }
    void setGridUpdatesEnabled(bool enabled) override { m_.view_.setGridUpdatesEnabled(enabled); }
    void archiveFileCheck() override { m_.archiveFieldLeft(); }
    void updateArchiveAction() override { m_.updateArchiveCommand(); }
    void setCommandEnabled(ArchiveHost::Command command, bool enabled) override
    {
        static const qv::Command commands[] = {qv::Command::Archive, qv::Command::Restore, qv::Command::List,
                                               qv::Command::Upload};
        m_.setCommandEnabled(commands[command], enabled);
    }
    void companyUnmarked() override { --m_.markedCount_; }
    void setOperationRunning(bool running) override { m_.setOperationRunning(running); }
    std::string stoppedLine() const override
    {
        return m_.closeAfterOperation_ ? std::string(text::kClosingStoppedLine) : ArchiveHost::stoppedLine();
    }

private:
    MainWindowModel &m_;
};

MainWindowModel::MainWindowModel(Interaction &ui, MainWindowView &view)
    : ui_(ui),
      view_(view),
      companies_(std::make_unique<TCompanyList>()),
      ftp_(std::make_unique<TIdFTP>()),
      writer_(std::make_unique<TSTCabWriter>()),
      reader_(std::make_unique<TSTCabReader>()),
      host_(std::make_unique<Host>(*this))
{
    ruleEnabled_[static_cast<int>(Command::Exit)] = true;
}

MainWindowModel::~MainWindowModel() = default;

ArchiveHost &MainWindowModel::archiveHost() const { return *host_; }

// ---- enabled states ----

bool MainWindowModel::enabled(Command command) const
{
    return ruleEnabled(command) && !(operationRunning() && OpensLogWindow(command));
}

void MainWindowModel::setCommandEnabled(Command command, bool enabled)
{
    ruleEnabled_[static_cast<int>(command)] = enabled;
    view_.commandStateChanged(command);
}

void MainWindowModel::setOperationRunning(bool running)
{
    operationDepth_ = std::max(0, operationDepth_ + (running ? 1 : -1));
    // Asked to end before this stage opened its log window: its STOP is
    // pressed at once.
    if (running && closeAfterOperation_)
        view_.stopRunningOperation();
    for (Command c : {Command::Archive, Command::Restore, Command::List, Command::Upload})
        view_.commandStateChanged(c);
    // After the command handler has returned, not inside it.
    if (!operationRunning() && closeAfterOperation_)
        view_.closeSoon();
}

void MainWindowModel::updateArchiveCommand() { setCommandEnabled(Command::Archive, markedCount_ > 0); }

std::string MainWindowModel::hintsSwitchCaption() const
{
    return hintsOn_ ? text::kHintsSwitchOn : hintsSwitched_ ? text::kHintsSwitchOffAgain : text::kHintsSwitchOff;
}

std::string MainWindowModel::registerPath() const
{
    return ResolveEntryIgnoringCase(view_.dataFolderText(), kRegisterFileName);
}

// ---- start-up and the fields ----

void MainWindowModel::activate()
{
    if (!firstActivation_ || activating_)
        return;
    activating_ = true;
    guarded([this] {
        dataFolderChanged();
        archiveFieldLeft();
        RemoveStaleTemporaries(*host_);
    });
    firstActivation_ = false;
    activating_ = false;
    if (onFirstActivationDone)
        onFirstActivationDone();
}

void MainWindowModel::archiveFieldLeft()
{
    const std::string name = view_.archiveFileName();
    const bool exists = !name.empty() && FileExists(name);
    for (Command c : {Command::Upload, Command::Restore, Command::List})
        setCommandEnabled(c, exists);
}

void MainWindowModel::dataFolderChanged()
{
    const std::string path = registerPath();
    if (!FileExists(path)) {
        if (firstActivation_) {
            plainMessage(text::kChooseDataFolder);
            view_.focus(MainWindowView::Control::DataFolderField);
            browseDataFolder();
        } else {
            ui_.beep();
            plainMessage(MissingRegisterMessage(view_.dataFolderText()));
        }
        return;
    }

    // Only whoever holds the data folder may settle what a crash left there;
    // while another operation holds it, the list still loads and the next
    // operation to get the lock settles it.
    if (const std::optional<DataFolderLock> lock = TryLockDataFolder(view_.dataFolderText()))
        RecoverInterruptedRestores(*host_, *lock);
    markedCount_ = 0;
    RegisterLoad load = LoadCompanyRegister(path);
    companies_->setRows(std::move(load.rows));
    view_.setCurrentRow(companies_->count() - 1);
    view_.focus(MainWindowView::Control::Grid);
    for (Command c : {Command::AddOne, Command::AddAll, Command::DelAll, Command::GenerateName})
        setCommandEnabled(c, true);
    updateArchiveCommand();
    // An empty or short list must never pass for the whole register.
    if (load.error != 0) {
        ui_.beep();
        plainMessage(UnreadableRegisterMessage(path, load.error));
    }
}

void MainWindowModel::browseArchiveFile()
{
    const std::string current = view_.archiveFileName();
    OpenFileRequest request;
    request.title = text::kBrowseArchiveTitle;
    request.filter = text::kBrowseArchiveFilter;
    request.defaultSuffix = "cab";
    if (!current.empty()) {
        const std::string full = ExpandFileName(current);
        request.initialFolder = ToNativeSeparators(ExcludeTrailingDelimiter(ExtractFilePath(full)));
        request.initialName = ExtractFileName(full);
    }
    if (const auto chosen = ui_.openFile(request))
        view_.setArchiveFileName(*chosen);
    view_.focus(MainWindowView::Control::ArchiveField);
}

void MainWindowModel::browseDataFolder()
{
    if (browseStart_.empty() || !DirectoryExists(browseStart_))
        browseStart_ = view_.dataFolderText();
    const std::string start = DirectoryExists(browseStart_) ? browseStart_ : fileSystemRoot();
    if (const auto chosen = ui_.browseFolder(text::kBrowseFolderPrompt, start)) {
        browseStart_ = *chosen;
        view_.setDataFolderText(browseStart_);
    }
    view_.focus(MainWindowView::Control::DataFolderField);
}

// ---- marks ----

void MainWindowModel::toggleCurrent()
{
    const int row = view_.currentRow();
    if (companies_->count() == 0 || row < 0)
        return;
    companies_->setArchiwizuj(row, !companies_->isMarked(row));
    markedCount_ += companies_->isMarked(row) ? 1 : -1;
    updateArchiveCommand();
}

void MainWindowModel::setAllMarks(bool mark)
{
    markedCount_ = mark ? companies_->count() : 0;
    const int row = view_.currentRow();
    companies_->setAllArchiwizuj(mark);
    view_.setCurrentRow(row);
    updateArchiveCommand();
}

void MainWindowModel::gridKey(char32_t key)
{
    if (key == U' ' || key == U'\r')
        toggleCurrent();
    else if (key == U'+')
        setAllMarks(true);
    else if (key == U'-')
        setAllMarks(false);
}

// ---- commands ----

void MainWindowModel::execute(Command command)
{
    guarded([&] {
        switch (command) {
        case Command::AddOne: toggleCurrent(); break;
        case Command::AddAll: setAllMarks(true); break;
        case Command::DelAll: setAllMarks(false); break;
        case Command::Archive: CreateArchive(*host_, *writer_); break;
        case Command::Restore: RestoreCompany(*host_, *reader_); break;
        case Command::List: ListArchive(*host_, *reader_); break;
        case Command::Exit: view_.closeSoon(); break;
        case Command::Upload: upload(); break;
        case Command::GenerateName: GenerateArchiveName(*host_); break;
        }
    });
}

void MainWindowModel::upload()
{
    UploadHost host;
    host.archiveFileName = [this] { return view_.archiveFileName(); };
    host.storedValue = [this](const std::string &name) {
        const TStoredValue *value = view_.storedValues().Find(name);
        return value ? value->Value : std::string();
    };
    // "tryb" and "tls" are read from the file at each upload, not kept by
    // the keeper: a kept value would be written back at every close and pin
    // today's default in every user's file.
    host.setting = [this](const std::string &name) {
        return IniFile(view_.settingsFileName()).ReadString(kMainSection, name, {});
    };
    host.setFtpEnabled = [this](bool enabled) { setCommandEnabled(Command::Upload, enabled); };
    host.setOperationRunning = [this](bool running) { setOperationRunning(running); };
    // A close the user confirmed mid-upload has pressed STOP; the log says why.
    host.closing = [this] { return closeAfterOperation_; };
    UploadArchive(ui_, *ftp_, host);
}

void MainWindowModel::switchHints()
{
    hintsOn_ = !hintsOn_;
    hintsSwitched_ = true;
    view_.hintsSwitched();
}

void MainWindowModel::about() { plainMessage(text::kAboutText); }

bool MainWindowModel::queryClose()
{
    // An operation runs inside a command handler: closing now would hide the
    // window and leave the run, and the program, going on without it.
    if (!operationRunning())
        return true;
    if (!closeAfterOperation_ && ui_.message({text::kCloseQuestion, text::kCloseCaption, MsgIcon::Question,
                                              MsgButtons::YesNo, MsgResult::No}) == MsgResult::Yes) {
        closeAfterOperation_ = true;
        view_.stopRunningOperation();
    }
    return false;
}

// ---- messages ----

void MainWindowModel::plainMessage(const std::string &text)
{
    ui_.message({text, ApplicationTitle(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
}

void MainWindowModel::showException(const std::string &message)
{
    ui_.message({ExceptionReportText(message), ApplicationTitle(), MsgIcon::Error, MsgButtons::Ok, MsgResult::Ok});
}

void MainWindowModel::guarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const std::exception &e) {
        showException(e.what());
    }
}

}  // namespace qv
