// TSTCabWriter: what a caller needs to keep an archive safe. Special files
// are skipped and reported, a failed file is named with the system's reason
// (on Windows also a device name and a file another program holds), a
// finished set is shown to OnCabinetsComplete before anything is replaced,
// and the temporary files carry this process's number and go with the run.
#include "comp_helpers.h"

#include "cabinet/CabSTConsts.h"
#include "platform/process.h"
#include "platform/tempfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <sys/stat.h>
#endif

using namespace qv;
using namespace cabtest;

namespace {

struct SafetyFixture : ::testing::Test {
    TempDir dir;
    TSTCabWriter w;
    SafetyFixture() { w.SetCompressionType(cctMsZip); }

    std::string src(const std::string &name, std::size_t size, std::uint32_t seed = 1, bool text = true)
    {
        const std::string p = dir / ("src/" + name);
        writeFile(p, makeData(size, seed, text));
        return p;
    }
};

// Own temporary files of this process lying in a folder.
std::vector<std::string> ownTemporaries(const std::string &folder)
{
    std::vector<std::string> out;
    FileSearch s;
    SearchEntry e;
    if (s.First(JoinPath({folder, "*"}), e)) {
        do {
            if (OwnTempFileMaker(e.name) == CurrentProcessId())
                out.push_back(e.name);
        } while (s.Next(e));
    }
    return out;
}

}  // namespace

TEST_F(SafetyFixture, SpecialFilesInAFolderAreSkippedAndReported)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs a FIFO, which Windows does not have";
#else
    src("A.DBF", 3000);
    src("B.TXT", 10);
    ASSERT_EQ(::mkfifo((dir / "src/KOLEJKA").c_str(), 0666), 0);
    ASSERT_EQ(::symlink((dir / "src/KOLEJKA").c_str(), (dir / "src/LINK").c_str()), 0);
    std::vector<std::string> skipped;
    w.OnFileSkipped = [&](TSTCabWriter &, const std::string &name, TSTCabSkipReason reason) {
        EXPECT_EQ(reason, csrNotRegularFile);
        skipped.push_back(name);
    };
    w.Open(dir / "out/S.CAB");
    w.AddFiles(dir / "src/*.*", "FIRMA", false);
    w.Close(true);
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<std::string>{dir / "src/KOLEJKA", dir / "src/LINK"}));
    std::vector<std::string> stored;
    for (const RawEntry &e : parseCabinet(dir / "out/S.CAB").entries)
        stored.push_back(e.name);
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"FIRMA\\A.DBF", "FIRMA\\B.TXT"}));
#endif
}

TEST_F(SafetyFixture, AFileThatCannotBeAddedIsNamedWithTheSystemsReason)
{
    ASSERT_TRUE(ForceDirectories(dir / "src"));
    // One byte over what a cabinet folder holds, and no disk used: sparse.
    const std::string huge = dir / "src/HUGE.DBF";
    {
        const FileHandle h = FileOpen(huge, FileAccess::Write, FileShare::Read, FileDisposition::CreateNew);
        ASSERT_NE(h, InvalidFileHandle);
#ifdef _WIN32
        DWORD unused = 0;
        DeviceIoControl(reinterpret_cast<HANDLE>(h), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
#endif
        ASSERT_EQ(FileSeek(h, 0x7FFF8001, 0), 0x7FFF8001);
        ASSERT_TRUE(FileTruncateHere(h));
        FileClose(h);
    }
    struct Case {
        std::string what;
        std::string file;
        std::string nameInCab;
        int code;
        int systemCode;
    };
    std::vector<Case> cases = {
        {"missing", dir / "src/NIEMA", "NIEMA", cab::FCIERR_OPEN_SRC, kErrNoFile},
        {"over the format's size limit", huge, "HUGE.DBF", cab::FCIERR_OPEN_SRC, osErrorFileTooLarge},
        {"a name too long for a cabinet", src("ok", 5), std::string(256, 'N'), cab::FCIERR_CAB_FORMAT_LIMIT, 0},
    };
#ifdef _WIN32
    // A device name opens the device in any folder; the ledger program holds
    // its files open without sharing while it writes them.
    cases.push_back({"a device, given by name", dir / "src/NUL", "NUL", cab::FCIERR_OPEN_SRC, osErrorNotRegularFile});
    const std::string held = src("HELD.DBF", 50);
    const FileHandle holder = FileOpen(held, FileAccess::ReadWrite, FileShare::None, FileDisposition::OpenExisting);
    ASSERT_NE(holder, InvalidFileHandle);
    cases.push_back({"held by another program", held, "HELD.DBF", cab::FCIERR_OPEN_SRC, ERROR_SHARING_VIOLATION});
#else
    ASSERT_EQ(::mkfifo((dir / "src/KOLEJKA").c_str(), 0666), 0);
    cases.push_back({"a FIFO, given by name", dir / "src/KOLEJKA", "KOLEJKA", cab::FCIERR_OPEN_SRC,
                     osErrorNotRegularFile});
#endif
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "out/K.CAB", "keep me");
        w.Open(dir / "out/K.CAB");
        w.AddFile(src("first", 100), "FIRST");
        try {
            w.AddFile(c.file, c.nameInCab);
            FAIL() << "no error";
        } catch (const ESTCabinet &e) {
            EXPECT_EQ(e.FileName(), c.file);
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(e.SystemErrorCode(), c.systemCode);
        }
        w.Close(false);
        EXPECT_EQ(readFile(dir / "out/K.CAB"), "keep me");
    }
#ifdef _WIN32
    FileClose(holder);
#endif
    // A stop is no file's fault.
    w.OnFileStatus = [](TSTCabWriter &, std::uint32_t, std::uint32_t, bool &a) { a = true; };
    w.Open(dir / "out/K.CAB");
    try {
        w.AddFile(src("big", 100000, 2), "BIG");
        FAIL() << "no error";
    } catch (const ESTCabinet &e) {
        EXPECT_EQ(e.ErrorCode(), cab::FCIERR_USER_ABORT);
        EXPECT_EQ(e.FileName(), "");
    }
    w.Close(false);
}

TEST_F(SafetyFixture, AFinishedSetIsShownWholeBeforeItReplacesAnything)
{
    w.SetCompressionType(cctNone);
    w.CabinetSizeThreshold = 50000;
    for (const char *old : {"out/SP.CAB", "out/SP1.CAB", "out/SP2.CAB"})
        writeFile(dir / old, std::string("stary ") + old);
    const std::string big = src("big", 120000, 5, false);
    const std::string small = src("small", 300, 6);

    std::vector<TSTCabCompletedCabinet> shown;
    std::vector<std::string> targetsDuring;
    w.OnCabinetsComplete = [&](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &set, bool &) {
        shown = set;
        for (const TSTCabCompletedCabinet &c : set) {
            targetsDuring.push_back(readFile(c.FileName));
            const RawCabinet raw = parseCabinet(c.TempFileName);  // complete: its header holds its length
            EXPECT_EQ(raw.cbCabinet, readFile(c.TempFileName).size());
            EXPECT_EQ(ExtractFilePath(c.TempFileName), ExtractFilePath(c.FileName));
            EXPECT_EQ(OwnTempFileMaker(ExtractFileName(c.TempFileName)), CurrentProcessId()) << c.TempFileName;
        }
    };
    w.Open(dir / "out/SP.CAB");
    w.AddFile(big, "BIG");
    w.AddFile(small, "SMALL");
    w.Close(true);

    ASSERT_GE(shown.size(), 3u);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const std::string expectedName = i == 0 ? "SP.CAB" : "SP" + std::to_string(i) + ".CAB";
        EXPECT_EQ(shown[i].FileName, native(dir / ("out/" + expectedName)));
        EXPECT_EQ(parseCabinet(shown[i].FileName).iCabinet, i) << "in place after the event";
    }
    EXPECT_EQ(targetsDuring[0], "stary out/SP.CAB") << "nothing is replaced before the event returns";
    EXPECT_EQ(targetsDuring[1], "stary out/SP1.CAB");
    EXPECT_TRUE(ownTemporaries(dir / "out").empty());
    EXPECT_EQ(TSTCabReader().TestCabinet(dir / "out/SP.CAB").Files, 2u);
}

TEST_F(SafetyFixture, ARefusedSetLeavesEveryOldCabinet)
{
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "exception" : "anAbort");
        TempDir out;
        for (const char *old : {"SP.CAB", "SP1.CAB"})
            writeFile(out / old, std::string("stary ") + old);
        TSTCabWriter wr;
        wr.SetCompressionType(cctNone);
        wr.CabinetSizeThreshold = 50000;
        int calls = 0;
        wr.OnCabinetsComplete = [&](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &, bool &a) {
            ++calls;
            if (throws)
                throw std::runtime_error("nie przeszło sprawdzenia");
            a = true;
        };
        wr.Open(out / "SP.CAB");
        wr.AddFile(src("big", 120000, 5, false), "BIG");
        try {
            wr.Close(true);
            FAIL() << "no error";
        } catch (const ESTCabinet &e) {
            EXPECT_FALSE(throws);
            EXPECT_STREQ(e.what(), "Client requested abort [0x0007]");
        } catch (const std::runtime_error &e) {
            EXPECT_TRUE(throws);
            EXPECT_STREQ(e.what(), "nie przeszło sprawdzenia");
        }
        EXPECT_EQ(calls, 1);
        wr.Close(false);
        EXPECT_EQ(listTree(out.path()), (std::vector<std::string>{"SP.CAB", "SP1.CAB"}));
        EXPECT_EQ(readFile(out / "SP.CAB"), "stary SP.CAB");
        EXPECT_EQ(readFile(out / "SP1.CAB"), "stary SP1.CAB");
    }
}

TEST_F(SafetyFixture, WorkFilesCarryThisProcesssNumberAndGoWithTheRun)
{
    const std::string folder = TempDirectory();
    std::vector<std::string> during;
    w.OnFileStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, bool &) {
        if (during.empty())
            during = ownTemporaries(folder);
    };
    w.Open(dir / "out/W.CAB");
    w.AddFile(src("a", 100000, 3), "A");
    w.Close(true);
    ASSERT_FALSE(during.empty()) << "the library's work files are ours by name";
    for (const std::string &name : during)
        EXPECT_EQ(name.rfind("stc.qv", 0), 0u) << name;
    for (const std::string &name : ownTemporaries(folder))
        EXPECT_EQ(std::find(during.begin(), during.end(), name), during.end()) << "left behind: " << name;
}
