// This process and others: enough to tell whether a leftover file's maker is
// still running.
#pragma once

#include <cstdint>

namespace qv {

std::uint32_t CurrentProcessId();

// True while a process with that number runs (also one we may not signal).
// A number that has been reused since counts as running: callers err on the
// side of leaving a file alone.
bool ProcessIsAlive(std::uint32_t pid);

}  // namespace qv
