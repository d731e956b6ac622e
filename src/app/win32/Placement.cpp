#include "app/win32/Placement.h"

#include "app/win32/Metrics.h"
#include "settings/inifile.h"
#include "settings/settingsfile.h"

#include <exception>

namespace qv::win {

StoredPlacement ToStored(const WINDOWPLACEMENT &placement, int *showCmd)
{
    StoredPlacement stored;
    stored.flags = (placement.flags & WPF_RESTORETOMAXIMIZED) ? kRestoreToMaximized : 0;
    const RECT &r = placement.rcNormalPosition;
    stored.normal = {r.left, r.top, r.right, r.bottom};
    if (showCmd) {
        switch (placement.showCmd) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE: *showCmd = kShowMinimized; break;
        case SW_SHOWMAXIMIZED: *showCmd = kShowMaximized; break;
        default: *showCmd = kShowNormal; break;
        }
    }
    return stored;
}

WINDOWPLACEMENT FromStored(const StoredPlacement &stored, int showCmd)
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    placement.flags = (stored.flags & kRestoreToMaximized) ? WPF_RESTORETOMAXIMIZED : 0;
    placement.showCmd = showCmd == kShowMaximized   ? SW_SHOWMAXIMIZED
                        : showCmd == kShowMinimized ? SW_SHOWMINIMIZED
                                                    : SW_SHOWNORMAL;
    placement.ptMinPosition = {-1, -1};
    placement.ptMaxPosition = {-1, -1};
    placement.rcNormalPosition = {stored.normal.left, stored.normal.top, stored.normal.right, stored.normal.bottom};
    return placement;
}

ScreenInfo ScreenOf(HWND hwnd)
{
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), WindowDpi(hwnd)};
}

std::string PlacementKeeper::file() const { return fileName.empty() ? DefaultSettingsFileName() : fileName; }

int PlacementKeeper::restore(HWND hwnd, const std::function<void(const IniFile &)> &more)
{
    saved_ = false;
    saveFailed_ = false;
    int show = SW_SHOWNORMAL;
    try {
        const IniFile ini(file());
        if (PlacementVersionFits(ini, section_, 0)) {
            WINDOWPLACEMENT current{};
            current.length = sizeof current;
            GetWindowPlacement(hwnd, &current);
            int currentShow = kShowNormal;
            const StoredPlacement now = ToStored(current, &currentShow);
            if (const auto stored = ReadPlacement(ini, section_, ScreenOf(hwnd), now.normal, now.flags)) {
                const int showCmd = withState_ ? ReadShowCommand(ini, section_) : kShowNormal;
                WINDOWPLACEMENT placement = FromStored(*stored, showCmd);
                // Set hidden: the window appears once, in its place.
                const UINT wanted = placement.showCmd;
                placement.showCmd = SW_HIDE;
                SetWindowPlacement(hwnd, &placement);
                show = static_cast<int>(wanted);
            } else if (withState_ && ReadShowCommand(ini, section_) == kShowMaximized) {
                show = SW_SHOWMAXIMIZED;
            }
            if (more)
                more(ini);
        }
        restored_ = true;
    } catch (const std::exception &e) {
        restored_ = true;
        if (errorReport)
            errorReport(e.what());
    }
    return show;
}

void PlacementKeeper::save(HWND hwnd, bool destroying, const std::function<void(IniFile &)> &more)
{
    if (!restored_ || (destroying && (saved_ || saveFailed_)))
        return;
    try {
        IniFile ini(file());
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(hwnd, &placement);
        int showCmd = kShowNormal;
        const StoredPlacement stored = ToStored(placement, &showCmd);
        WritePlacement(ini, section_, 0, stored, showCmd, ScreenOf(hwnd), destroying);
        if (more)
            more(ini);
        saved_ = true;
    } catch (const std::exception &e) {
        saveFailed_ = true;
        if (errorReport)
            errorReport(e.what());
    }
}

}  // namespace qv::win
