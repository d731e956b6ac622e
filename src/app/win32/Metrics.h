// Sizes in the design's pixels (at 96 dots per inch) scaled to a window's
// density, the fonts, and the program's icon.
#pragma once

#include <windows.h>

namespace qv::win {

int SystemDpi();
// The window's density (per monitor from Windows 10 on), else the system's.
int WindowDpi(HWND hwnd);
inline int Scale(int designPixels, int dpi) { return MulDiv(designPixels, dpi, 96); }

// The system's message font, and a fixed-pitch one for the log pane, at a
// density. The caller deletes them.
HFONT MessageFont(int dpi);
HFONT FixedFont(int dpi);
// Bold message font, for the marks column.
HFONT BoldFont(int dpi);

// The program's icon (resource 1), or the system's default application icon.
HICON AppIcon();

}  // namespace qv::win
