// Helpers of the core's tests that hold on every system: a scratch folder,
// whole-file reads and writes and a folder listing, all through the file
// layer (so names with Polish letters work on Windows, where the C library's
// narrow calls would take them in the ANSI code page).
#pragma once

#include "platform/files.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace qv::test {

// A fresh folder in the system's temporary folder, removed with everything in
// it (read-only entries too) when the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::string &lead = "qvtest");
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    // path() joined with rel by the platform's separator.
    std::string operator/(const std::string &rel) const { return path_ + PathDelim + rel; }

private:
    std::string path_;
};

// Writes data as the whole file, making missing folders; raises on failure.
void WriteBytes(const std::string &path, const std::string &data);
// The whole file, or "<missing PATH>" when it cannot be read.
std::string ReadBytes(const std::string &path);
// The lines of a text, each ended by "\n" (nothing else is taken off); a
// last line without its end counts too.
std::vector<std::string> SplitLines(const std::string &text);
// The lines of a text file as the program writes them on this system: each
// ended by "\r\n" on Windows (as Notepad reads it), by "\n" elsewhere. A line
// ended otherwise fails the running test.
std::vector<std::string> TextFileLines(const std::string &bytes);
// Every name below root, relative, "/" between parts, in byte order; links
// are listed, never followed.
std::vector<std::string> ListTree(const std::string &root);
// The names of the files (not folders) in a folder that match a mask, in
// byte order.
std::vector<std::string> FilesIn(const std::string &folder, const std::string &mask = "*");
// Removes a file or folder tree even where read-only attributes or
// permissions stand in the way.
void RemoveTree(const std::string &path);

// The text of the error f raises; "<no error>" when it raises none.
template <class F>
std::string ErrorOf(F f)
{
    try {
        f();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "<no error>";
}

// An open file handle, closed when the object goes.
struct OwnedHandle {
    FileHandle h;
    explicit OwnedHandle(FileHandle handle) : h(handle) {}
    ~OwnedHandle()
    {
        if (h != InvalidFileHandle)
            FileClose(h);
    }
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
};

// The number of a process that has ended (and been reaped, or its handle
// closed), so no process has it until the system reuses it.
std::uint32_t EndedProcessId();

// A process that runs until the object goes (a child that waits: paused on
// POSIX, created suspended on Windows).
class RunningProcess {
public:
    RunningProcess();
    ~RunningProcess();
    RunningProcess(const RunningProcess &) = delete;
    RunningProcess &operator=(const RunningProcess &) = delete;
    std::uint32_t pid() const { return pid_; }

private:
    std::uint32_t pid_ = 0;
    void *handle_ = nullptr;
};

// Makes link a symbolic link to target (a folder when folder is set). False
// where the system makes none: Windows asks a privilege for it, or developer
// mode, and Wine makes none at all.
bool MakeSymbolicLink(const std::string &target, const std::string &link, bool folder);

// Sets a file's last-write time; raises on failure.
void SetLastWriteTime(const std::string &path, FileTime utc);

#ifdef _WIN32
// Runs a command line through cmd with its error output joined to its output
// (line ends as "\n"); status receives the exit code.
std::string RunCaptured(const std::string &command, int &status);
// The full name of the running program.
std::string ThisProgramPath();
#endif

// Wine, which runs the Windows tests in the cross-build, departs from
// Windows where no program can change it: it reports every regular file with
// the archive bit, keeps read-only as the Unix write permission (which does
// not stop root) and on Linux has no creation time to keep. Tests expect
// those departures only where they happen, and say so when they skip.
bool UnderWine();
bool UnderWineAsRoot();
// The DOS attributes a regular file reads back with after it was given bits.
std::uint32_t AttributesAsRead(std::uint32_t bits);

// True on the system whose behaviour a test pins down.
constexpr bool kWindows =
#ifdef _WIN32
    true;
#else
    false;
#endif

}  // namespace qv::test
