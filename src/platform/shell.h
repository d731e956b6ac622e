// Handing a file to the desktop, as opening it from the file manager would:
// Windows' "open" verb (ShellExecuteW, shell_windows.cpp); elsewhere the
// freedesktop.org opener, xdg-open (shell_posix.cpp).
#pragma once

#include <string>

namespace qv {

// Opens the file with its associated program; false when the desktop
// refused or has no opener. Does not wait for the program.
bool ShellOpenFile(const std::string &path);

}  // namespace qv
