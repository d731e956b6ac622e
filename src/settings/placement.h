// A window's place as the settings file keeps it, in a section of its own:
//   FormVersion=0          the window's layout version; an older one is ignored
//   Flags=0                2: a minimised window comes back maximised
//   ShowCmd=1              1 normal, 2 minimised, 3 maximised (Windows' numbers)
//   PixelsPerInch=96       a place saved at another density is not restored
//   MinMaxPos=-1,-1,-1,-1  and NormPos=left,top,right,bottom, each also under
//   NormPos(1024x768)=...  a key of the screen's size, which wins when present
//   Visible=0              1 when saved as the window was destroyed
// Right and bottom lie just outside the rectangle. The keepers of the
// windows (Qt's on Linux, the native one on Windows) read and write these
// through the functions here and only move their window.
#pragma once

#include <optional>
#include <string>

namespace qv {

class IniFile;

// The show-command numbers of the file ("ShowCmd"), those of the Windows API.
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
// The placement flag ("Flags") telling that a minimised window comes back
// maximised, as the Windows API numbers it.
constexpr int kRestoreToMaximized = 0x2;
// The minimised and maximised positions written under "MinMaxPos" where the
// window system places minimised and maximised windows itself: the "no
// position of its own" value of the Windows API.
constexpr const char *kNoMinMaxPos = "-1,-1,-1,-1";

struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;  // just outside, as the platform counts it
    int bottom = 0;
};

// The screen a window is on, as the keys name it and the density it had.
struct ScreenInfo {
    int width = 0;
    int height = 0;
    int pixelsPerInch = 96;
};

// "NormPos(1024x768)".
std::string ScreenKey(const std::string &key, const ScreenInfo &screen);

struct StoredPlacement {
    int flags = 0;
    PlacementRect normal;
    std::string minMaxPos = kNoMinMaxPos;
};

// The normal place a section holds for a screen: nothing when none was saved
// there, when it was saved at another density, or when it is empty (left not
// before right). Words missing from NormPos come from `current`, a missing
// Flags from currentFlags.
std::optional<StoredPlacement> ReadPlacement(const IniFile &ini, const std::string &section, const ScreenInfo &screen,
                                             const PlacementRect &current, int currentFlags);
// The show command a section holds; 0 when none.
int ReadShowCommand(const IniFile &ini, const std::string &section);

// Writes FormVersion, Flags, ShowCmd, PixelsPerInch, MinMaxPos and NormPos
// (both with and without the screen's size) and Visible.
void WritePlacement(IniFile &ini, const std::string &section, int version, const StoredPlacement &placement,
                    int showCmd, const ScreenInfo &screen, bool destroying);

// Whether the section's layout version is that of the window or newer.
bool PlacementVersionFits(const IniFile &ini, const std::string &section, int version);

}  // namespace qv
