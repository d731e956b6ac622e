// Windows need a display under Wine: without one (CTest's run, DISPLAY
// empty) these tests are skipped, and scripts/windows-window.sh runs them on
// its virtual display.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

namespace qv::win::windowtest {

inline bool WindowsCanBeMade()
{
    const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    if (!probe)
        return false;
    DestroyWindow(probe);
    return true;
}

}  // namespace qv::win::windowtest

#define QV_NEEDS_DISPLAY()                                                                        \
    do {                                                                                          \
        if (!::qv::win::windowtest::WindowsCanBeMade())                                                 \
            GTEST_SKIP() << "no display for windows (scripts/windows-window.sh runs these on one)"; \
    } while (0)
