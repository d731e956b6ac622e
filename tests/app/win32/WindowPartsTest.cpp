// The parts of the windows that do more than show: the grid's keys and rows,
// and the log window's rule that a running operation keeps its window.
#include "app/win32/CompanyGrid.h"
#include "app/win32/StatusWindow.h"
#include "app/win32/WindowProgram.h"
#include "settings/settingsfile.h"

#include "CoreTest.h"

#include "NeedsDisplay.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

namespace qv::win {
namespace {

void pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (PreTranslate(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// A parent that passes the grid's notifications to it, as the main window does.
struct GridHost {
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NOTIFY && current) {
            LRESULT result = 0;
            if (current->notify(reinterpret_cast<NMHDR *>(lParam), &result))
                return result;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    static inline CompanyGrid *current = nullptr;
};

HWND gridParent()
{
    static const wchar_t *name = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        WNDCLASSW wc{};
        wc.lpfnWndProc = GridHost::proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"qvGridHost";
        RegisterClassW(&wc);
        return L"qvGridHost";
    }();
    return CreateWindowExW(0, name, L"grid", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

std::vector<CompanyRecord> companies()
{
    return {{"Biuro Rachunkowe", "FIRMA1", "NIP"}, {"Apteka pod Orlem", "APTEKA", "VAT-7"}, {"Kwiaciarnia", "ROZA", ""}};
}

std::wstring cell(HWND list, int row, int column)
{
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

TEST(CompanyGrid, ShowsTheListsRowsAndPassesTheMarkingKeysOnly)
{
    QV_NEEDS_DISPLAY();
    TCompanyList list;
    list.setRows(companies());
    const HWND parent = gridParent();
    CompanyGrid grid(parent, 1, list);
    GridHost::current = &grid;
    list.setRows(companies());  // a replaced list reaches the grid
    EXPECT_EQ(SendMessageW(grid.hwnd(), LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(cell(grid.hwnd(), 1, TCompanyList::colArchiwizuj), L"nie");
    EXPECT_EQ(cell(grid.hwnd(), 1, TCompanyList::colFirma), L"Apteka pod Orlem");
    EXPECT_EQ(cell(grid.hwnd(), 1, TCompanyList::colKatalog), L"APTEKA");
    list.setArchiwizuj(1, true);
    EXPECT_EQ(cell(grid.hwnd(), 1, TCompanyList::colArchiwizuj), L"Tak");

    grid.setCurrentRow(2);
    EXPECT_EQ(grid.currentRow(), 2);
    grid.setCurrentRow(7);  // no such row: the current one stays
    EXPECT_EQ(grid.currentRow(), 2);

    std::u32string keys;
    grid.onKey = [&](char32_t key) { keys += key; };
    for (wchar_t c : {L' ', L'\r', L'+', L'-', L'a', L'5'})
        SendMessageW(grid.hwnd(), WM_CHAR, c, 0);
    EXPECT_EQ(keys, U" \r+-");
    // Space marks; it does not also move or select anything.
    SendMessageW(grid.hwnd(), WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(grid.currentRow(), 2);

    GridHost::current = nullptr;
    DestroyWindow(parent);
}

// The log window keeps its place in a settings file of the test's own.
class StatusWindowTest : public ::testing::Test {
protected:
    void SetUp() override { SetDefaultSettingsFileName(dir_ / "qv.INI"); }
    void TearDown() override { SetDefaultSettingsFileName({}); }
    test::ScratchDir dir_;
};

TEST_F(StatusWindowTest, ARunningOperationKeepsItsWindowAndAFinishedOneClosesWithEscape)
{
    QV_NEEDS_DISPLAY();
    StatusWindow *window = StatusWindow::Open();
    EXPECT_EQ(StatusWindow::Newest(), window);
    const HWND hwnd = window->hwnd();
    LogWindow &log = window->model();
    log.setCaptionFromTemplate("test.cab");
    log.setStopVisible(true);
    log.showModeless();
    log.addLine("*** dodaję - czekaj ... ***");
    log.addLine("FIRMA1\\KSIEGA.DBF");
    window->model().flush();
    pump();

    wchar_t caption[128] = {};
    GetWindowTextW(hwnd, caption, 128);
    EXPECT_STREQ(caption, L"Zawartość archiwum test.cab");
    const HWND pane = FindWindowExW(hwnd, nullptr, L"EDIT", nullptr);
    ASSERT_TRUE(pane);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(pane)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(pane, text.data(), static_cast<int>(text.size()))));
    EXPECT_EQ(text, L"*** dodaję - czekaj ... ***\r\nFIRMA1\\KSIEGA.DBF");

    // While STOP shows, neither the close button nor Escape closes it.
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    PostMessageW(pane, WM_KEYDOWN, VK_ESCAPE, 0);
    pump();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(log.stopPressed());
    // STOP is pressed through the newest window, as closing the main window does.
    StatusWindow::Newest()->model().pressStop();
    EXPECT_TRUE(log.stopPressed());

    log.setStopVisible(false);
    log.setCloseEnabled(false);
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(hwnd));

    log.setCloseEnabled(true);
    PostMessageW(pane, WM_KEYDOWN, VK_ESCAPE, 0);
    pump();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(StatusWindow::Newest(), nullptr);
    EXPECT_NE(test::ReadBytes(dir_ / "qv.INI").find("[Okno_Statusu]"), std::string::npos);
}

TEST_F(StatusWindowTest, ANeverShownWindowIsReleasedAndLeavesNoPlace)
{
    QV_NEEDS_DISPLAY();
    StatusWindow *window = StatusWindow::Open();
    const HWND hwnd = window->hwnd();
    window->model().discard();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(StatusWindow::Newest(), nullptr);
    EXPECT_EQ(test::ReadBytes(dir_ / "qv.INI").rfind("<missing", 0), 0u);
}

}  // namespace
}  // namespace qv::win
