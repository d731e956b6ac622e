// Window places go into the settings file as Windows reports them and come
// back through SetWindowPlacement, under the keys the Qt window uses.
#include "app/win32/Placement.h"

#include "settings/inifile.h"
#include "CoreTest.h"
#include "app/win32/Wide.h"

#include "NeedsDisplay.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qv::win {
namespace {

HWND plainWindow()
{
    static const wchar_t *name = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"qvPlacementTest";
        RegisterClassW(&wc);
        return L"qvPlacementTest";
    }();
    return CreateWindowExW(0, name, L"test", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

WINDOWPLACEMENT placementOf(HWND hwnd)
{
    WINDOWPLACEMENT p{};
    p.length = sizeof p;
    GetWindowPlacement(hwnd, &p);
    return p;
}

TEST(PlacementConversion, KeepsTheNormalRectangleStateAndFlag)
{
    WINDOWPLACEMENT p{};
    p.length = sizeof p;
    p.showCmd = SW_SHOWMINIMIZED;
    p.flags = WPF_RESTORETOMAXIMIZED;
    p.rcNormalPosition = {-20, 30, 600, 470};
    int show = 0;
    const StoredPlacement stored = ToStored(p, &show);
    EXPECT_EQ(show, kShowMinimized);
    EXPECT_EQ(stored.flags, kRestoreToMaximized);
    EXPECT_EQ(stored.normal.left, -20);
    EXPECT_EQ(stored.normal.bottom, 470);

    const WINDOWPLACEMENT back = FromStored(stored, show);
    EXPECT_EQ(back.showCmd, static_cast<UINT>(SW_SHOWMINIMIZED));
    EXPECT_EQ(back.flags, static_cast<UINT>(WPF_RESTORETOMAXIMIZED));
    EXPECT_TRUE(EqualRect(&back.rcNormalPosition, &p.rcNormalPosition));

    for (const auto &[windows, file] : {std::pair{SW_SHOWNORMAL, kShowNormal}, std::pair{SW_SHOWMAXIMIZED, kShowMaximized},
                                        std::pair{SW_SHOWMINNOACTIVE, kShowMinimized}, std::pair{SW_RESTORE, kShowNormal}}) {
        p.showCmd = static_cast<UINT>(windows);
        ToStored(p, &show);
        EXPECT_EQ(show, file) << "showCmd " << windows;
    }
}

TEST(PlacementKeeper, WritesWhatWindowsReportsAndPutsItBack)
{
    QV_NEEDS_DISPLAY();
    test::ScratchDir dir;
    const std::string ini = dir / "qv.INI";
    const HWND first = plainWindow();
    ASSERT_TRUE(first);
    PlacementKeeper keeper("Okno_Statusu", true);
    keeper.fileName = ini;
    keeper.restore(first);  // nothing stored yet: stays where it is
    WINDOWPLACEMENT moved = placementOf(first);
    moved.rcNormalPosition = {120, 80, 700, 420};
    moved.showCmd = SW_SHOWMAXIMIZED;
    SetWindowPlacement(first, &moved);
    keeper.save(first, false);
    DestroyWindow(first);

    const IniFile file(ini);
    EXPECT_EQ(file.ReadString("Okno_Statusu", "NormPos", ""), "120,80,700,420");
    EXPECT_EQ(file.ReadString("Okno_Statusu", "ShowCmd", ""), "3");
    EXPECT_EQ(file.ReadString("Okno_Statusu", "Visible", ""), "0");
    const ScreenInfo screen = ScreenOf(nullptr);
    EXPECT_EQ(file.ReadString("Okno_Statusu", ScreenKey("NormPos", screen), ""), "120,80,700,420");

    // The log window takes its state back; the main window only its place.
    const HWND second = plainWindow();
    PlacementKeeper withState("Okno_Statusu", true);
    withState.fileName = ini;
    EXPECT_EQ(withState.restore(second), SW_SHOWMAXIMIZED);
    const WINDOWPLACEMENT restored = placementOf(second);
    EXPECT_EQ(restored.rcNormalPosition.left, 120);
    EXPECT_EQ(restored.rcNormalPosition.top, 80);
    EXPECT_EQ(restored.rcNormalPosition.right, 700);
    EXPECT_EQ(restored.rcNormalPosition.bottom, 420);
    EXPECT_FALSE(IsWindowVisible(second));  // shown by its window, once, in place
    PlacementKeeper positionOnly("Okno_Statusu", false);
    positionOnly.fileName = ini;
    EXPECT_EQ(positionOnly.restore(second), SW_SHOWNORMAL);
    DestroyWindow(second);
}

TEST(PlacementKeeper, IgnoresAPlaceSavedAtAnotherDensity)
{
    QV_NEEDS_DISPLAY();
    test::ScratchDir dir;
    const std::string ini = dir / "qv.INI";
    const ScreenInfo screen = ScreenOf(nullptr);
    IniFile file(ini);
    file.WriteString("Main", "PixelsPerInch", std::to_string(screen.pixelsPerInch * 2));
    file.WriteString("Main", "NormPos", "50,60,550,500");
    const HWND hwnd = plainWindow();
    const RECT before = placementOf(hwnd).rcNormalPosition;
    PlacementKeeper keeper("Main", false);
    keeper.fileName = ini;
    keeper.restore(hwnd);
    const RECT after = placementOf(hwnd).rcNormalPosition;
    EXPECT_TRUE(EqualRect(&before, &after));
    DestroyWindow(hwnd);
}

TEST(PlacementKeeper, ReportsAnUnwritableFileOnceAndNotAgainAsTheWindowGoes)
{
    QV_NEEDS_DISPLAY();
    test::ScratchDir dir;
    // A folder where the file should be: it can be neither read as one nor written.
    const std::string ini = dir / "qv.INI";
    CreateDirectoryW(W(ini).c_str(), nullptr);
    const HWND hwnd = plainWindow();
    PlacementKeeper keeper("Main", false);
    keeper.fileName = ini;
    int reports = 0;
    keeper.errorReport = [&](const std::string &) { ++reports; };
    keeper.restore(hwnd);
    const int afterRestore = reports;
    keeper.save(hwnd, false);
    keeper.save(hwnd, true);
    EXPECT_EQ(reports - afterRestore, 1);
    DestroyWindow(hwnd);
}

}  // namespace
}  // namespace qv::win
