// Handing a file to the desktop, as opening it from the file manager would.
#pragma once

#include <string>

namespace qv {

// Opens the file with its associated program ("open" verb); false when the
// desktop refused.
bool ShellOpenFile(const std::string &path);

}  // namespace qv
