// A window's place in the settings file, as Windows reports it: what
// GetWindowPlacement gives is written (workspace coordinates, the show
// command, the flag of a minimised window that comes back maximised) and
// given back through SetWindowPlacement before the window first shows. The
// keys and their rules are the settings library's (settings/placement.h),
// the same the Qt window writes.
#pragma once

#include "settings/placement.h"

#include <windows.h>

#include <functional>
#include <string>

namespace qv {
class IniFile;
}

namespace qv::win {

// The stored form of a placement, and the show command the file keeps.
StoredPlacement ToStored(const WINDOWPLACEMENT &placement, int *showCmd);
// A placement with the stored normal rectangle and flags, shown as showCmd
// says (minimised or maximised as stored; anything else normal).
WINDOWPLACEMENT FromStored(const StoredPlacement &stored, int showCmd);

// The screen a window is on, as the keys name it: the primary screen's size
// and the window's density.
ScreenInfo ScreenOf(HWND hwnd);

class PlacementKeeper {
public:
    // withState: the show command is restored too (the log window's); the
    // main window restores its position only.
    PlacementKeeper(std::string section, bool withState) : section_(std::move(section)), withState_(withState) {}

    // The settings file; empty: the program's default.
    std::string fileName;
    // Told the reason when the file cannot be read or written, once per
    // failing save.
    std::function<void(const std::string &)> errorReport;

    // Before the window first shows: moves it to its stored place and
    // returns the show command to use (SW_SHOWNORMAL when none is stored).
    int restore(HWND hwnd, const std::function<void(const IniFile &)> &more = {});
    // Writes the window's place; `more` adds what else the keeper keeps. A
    // save as the window is destroyed is skipped after one at its close.
    void save(HWND hwnd, bool destroying, const std::function<void(IniFile &)> &more = {});

private:
    std::string file() const;
    std::string section_;
    bool withState_;
    bool restored_ = false;
    bool saved_ = false;
    bool saveFailed_ = false;
};

}  // namespace qv::win
