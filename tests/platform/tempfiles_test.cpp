// Own temporary names and the sweep of what killed runs left behind.
#include "platform/files.h"
#include "platform/process.h"
#include "platform/tempfiles.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace qv;
using qv::test::RunningProcess;

namespace {

using Dir = qv::test::ScratchDir;

std::uint32_t endedProcess() { return qv::test::EndedProcessId(); }

std::string own(const std::string &lead, std::uint32_t pid) { return lead + ".qv" + std::to_string(pid) + "-00C0FFEE.tmp"; }

std::set<std::string> names(const std::string &folder)
{
    std::set<std::string> out;
    FileSearch s;
    SearchEntry e;
    if (s.First(folder + PathDelim + "*", e)) {
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
    ASSERT_GT(running.pid(), 0u);
    const std::uint32_t self = CurrentProcessId();
    for (const std::string &name :
         {own("stc", ended), own("~A.CAB", ended), own("~stc", ended), own("stc", running.pid()),
          own("~A.CAB", static_cast<std::uint32_t>(running.pid())), own("~A.CAB", self), own("notes", ended),
          std::string("stc0A1B2C3D.tmp"), std::string("A.CAB")})
        qv::test::WriteBytes(d / name, "x");
    // Named like ours, but a folder and (where there are such) a FIFO: never ours.
    ASSERT_TRUE(ForceDirectories(d / own("~dir", ended)));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((d / own("~fifo", ended)).c_str(), 0666), 0);
#endif
    // This process's own number on a file older than the process: a number
    // reused after a restart.
    const std::string reused = own("~OLD.CAB", self);
    qv::test::WriteBytes(d / reused, "x");
    const auto hourAgo = std::chrono::system_clock::now() - std::chrono::hours(1);
    qv::test::SetLastWriteTime(
        d / reused, FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(hourAgo.time_since_epoch()).count()));

    EXPECT_EQ(RemoveStaleTempFiles(d.path()), 4);
    std::set<std::string> expected = {own("stc", running.pid()),
                                            own("~A.CAB", static_cast<std::uint32_t>(running.pid())),
                                            own("~A.CAB", self),
                                            own("notes", ended),
                                            "stc0A1B2C3D.tmp",
                                            "A.CAB",
                                            own("~dir", ended)};
    if (!qv::test::kWindows)
        expected.insert(own("~fifo", ended));
    EXPECT_EQ(names(d.path()), expected);
    EXPECT_EQ(RemoveStaleTempFiles(d / "missing"), 0);
    EXPECT_EQ(RemoveStaleTempFiles(""), 0);
}
