#include "app/win32/BrowseField.h"

#include "app/win32/Metrics.h"
#include "app/win32/Wide.h"

namespace qv::win {

BrowseField::BrowseField(HWND parent, const std::string &label, int editId, int buttonId)
{
    const HINSTANCE inst = GetModuleHandleW(nullptr);
    label_ = CreateWindowExW(0, L"STATIC", W(label).c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent, nullptr,
                             inst, nullptr);
    edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0,
                            0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(editId)), inst, nullptr);
    button_ = CreateWindowExW(0, L"BUTTON", L"...", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(buttonId)), inst, nullptr);
}

std::string BrowseField::text() const { return WindowText(edit_); }

void BrowseField::setText(const std::string &text) { SetWindowTextW(edit_, W(text).c_str()); }

void BrowseField::setFont(HFONT font)
{
    for (HWND w : {label_, edit_, button_})
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void BrowseField::place(int x, int y, int width, int dpi)
{
    const int height = Scale(21, dpi);
    MoveWindow(label_, Scale(x, dpi), Scale(y, dpi), Scale(width, dpi), Scale(14, dpi), TRUE);
    MoveWindow(edit_, Scale(x, dpi), Scale(y + 15, dpi), Scale(width, dpi) - height, height, TRUE);
    MoveWindow(button_, Scale(x, dpi) + Scale(width, dpi) - height, Scale(y + 15, dpi), height, height, TRUE);
}

}  // namespace qv::win
