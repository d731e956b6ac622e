#include "app/win32/CompanyGrid.h"

#include "app/win32/Metrics.h"
#include "app/win32/Wide.h"

namespace qv::win {

namespace {

// The colours of a marked row, as the Qt window draws it.
constexpr COLORREF kMarkedBackground = RGB(255, 255, 0);
constexpr COLORREF kMarkedText = RGB(0, 0, 0);
constexpr COLORREF kMarkedSelectedText = RGB(0, 0, 128);

}  // namespace

CompanyGrid::CompanyGrid(HWND parent, int id, TCompanyList &list) : list_(list)
{
    hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL |
                                LVS_SHOWSELALWAYS,
                            0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            GetModuleHandleW(nullptr), nullptr);
    ListView_SetExtendedListViewStyle(hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    for (int c = 0; c < TCompanyList::ColumnCount; ++c) {
        const std::wstring title = W(TCompanyList::columnTitle(c));
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        column.fmt = c == TCompanyList::colArchiwizuj ? LVCFMT_CENTER : LVCFMT_LEFT;
        column.pszText = const_cast<wchar_t *>(title.c_str());
        column.cx = 60;
        ListView_InsertColumn(hwnd_, c, &column);
    }
    SetWindowSubclass(hwnd_, &CompanyGrid::keys, 1, reinterpret_cast<DWORD_PTR>(this));
    list_.addObserver(this);
    applyDpi(WindowDpi(parent));
}

CompanyGrid::~CompanyGrid()
{
    list_.removeObserver(this);
    if (IsWindow(hwnd_))
        RemoveWindowSubclass(hwnd_, &CompanyGrid::keys, 1);
    if (font_)
        DeleteObject(font_);
    if (bold_)
        DeleteObject(bold_);
}

void CompanyGrid::applyDpi(int dpi)
{
    for (HFONT f : {font_, bold_})
        if (f)
            DeleteObject(f);
    font_ = MessageFont(dpi);
    bold_ = BoldFont(dpi);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    // The mark's and the name's columns as designed; the others as wide as
    // their fields (in the font's digits) or their titles.
    const HDC dc = GetDC(hwnd_);
    const HGDIOBJ old = SelectObject(dc, font_);
    SIZE digit{};
    GetTextExtentPoint32W(dc, L"0", 1, &digit);
    const auto byField = [&](int column) {
        const std::wstring title = W(TCompanyList::columnTitle(column));
        SIZE titleSize{};
        GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &titleSize);
        return std::max(static_cast<int>(digit.cx) * TCompanyList::displayWidth(column) + Scale(4, dpi),
                        static_cast<int>(titleSize.cx) + Scale(12, dpi));
    };
    // The marks' column as designed, or as wide as its title in this font.
    const std::wstring markTitle = W(TCompanyList::columnTitle(TCompanyList::colArchiwizuj));
    SIZE markSize{};
    GetTextExtentPoint32W(dc, markTitle.c_str(), static_cast<int>(markTitle.size()), &markSize);
    ListView_SetColumnWidth(hwnd_, TCompanyList::colArchiwizuj,
                            std::max(Scale(57, dpi), static_cast<int>(markSize.cx) + Scale(14, dpi)));
    ListView_SetColumnWidth(hwnd_, TCompanyList::colFirma, Scale(205, dpi));
    ListView_SetColumnWidth(hwnd_, TCompanyList::colKatalog, byField(TCompanyList::colKatalog));
    ListView_SetColumnWidth(hwnd_, TCompanyList::colInfo, byField(TCompanyList::colInfo));
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
}

int CompanyGrid::currentRow() const
{
    const int row = ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED);
    return row < list_.count() ? row : -1;
}

void CompanyGrid::setCurrentRow(int row)
{
    if (row < 0 || row >= list_.count())
        return;
    ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(hwnd_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(hwnd_, row, FALSE);
}

void CompanyGrid::setUpdatesEnabled(bool enabled)
{
    SendMessageW(hwnd_, WM_SETREDRAW, enabled, 0);
    if (enabled)
        InvalidateRect(hwnd_, nullptr, TRUE);
}

void CompanyGrid::listReplaced()
{
    ListView_SetItemCountEx(hwnd_, list_.count(), 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void CompanyGrid::marksChanged(int first, int last)
{
    ListView_RedrawItems(hwnd_, std::max(0, first), std::min(last, list_.count() - 1));
}

bool CompanyGrid::notify(NMHDR *header, LRESULT *result)
{
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW &item = reinterpret_cast<NMLVDISPINFOW *>(header)->item;
        if ((item.mask & LVIF_TEXT) && item.iItem >= 0 && item.iItem < list_.count() && item.cchTextMax > 0) {
            cell_ = W(list_.cellText(item.iItem, item.iSubItem));
            lstrcpynW(item.pszText, cell_.c_str(), item.cchTextMax);
        }
        *result = 0;
        return true;
    }
    case LVN_ODFINDITEMW:
        *result = -1;  // no incremental search: letters are not the grid's keys
        return true;
    case NM_DBLCLK:
        if (onDoubleClick && reinterpret_cast<NMITEMACTIVATE *>(header)->iItem >= 0)
            onDoubleClick();
        *result = 0;
        return true;
    case NM_CUSTOMDRAW: *result = customDraw(reinterpret_cast<NMLVCUSTOMDRAW *>(header)); return true;
    default: return false;
    }
}

LRESULT CompanyGrid::customDraw(NMLVCUSTOMDRAW *draw)
{
    const int row = static_cast<int>(draw->nmcd.dwItemSpec);
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        if (row >= 0 && row < list_.count() && list_.isMarked(row))
            draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        const bool marked = row >= 0 && row < list_.count() && list_.isMarked(row);
        const bool markColumn = draw->iSubItem == TCompanyList::colArchiwizuj;
        SelectObject(draw->nmcd.hdc, markColumn ? bold_ : font_);
        if (marked && !markColumn) {
            // A marked row stays yellow when current; its text turns navy.
            const bool selected = ListView_GetItemState(hwnd_, row, LVIS_SELECTED) & LVIS_SELECTED;
            draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
            draw->clrTextBk = kMarkedBackground;
            draw->clrText = selected ? kMarkedSelectedText : kMarkedText;
        } else if (!(draw->nmcd.uItemState & CDIS_SELECTED)) {
            draw->clrTextBk = GetSysColor(COLOR_WINDOW);
            draw->clrText = GetSysColor(COLOR_WINDOWTEXT);
        }
        return CDRF_NEWFONT;
    }
    default: return CDRF_DODEFAULT;
    }
}

LRESULT CALLBACK CompanyGrid::keys(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    auto *self = reinterpret_cast<CompanyGrid *>(data);
    if (message == WM_GETDLGCODE)
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    if (message == WM_CHAR && self->onKey &&
        (wParam == L' ' || wParam == L'\r' || wParam == L'+' || wParam == L'-')) {
        self->onKey(static_cast<char32_t>(wParam));
        return 0;
    }
    // Space would also select the row; the mark is all it does here.
    if (message == WM_KEYDOWN && wParam == VK_SPACE)
        return 0;
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace qv::win
