// The program's own temporary files, and the removal of those a killed run
// left behind.
//
// Every temporary file the program makes (the cabinet library's work files
// in the system's temporary folder, a cabinet or an extracted file being
// written beside its target, the settings file being rewritten) is named
// LEAD.qvPID-XXXXXXXX.tmp: LEAD is "stc" for the library's work files and "~"
// followed by the target's name otherwise, PID the number of the process that
// made it. A run that is killed cannot remove its files; the number lets a
// later run tell a leftover of a process that has ended from a file that a
// running one still writes, so only the leftovers are removed.
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <string>

namespace qv {

// Creates a new empty own temporary file in folder, opened for reading and
// writing; path receives its full name. lead is "stc" or begins with "~".
FileHandle CreateOwnTempFile(const std::string &folder, const std::string &lead, std::string &path);

// The number of the process that made an own temporary file, from its name
// (without folder); 0 for any name that is not one of ours.
std::uint32_t OwnTempFileMaker(const std::string &name);

// Removes the own temporary files lying directly in folder whose maker no
// longer runs. Files of running processes and every other name stay; a file
// that cannot be removed is skipped. Returns how many were removed.
int RemoveStaleTempFiles(const std::string &folder);

}  // namespace qv
