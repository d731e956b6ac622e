// A labelled edit field with a browse button ("...") at its right: the
// archive-file field and the data-folder field of the main window.
#pragma once

#include <windows.h>

#include <string>

namespace qv::win {

class BrowseField {
public:
    // editId and buttonId are the controls' ids in WM_COMMAND.
    BrowseField(HWND parent, const std::string &label, int editId, int buttonId);

    HWND edit() const { return edit_; }
    HWND button() const { return button_; }
    std::string text() const;
    void setText(const std::string &text);
    void setFont(HFONT font);
    // The label above, the field and its button below it, at x, y (the
    // label's top), width wide; design pixels scaled to dpi.
    void place(int x, int y, int width, int dpi);

private:
    HWND label_ = nullptr;
    HWND edit_ = nullptr;
    HWND button_ = nullptr;
};

}  // namespace qv::win
