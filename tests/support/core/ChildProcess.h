// Another program run by a test, as a scheduler or a shell runs it: UTF-8
// arguments, an environment of its own, a working folder, standard output
// and error caught apart, read while it runs, a time limit, and the stop
// requests a user or the system sends (Ctrl+C, SIGTERM).
//
// POSIX: fork and exec with pipes read without blocking. Windows:
// CreateProcessW with the command line quoted as the C runtime splits it, the
// child in a process group of its own so that Ctrl+Break can reach it alone.
#pragma once

#include "CoreTest.h"

#include "platform/files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv::test {

// An environment for a child: a copy of this process's, then changed. Names
// compare as the system compares them (letter case aside on Windows).
class Environment {
public:
    Environment();  // this process's own
    void set(const std::string &name, const std::string &value);
    void remove(const std::string &name);
    std::optional<std::string> get(const std::string &name) const;
    // "NAME=value" for each variable.
    std::vector<std::string> entries() const;

private:
    static bool sameName(const std::string &a, const std::string &b);
    std::vector<std::pair<std::string, std::string>> vars_;
};

struct ChildOptions {
    std::string workingFolder;  // empty: ours
    Environment environment;
    // Standard input: unset, a stream that is at its end at once; else this
    // handle (a file, a pipe's end), which stays the caller's to close.
    std::optional<FileHandle> input;
    // Standard output and error: unset, caught; else this handle (our own
    // standard error, a file, a pipe's end), the caller's to close.
    std::optional<FileHandle> output;
    std::optional<FileHandle> errors;
};

// This process's standard error, to hand to a child (ChildOptions::errors)
// whose complaints should reach the test's log unread.
FileHandle OwnStandardError();

// A pipe: first its reading end, then its writing end; both the caller's to
// close (FileClose). Raises when the system makes none.
std::pair<FileHandle, FileHandle> MakePipe();

class ChildProcess {
public:
    // Starts program (a path, or a name looked up in the PATH of the child's
    // environment) with args (without the program's name). startError() says
    // why when it could not start.
    ChildProcess(const std::string &program, const std::vector<std::string> &args, const ChildOptions &options = {});
    // A child still running is killed and waited for.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool started() const { return startError_.empty(); }
    const std::string &startError() const { return startError_; }
    // The system's number of the child; 0 when it did not start.
    std::uint32_t pid() const { return pid_; }

    // Waits for the end up to timeoutMs, reading its output meanwhile. When
    // the limit passes, the child is killed and timedOut() is set. True when
    // it ended by itself.
    bool wait(int timeoutMs = 120000);
    // Reads standard output until text has come (true), the child ended
    // without it, or timeoutMs passed (false).
    bool waitForOutput(const std::string &text, int timeoutMs = 30000);
    // Reads what has come so far, waiting at most waitMs for something.
    void readAvailable(int waitMs = 0);
    // True until the child has ended (it is reaped then).
    bool running();

    // Everything read so far.
    const std::string &output() const { return out_; }
    const std::string &errorOutput() const { return err_; }

    // Ctrl+C as a keyboard sends it: SIGINT (POSIX); on Windows Ctrl+Break to
    // the child's process group (Ctrl+C cannot reach a group of its own).
    // False when it could not be sent (the child has ended, or the system
    // delivers no such event), with the reason in stopError().
    bool interrupt();
    // Not empty where this system cannot interrupt one child alone: why (a
    // test that needs it is skipped with it).
    static std::string InterruptUnavailable();
    // The system's request to end: SIGTERM. Windows sends a console program
    // no such request; false there.
    bool terminate();
    const std::string &stopError() const { return stopError_; }
    void kill();

    // After wait(): the exit status, whether it ended abnormally (a signal on
    // POSIX, an exception status on Windows, or killed at the time limit),
    // and whether the limit was reached.
    int exitCode() const { return exitCode_; }
    bool crashed() const { return crashed_; }
    bool timedOut() const { return timedOut_; }

private:
    void reap(bool block);
    void closePipes();

    std::string startError_;
    std::string stopError_;
    std::uint32_t pid_ = 0;
    bool ended_ = false;
    int exitCode_ = -1;
    bool crashed_ = false;
    bool timedOut_ = false;
    bool killed_ = false;
    std::string out_;
    std::string err_;
    // Our ends of the caught streams; InvalidFileHandle when not caught or at
    // their end.
    FileHandle outPipe_ = InvalidFileHandle;
    FileHandle errPipe_ = InvalidFileHandle;
    void *process_ = nullptr;  // Windows: the process handle
};

// A whole run: start, wait up to timeoutMs, everything it wrote.
struct RunResult {
    bool started = false;
    std::string startError;
    int status = -1;
    bool crashed = false;
    bool timedOut = false;
    std::string out;
    std::string err;
    std::vector<std::string> outLines() const { return SplitLines(out); }
    std::vector<std::string> errLines() const { return SplitLines(err); }
};
RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                     const ChildOptions &options = {}, int timeoutMs = 120000);

// The program file's name for this system: "name" + ".exe" on Windows.
std::string ExecutableName(const std::string &name);

}  // namespace qv::test
