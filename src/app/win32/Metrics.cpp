#include "app/win32/Metrics.h"

namespace qv::win {

namespace {

using DpiForWindow = UINT(WINAPI *)(HWND);

DpiForWindow dpiForWindow()
{
    static const auto f =
        reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return f;
}

LOGFONTW messageLogFont(int dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    // The metrics are at the system's density; the window may be on another.
    font.lfHeight = MulDiv(font.lfHeight, dpi, SystemDpi());
    return font;
}

}  // namespace

int SystemDpi()
{
    const HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND hwnd)
{
    if (const DpiForWindow f = dpiForWindow(); f && hwnd)
        if (const UINT dpi = f(hwnd))
            return static_cast<int>(dpi);
    return SystemDpi();
}

HFONT MessageFont(int dpi)
{
    const LOGFONTW font = messageLogFont(dpi);
    return CreateFontIndirectW(&font);
}

HFONT BoldFont(int dpi)
{
    LOGFONTW font = messageLogFont(dpi);
    font.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&font);
}

HFONT FixedFont(int dpi)
{
    LOGFONTW font{};
    font.lfHeight = -MulDiv(9, dpi, 72);
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpyW(font.lfFaceName, L"Courier New");
    return CreateFontIndirectW(&font);
}

HICON AppIcon()
{
    static const HICON icon = [] {
        HICON own = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
        return own ? own : LoadIconW(nullptr, IDI_APPLICATION);
    }();
    return icon;
}

}  // namespace qv::win
