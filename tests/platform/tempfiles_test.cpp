// Own temporary names and the sweep of what killed runs left behind.
#include "platform/files.h"
#include "platform/process.h"
#include "platform/tempfiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <string>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace qv;

namespace {

struct Dir {
    std::string path;
    Dir()
    {
        std::string t = TempDirectory() + "qvtemps.XXXXXX";
        path = ::mkdtemp(t.data());
    }
    ~Dir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string operator/(const std::string &r) const { return path + "/" + r; }
};

// The number of a process that has ended (and been reaped).
std::uint32_t endedProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<std::uint32_t>(child);
}

// A process that runs until the object goes.
struct RunningProcess {
    pid_t pid = ::fork();
    RunningProcess()
    {
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~RunningProcess()
    {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
};

std::string own(const std::string &lead, std::uint32_t pid) { return lead + ".qv" + std::to_string(pid) + "-00C0FFEE.tmp"; }

std::set<std::string> names(const std::string &folder)
{
    std::set<std::string> out;
    FileSearch s;
    SearchEntry e;
    if (s.First(folder + "/*", e)) {
        do {
            if (e.name != "." && e.name != "..")
                out.insert(e.name);
        } while (s.Next(e));
    }
    return out;
}

}  // namespace

TEST(OwnTempFiles, NamesCarryTheMakersNumberAndNothingElseIsTakenForOurs)
{
    const struct {
        const char *name;
        std::uint32_t maker;
    } cases[] = {
        {"stc.qv1234-0A1B2C3D.tmp", 1234},
        {"~archiwum.cab.qv77-FFFFFFFF.tmp", 77},
        {"~stc.qv4294967295-00000000.tmp", 4294967295u},
        {"~.qv5-00000000.tmp", 5},
        {"stc0A1B2C3D.tmp", 0},                  // the old form names no maker
        {"~archiwum.cab.0A1B2C3D.tmp", 0},       // nor this one
        {"notes.qv1234-0A1B2C3D.tmp", 0},        // a lead we never use
        {"xstc.qv1234-0A1B2C3D.tmp", 0},
        {"stc.qv1234-0a1b2c3d.tmp", 0},          // lower-case unique part: not our spelling
        {"stc.qv1234-0A1B2C3.tmp", 0},           // seven digits
        {"stc.qv1234-0A1B2C3D.TMP", 0},
        {"stc.qv1234-0A1B2C3D.tmp.bak", 0},
        {"stc.qv-0A1B2C3D.tmp", 0},              // no number
        {"stc.qv0-0A1B2C3D.tmp", 0},             // no process has number 0
        {"stc.qv4294967296-0A1B2C3D.tmp", 0},    // beyond 32 bits
        {"stc.qv12345678901-0A1B2C3D.tmp", 0},
        {"stc.qvx1-0A1B2C3D.tmp", 0},
        {".qv1-0A1B2C3D.tmp", 0},
        {"", 0},
        {".tmp", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OwnTempFileMaker(c.name), c.maker) << c.name;

    const std::string folder = TempDirectory();
    std::string path;
    const FileHandle h = CreateOwnTempFile(folder, "~ARCH.CAB", path);
    ASSERT_NE(h, InvalidFileHandle);
    FileClose(h);
    EXPECT_EQ(ExtractFilePath(path), folder);
    EXPECT_EQ(OwnTempFileMaker(ExtractFileName(path)), CurrentProcessId()) << path;
    EXPECT_EQ(ExtractFileName(path).rfind("~ARCH.CAB.qv", 0), 0u) << path;
    FileDelete(path);
}

TEST(OwnTempFiles, SweepRemovesOnlyLeftoversOfEndedProcesses)
{
    Dir d;
    const std::uint32_t ended = endedProcess();
    ASSERT_FALSE(ProcessIsAlive(ended));
    RunningProcess running;
    ASSERT_GT(running.pid, 0);
    const std::uint32_t self = CurrentProcessId();
    for (const std::string &name :
         {own("stc", ended), own("~A.CAB", ended), own("~stc", ended), own("stc", running.pid),
          own("~A.CAB", static_cast<std::uint32_t>(running.pid)), own("~A.CAB", self), own("notes", ended),
          std::string("stc0A1B2C3D.tmp"), std::string("A.CAB")})
        std::ofstream(d / name) << "x";
    // Named like ours, but a folder and a FIFO: never ours.
    ASSERT_EQ(::mkdir((d / own("~dir", ended)).c_str(), 0777), 0);
    ASSERT_EQ(::mkfifo((d / own("~fifo", ended)).c_str(), 0666), 0);
    // This process's own number on a file older than the process: a number
    // reused after a restart.
    const std::string reused = own("~OLD.CAB", self);
    std::ofstream(d / reused) << "x";
    const utimbuf longAgo{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
    ASSERT_EQ(::utime((d / reused).c_str(), &longAgo), 0);

    EXPECT_EQ(RemoveStaleTempFiles(d.path), 4);
    const std::set<std::string> expected = {own("stc", running.pid),
                                            own("~A.CAB", static_cast<std::uint32_t>(running.pid)),
                                            own("~A.CAB", self),
                                            own("notes", ended),
                                            "stc0A1B2C3D.tmp",
                                            "A.CAB",
                                            own("~dir", ended),
                                            own("~fifo", ended)};
    EXPECT_EQ(names(d.path), expected);
    EXPECT_EQ(RemoveStaleTempFiles(d / "missing"), 0);
    EXPECT_EQ(RemoveStaleTempFiles(""), 0);
}
