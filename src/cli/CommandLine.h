// The command line: qvarchiwizator started with arguments archives, lists,
// tests or restores without any window and without a display, for cron and
// the Task Scheduler. Its output is the log window's lines on standard output
// and the message boxes' texts on standard error; its exit status is 0 when
// the operation succeeded, 1 when it failed (a declined question included),
// 2 for a usage error.
#pragma once

#include <string>
#include <vector>

namespace qv {

// Runs one command as the arguments (without the program's name, UTF-8) say
// and returns the exit status. No window system is touched.
int RunCommandLine(const std::vector<std::string> &args);

}  // namespace qv
