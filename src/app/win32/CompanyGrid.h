// The company grid: a report-style list view over the company list, which it
// follows as an observer (a virtual list: rows are asked for as they are
// drawn). Marked rows are yellow; Space, Enter, "+" and "-" (the keypad's
// too) and a double click go to the window's handlers.
#pragma once

#include "register/CompanyList.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

namespace qv::win {

class CompanyGrid : private TCompanyList::Observer {
public:
    CompanyGrid(HWND parent, int id, TCompanyList &list);
    ~CompanyGrid() override;
    CompanyGrid(const CompanyGrid &) = delete;
    CompanyGrid &operator=(const CompanyGrid &) = delete;

    HWND hwnd() const { return hwnd_; }
    int currentRow() const;
    // Makes the row current and shows it; the grid scrolls to it.
    void setCurrentRow(int row);
    void setUpdatesEnabled(bool enabled);
    // The columns' widths and the fonts for a density.
    void applyDpi(int dpi);
    // WM_NOTIFY from the list view; true when handled, with *result.
    bool notify(NMHDR *header, LRESULT *result);

    std::function<void(char32_t)> onKey;
    std::function<void()> onDoubleClick;

private:
    void listReplaced() override;
    void marksChanged(int first, int last) override;
    LRESULT customDraw(NMLVCUSTOMDRAW *draw);
    static LRESULT CALLBACK keys(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self);

    HWND hwnd_ = nullptr;
    TCompanyList &list_;
    HFONT font_ = nullptr;
    HFONT bold_ = nullptr;
    std::wstring cell_;
};

}  // namespace qv::win
