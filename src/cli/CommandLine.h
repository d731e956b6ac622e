// The command line: qvarchiwizator started with arguments archives, lists,
// tests or restores without any window and without a display, for cron and
// the Task Scheduler. Its output is the log window's lines on standard output
// and the message boxes' texts on standard error; its exit status is 0 when
// the operation succeeded, 1 when it failed (a declined question included),
// 2 for a usage error.
#pragma once

namespace qv {

// Runs one command as the arguments say and returns the exit status. Creates
// the QCoreApplication itself; no QApplication and no widget ever exists.
int RunCommandLine(int argc, char **argv);

}  // namespace qv
