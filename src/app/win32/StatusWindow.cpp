#include "app/win32/StatusWindow.h"

#include "app/model/WindowTexts.h"
#include "app/win32/Glyphs.h"
#include "app/win32/Metrics.h"
#include "app/win32/Wide.h"
#include "settings/keepers.h"

#include <commctrl.h>

namespace qv::win {

namespace {

constexpr int kCloseId = 1;
constexpr int kStopId = 2;
constexpr UINT_PTR kFlushTimer = 1;
// The right-hand panel and its buttons, in design pixels.
constexpr int kPanelWidth = 89;

StatusWindow *gNewest = nullptr;

}  // namespace

std::function<void(const std::string &)> StatusWindow::errorReport;

StatusWindow *StatusWindow::Open()
{
    auto *window = new StatusWindow();
    gNewest = window;
    return window;
}

StatusWindow *StatusWindow::Newest() { return gNewest; }

StatusWindow::StatusWindow() : model_(*this), keeper_(kLogSection, true)
{
    registerClass(kClassName, AppIcon());
    keeper_.errorReport = [](const std::string &message) {
        if (errorReport)
            errorReport(message);
    };
    const int dpi = SystemDpi();
    create(kClassName, W(model_.caption()).c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
           Scale(kLogDesignLeft, dpi), Scale(kLogDesignTop, dpi), Scale(kLogMinWidth, dpi), Scale(kLogMinHeight, dpi));
}

StatusWindow::~StatusWindow()
{
    if (gNewest == this)
        gNewest = nullptr;
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(paneFont_), static_cast<HGDIOBJ>(uiFont_), static_cast<HGDIOBJ>(stopGlyph_)})
        if (o)
            DeleteObject(o);
}

void StatusWindow::destroyed() { delete this; }

LRESULT StatusWindow::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        const HINSTANCE inst = GetModuleHandleW(nullptr);
        const int dpi = WindowDpi(hwnd());
        uiFont_ = MessageFont(dpi);
        paneFont_ = FixedFont(dpi);
        pane_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                                    ES_AUTOHSCROLL | ES_NOHIDESEL,
                                0, 0, 0, 0, hwnd(), nullptr, inst, nullptr);
        SendMessageW(pane_, EM_SETLIMITTEXT, 0, 0);
        SendMessageW(pane_, WM_SETFONT, reinterpret_cast<WPARAM>(paneFont_), FALSE);
        progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 0, 0, hwnd(), nullptr, inst, nullptr);
        SendMessageW(progress_, PBM_SETRANGE32, 0, LogWindowModel::kProgressMax);
        close_ = CreateWindowExW(0, L"BUTTON", W(text::kLogClose).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                 0, 0, 0, 0, hwnd(), reinterpret_cast<HMENU>(kCloseId), inst, nullptr);
        SendMessageW(close_, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_), FALSE);
        stop_ = CreateWindowExW(0, L"BUTTON", L"STOP", WS_CHILD | WS_TABSTOP | BS_BITMAP, 0, 0, 0, 0, hwnd(),
                                reinterpret_cast<HMENU>(kStopId), inst, nullptr);
        stopGlyph_ = GlyphBitmap("stop", GetSysColor(COLOR_BTNFACE), dpi >= 192 ? 2 : 1);
        SendMessageW(stop_, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(stopGlyph_));
        return 0;
    }
    case WM_SIZE: layout(); return 0;
    case WM_GETMINMAXINFO: {
        auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
        const int dpi = WindowDpi(hwnd());
        info->ptMinTrackSize = {Scale(kLogMinWidth, dpi), Scale(kLogMinHeight, dpi)};
        return 0;
    }
    case WM_DPICHANGED: {
        const RECT *r = reinterpret_cast<const RECT *>(lParam);
        SetWindowPos(hwnd(), nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kCloseId && HIWORD(wParam) == BN_CLICKED)
            tryClose();
        else if (LOWORD(wParam) == kStopId && HIWORD(wParam) == BN_CLICKED)
            model_.pressStop();
        return 0;
    case WM_TIMER:
        if (wParam == kFlushTimer)
            model_.flush();
        return 0;
    case WM_CLOSE: tryClose(); return 0;
    case WM_DESTROY:
        KillTimer(hwnd(), kFlushTimer);
        if (shown_)
            keeper_.save(hwnd(), true);
        return 0;
    default: return defaultProc(message, wParam, lParam);
    }
}

void StatusWindow::layout()
{
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int dpi = WindowDpi(hwnd());
    const int margin = Scale(3, dpi);
    const int panel = Scale(kPanelWidth, dpi);
    const int barHeight = model_.progressVisible() ? Scale(16, dpi) : 0;
    const int paneWidth = std::max(0, static_cast<int>(client.right) - panel - 2 * margin);
    const int paneHeight =
        std::max(0, static_cast<int>(client.bottom) - 2 * margin - (barHeight ? barHeight + margin : 0));
    MoveWindow(pane_, margin, margin, paneWidth, paneHeight, TRUE);
    MoveWindow(progress_, margin, margin + paneHeight + margin, paneWidth, barHeight, TRUE);
    const int x = client.right - panel + Scale(8, dpi);
    MoveWindow(close_, x, Scale(8, dpi), Scale(73, dpi), Scale(25, dpi), TRUE);
    MoveWindow(stop_, x, Scale(144, dpi), Scale(73, dpi), Scale(49, dpi), TRUE);
}

void StatusWindow::escape() { tryClose(); }

void StatusWindow::tryClose()
{
    if (!model_.mayClose())
        return;
    keeper_.save(hwnd(), false);
    DestroyWindow(hwnd());
}

void StatusWindow::captionChanged() { SetWindowTextW(hwnd(), W(model_.caption()).c_str()); }

void StatusWindow::appendLines(const std::vector<std::string> &lines)
{
    std::string text;
    const bool empty = GetWindowTextLengthW(pane_) == 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!empty || i > 0)
            text += "\r\n";
        text += lines[i];
    }
    const std::wstring wide = W(text);
    const int end = GetWindowTextLengthW(pane_);
    SendMessageW(pane_, EM_SETSEL, end, end);
    SendMessageW(pane_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}

void StatusWindow::linesCleared() { SetWindowTextW(pane_, L""); }

void StatusWindow::buttonsChanged()
{
    ShowWindow(stop_, model_.stopVisible() ? SW_SHOW : SW_HIDE);
    EnableWindow(stop_, model_.stopEnabled());
    EnableWindow(close_, model_.closeEnabled());
}

void StatusWindow::progressChanged()
{
    ShowWindow(progress_, model_.progressVisible() ? SW_SHOW : SW_HIDE);
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(model_.progressValue()), 0);
    layout();
}

void StatusWindow::showWindow()
{
    if (!shown_) {
        shown_ = true;
        const int show = keeper_.restore(hwnd());
        ShowWindow(hwnd(), show == SW_SHOWMINIMIZED ? SW_SHOWMINIMIZED : show);
    } else if (IsIconic(hwnd())) {
        ShowWindow(hwnd(), SW_RESTORE);
    }
    SetForegroundWindow(hwnd());
    SetFocus(pane_);
}

void StatusWindow::paintPane() { UpdateWindow(pane_); }

void StatusWindow::startFlushTimer(int ms) { SetTimer(hwnd(), kFlushTimer, static_cast<UINT>(ms), nullptr); }

void StatusWindow::stopFlushTimer() { KillTimer(hwnd(), kFlushTimer); }

void StatusWindow::release() { DestroyWindow(hwnd()); }

}  // namespace qv::win
