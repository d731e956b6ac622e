// The main window on Windows: menu, toolbar, the archive-file and data-folder
// fields with their browse buttons, the company grid. It shows
// MainWindowModel's state and passes the user's actions to it; its place,
// the fields' texts and the FTP values are kept in section "Main" of the
// settings file, under the keys the Qt window uses.
#pragma once

#include "app/model/MainWindowModel.h"
#include "app/win32/BrowseField.h"
#include "app/win32/CommandBars.h"
#include "app/win32/CompanyGrid.h"
#include "app/win32/Placement.h"
#include "app/win32/Window.h"
#include "settings/storedvalues.h"

#include <memory>

namespace qv::win {

class MainWindow : public Window<MainWindow>, private MainWindowView {
public:
    static constexpr const wchar_t *kClassName = L"qvArchiwizator.Form_ArchimumLDG";

    explicit MainWindow(Interaction &ui);
    ~MainWindow() override;

    // Shows the window at its stored place; its first activation loads the
    // list.
    void show();
    MainWindowModel &model() { return *model_; }

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

private:
    void createControls();
    void layout();
    void applyDpi(int dpi);
    void command(int id, int code);
    void restoreSettings(const IniFile &ini);
    void saveSettings(IniFile &ini);

    // MainWindowView
    std::string archiveFileName() const override;
    void setArchiveFileName(const std::string &name) override;
    std::string dataFolderText() const override;
    void setDataFolderText(const std::string &folder) override;
    int currentRow() const override;
    void setCurrentRow(int row) override;
    void setGridUpdatesEnabled(bool enabled) override;
    void focus(Control control) override;
    void commandStateChanged(Command command) override;
    void hintsSwitched() override;
    void closeSoon() override;
    void stopRunningOperation() override;
    const TStoredValues &storedValues() const override { return storedValues_; }
    std::string settingsFileName() const override;

    Interaction &ui_;
    std::unique_ptr<MainWindowModel> model_;
    std::unique_ptr<CommandBars> bars_;
    std::unique_ptr<BrowseField> archiveField_;
    std::unique_ptr<BrowseField> dataField_;
    std::unique_ptr<CompanyGrid> grid_;
    PlacementKeeper keeper_;
    TStoredValues storedValues_;
    HFONT font_ = nullptr;
    // The data folder's text is being set by the window itself, not edited.
    bool settingText_ = false;
    HWND lastFocus_ = nullptr;
};

}  // namespace qv::win
