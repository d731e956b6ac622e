// The main window's menu and toolbar, both built from the shared command
// tables (WindowTexts.h), and the tool tips that show the hints while the
// hints are switched on.
#pragma once

#include "app/model/WindowTexts.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace qv::win {

// WM_COMMAND ids: the commands from kCommandBase in enum order, then the
// menu's two entries of their own.
constexpr int kCommandBase = 100;
constexpr int kHintsSwitchId = 200;
constexpr int kAboutId = 201;
inline int CommandId(Command c) { return kCommandBase + static_cast<int>(c); }
// The command of an id, or false.
bool CommandOfId(int id, Command *command);

class CommandBars {
public:
    explicit CommandBars(HWND window);
    ~CommandBars();
    CommandBars(const CommandBars &) = delete;
    CommandBars &operator=(const CommandBars &) = delete;

    HWND toolBar() const { return toolBar_; }
    HMENU menu() const { return menu_; }
    void setEnabled(Command command, bool enabled);
    void setHintsSwitchCaption(const std::string &caption);
    // Hints as tool tips over the toolbar's buttons and the given controls;
    // none while hints are off.
    void addHint(HWND control, const std::string &hint);
    void setHintsOn(bool on);
    // The toolbar's height after it has sized itself to the window.
    int layout();
    void applyDpi(int dpi);
    // WM_NOTIFY of the toolbar's tool tips; true when handled.
    bool notify(NMHDR *header);

private:
    HWND window_;
    HMENU menu_ = nullptr;
    HWND toolBar_ = nullptr;
    HWND tips_ = nullptr;
    HIMAGELIST images_ = nullptr;
    bool hintsOn_ = false;
    std::wstring tipText_;
};

}  // namespace qv::win
