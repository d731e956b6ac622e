#include "app/win32/MainWindow.h"

#include "app/win32/Metrics.h"
#include "app/win32/StatusWindow.h"
#include "app/win32/Wide.h"
#include "archive/ArchiveName.h"
#include "settings/inifile.h"
#include "settings/keepers.h"
#include "settings/settingsfile.h"

namespace qv::win {

namespace {

enum ControlId { kArchiveEdit = 10, kArchiveBrowse, kDataEdit, kDataBrowse, kGridId };
// Posted at the first activation: the list loads once the window shows.
constexpr UINT kActivateMessage = WM_APP + 1;

}  // namespace

MainWindow::MainWindow(Interaction &ui) : ui_(ui), keeper_(kMainSection, false), storedValues_(MainStoredValues())
{
    model_ = std::make_unique<MainWindowModel>(ui_, static_cast<MainWindowView &>(*this));
    keeper_.errorReport = [this](const std::string &message) { model_->showException(message); };
    StatusWindow::errorReport = [this](const std::string &message) { model_->showException(message); };
    registerClass(kClassName, AppIcon());
    const int dpi = SystemDpi();
    create(kClassName, W(text::kMainTitle).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
           Scale(kMainDesignLeft, dpi), Scale(kMainDesignTop, dpi), Scale(kMainMinWidth, dpi),
           Scale(kMainMinHeight, dpi));
}

MainWindow::~MainWindow()
{
    StatusWindow::errorReport = nullptr;
    if (hwnd())
        DestroyWindow(hwnd());
    if (font_)
        DeleteObject(font_);
}

void MainWindow::createControls()
{
    bars_ = std::make_unique<CommandBars>(hwnd());
    archiveField_ = std::make_unique<BrowseField>(hwnd(), text::kArchiveLabel, kArchiveEdit, kArchiveBrowse);
    dataField_ = std::make_unique<BrowseField>(hwnd(), text::kDataFolderLabel, kDataEdit, kDataBrowse);
    grid_ = std::make_unique<CompanyGrid>(hwnd(), kGridId, model_->companies());
    grid_->onKey = [this](char32_t key) { model_->guarded([&] { model_->gridKey(key); }); };
    grid_->onDoubleClick = [this] { model_->guarded([this] { model_->gridDoubleClick(); }); };
    bars_->addHint(archiveField_->edit(), text::kArchiveFieldHint);
    bars_->addHint(dataField_->edit(), text::kDataFolderHint);
    bars_->addHint(grid_->hwnd(), text::kGridHint);
    settingText_ = true;
    dataField_->setText(DefaultDataFolder());
    settingText_ = false;
    for (int c = 0; c < kCommandCount; ++c)
        commandStateChanged(static_cast<Command>(c));
    applyDpi(WindowDpi(hwnd()));
}

void MainWindow::applyDpi(int dpi)
{
    if (font_)
        DeleteObject(font_);
    font_ = MessageFont(dpi);
    archiveField_->setFont(font_);
    dataField_->setFont(font_);
    grid_->applyDpi(dpi);
    bars_->applyDpi(dpi);
    layout();
}

void MainWindow::layout()
{
    if (!grid_)
        return;
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int dpi = WindowDpi(hwnd());
    const int top = bars_->layout();
    // Design pixels from here on: the two fields' panels, then the grid.
    const int width = MulDiv(client.right, 96, dpi);
    const int fieldWidth = std::max(60, width - 2 * 10);
    const int y = MulDiv(top, 96, dpi);
    archiveField_->place(10, y + 7, fieldWidth, dpi);
    dataField_->place(10, y + 3 + 47 + 4, fieldWidth, dpi);
    const int gridTop = Scale(y + 3 + 47 + 41 + 7, dpi);
    const int margin = Scale(10, dpi);
    MoveWindow(grid_->hwnd(), margin, gridTop, std::max(0, static_cast<int>(client.right) - 2 * margin),
               std::max(0, static_cast<int>(client.bottom) - gridTop - margin), TRUE);
}

void MainWindow::show()
{
    const int showCmd = keeper_.restore(hwnd(), [this](const IniFile &ini) { restoreSettings(ini); });
    ShowWindow(hwnd(), showCmd);
    UpdateWindow(hwnd());
    PostMessageW(hwnd(), kActivateMessage, 0, 0);
}

void MainWindow::restoreSettings(const IniFile &ini)
{
    archiveField_->setText(RestoredPropertyText(ini, kMainSection, kArchiveFieldKey, archiveField_->text()));
    // The list loads at the first activation, not as the text is put back.
    settingText_ = true;
    dataField_->setText(RestoredPropertyText(ini, kMainSection, kDataFolderKey, dataField_->text()));
    settingText_ = false;
    RestoreStoredValues(ini, kMainSection, storedValues_);
}

void MainWindow::saveSettings(IniFile &ini)
{
    ini.WriteString(kMainSection, kArchiveFieldKey, QuoteForWrite(TrimControls(archiveField_->text())));
    ini.WriteString(kMainSection, kDataFolderKey, QuoteForWrite(TrimControls(dataField_->text())));
    SaveStoredValues(ini, kMainSection, storedValues_);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: createControls(); return 0;
    case WM_SIZE: layout(); return 0;
    case WM_GETMINMAXINFO: {
        auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
        const int dpi = WindowDpi(hwnd());
        info->ptMinTrackSize = {Scale(kMainMinWidth, dpi), Scale(kMainMinHeight, dpi)};
        return 0;
    }
    case WM_DPICHANGED: {
        const RECT *r = reinterpret_cast<const RECT *>(lParam);
        SetWindowPos(hwnd(), nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        applyDpi(HIWORD(wParam));
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            lastFocus_ = GetFocus();
        else if (!model_->firstActivation())
            SetFocus(lastFocus_ && IsChild(hwnd(), lastFocus_) ? lastFocus_ : grid_->hwnd());
        else
            PostMessageW(hwnd(), kActivateMessage, 0, 0);
        return 0;
    case kActivateMessage: model_->activate(); return 0;
    case WM_COMMAND:
        if (grid_)
            command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        auto *header = reinterpret_cast<NMHDR *>(lParam);
        LRESULT result = 0;
        // The controls notify while they are being made, before they are ours.
        if (!grid_ || !bars_)
            return defaultProc(message, wParam, lParam);
        if (header->hwndFrom == grid_->hwnd() && grid_->notify(header, &result))
            return result;
        if (bars_->notify(header))
            return 0;
        return defaultProc(message, wParam, lParam);
    }
    case WM_CLOSE:
        if (model_->queryClose()) {
            keeper_.save(hwnd(), false, [this](IniFile &ini) { saveSettings(ini); });
            DestroyWindow(hwnd());
        }
        return 0;
    case WM_DESTROY:
        keeper_.save(hwnd(), true, [this](IniFile &ini) { saveSettings(ini); });
        PostQuitMessage(0);
        return 0;
    default: return defaultProc(message, wParam, lParam);
    }
}

void MainWindow::command(int id, int code)
{
    Command c{};
    if (CommandOfId(id, &c)) {
        if (model_->enabled(c))
            model_->execute(c);
        return;
    }
    switch (id) {
    case kHintsSwitchId: model_->switchHints(); break;
    case kAboutId: model_->guarded([this] { model_->about(); }); break;
    case kArchiveBrowse: model_->guarded([this] { model_->browseArchiveFile(); }); break;
    case kDataBrowse: model_->guarded([this] { model_->browseDataFolder(); }); break;
    case kArchiveEdit:
        if (code == EN_KILLFOCUS)
            model_->guarded([this] { model_->archiveFieldLeft(); });
        break;
    case kDataEdit:
        if (code == EN_CHANGE && !settingText_ && !model_->firstActivation())
            model_->guarded([this] { model_->dataFolderChanged(); });
        break;
    default: break;
    }
}

// ---- MainWindowView ----

std::string MainWindow::archiveFileName() const { return ArchiveFileNameFromText(archiveField_->text()); }

void MainWindow::setArchiveFileName(const std::string &name)
{
    archiveField_->setText(name.find(' ') != std::string::npos ? '"' + name + '"' : name);
}

std::string MainWindow::dataFolderText() const { return dataField_->text(); }

void MainWindow::setDataFolderText(const std::string &folder)
{
    dataField_->setText(folder);
    // During the first activation the change is the activation's own.
    if (model_->firstActivation())
        model_->dataFolderChanged();
}

int MainWindow::currentRow() const { return grid_->currentRow(); }

void MainWindow::setCurrentRow(int row) { grid_->setCurrentRow(row); }

void MainWindow::setGridUpdatesEnabled(bool enabled) { grid_->setUpdatesEnabled(enabled); }

void MainWindow::focus(Control control)
{
    switch (control) {
    case Control::ArchiveField: SetFocus(archiveField_->edit()); break;
    case Control::DataFolderField: SetFocus(dataField_->edit()); break;
    case Control::Grid: SetFocus(grid_->hwnd()); break;
    }
}

void MainWindow::commandStateChanged(Command command) { bars_->setEnabled(command, model_->enabled(command)); }

void MainWindow::hintsSwitched()
{
    bars_->setHintsOn(model_->hintsOn());
    bars_->setHintsSwitchCaption(model_->hintsSwitchCaption());
}

void MainWindow::closeSoon() { PostMessageW(hwnd(), WM_CLOSE, 0, 0); }

void MainWindow::stopRunningOperation()
{
    if (StatusWindow *log = StatusWindow::Newest())
        log->model().pressStop();
}

std::string MainWindow::settingsFileName() const { return DefaultSettingsFileName(); }

}  // namespace qv::win
