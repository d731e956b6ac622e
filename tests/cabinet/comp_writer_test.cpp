// TSTCabWriter: properties, thresholds, templates, events and the
// replace-only-when-complete rule.
#include "comp_helpers.h"

#include "cabinet/CabSTConsts.h"

#include <algorithm>

using namespace qv;
using namespace cabtest;

namespace {

// Writer with MSZIP: these tests are about layout, names and events, not the method.
struct WriterFixture : ::testing::Test {
    TempDir dir;
    TSTCabWriter w;
    WriterFixture() { w.SetCompressionType(cctMsZip); }

    std::string src(const std::string &name, std::size_t size, std::uint32_t seed = 1, bool text = true)
    {
        const std::string p = dir / ("src/" + name);
        writeFile(p, makeData(size, seed, text));
        return p;
    }
    // Every name in the folder except the ones given.
    std::vector<std::string> strayFiles(const std::string &folder, std::vector<std::string> expected)
    {
        std::vector<std::string> out;
        for (const std::string &n : listTree(folder))
            if (std::find(expected.begin(), expected.end(), n) == expected.end())
                out.push_back(n);
        return out;
    }
};

std::vector<std::string> names(const RawCabinet &c)
{
    std::vector<std::string> out;
    for (const RawEntry &e : c.entries)
        out.push_back(e.name);
    return out;
}

}  // namespace

TEST(CabWriterCompression, CodeFollowsTypeAndLevel)
{
    TSTCabWriter w;
    EXPECT_EQ(w.CompressionType(), cctLzx);
    EXPECT_EQ(w.CompressionLzxLevel(), 21);
    EXPECT_EQ(w.CompressionCode(), 0x1503);
    w.SetCompressionType(cctMsZip);
    EXPECT_EQ(w.CompressionCode(), 1);
    w.SetCompressionLzxLevel(15);
    EXPECT_EQ(w.CompressionCode(), 1) << "the level must not disturb MSZIP";
    w.SetCompressionType(cctLzx);
    EXPECT_EQ(w.CompressionCode(), 0x0F03);
    w.SetCompressionType(cctNone);
    EXPECT_EQ(w.CompressionCode(), 0);
    w.SetCompressionType(static_cast<TSTCabCompressionType>(7));
    EXPECT_EQ(w.CompressionCode(), 0x000F);
}

TEST_F(WriterFixture, OpenFillsDescriptorAndTemplatesNameTheSet)
{
    w.OnGetNextCabinet = [&](TSTCabWriter &, cab::CCAB &c, std::uint32_t prev, bool &) {
        if (prev == 0) {
            EXPECT_EQ(c.cb, 2147483647u);
            EXPECT_EQ(c.cbFolderThresh, 2147483647u);
            EXPECT_EQ(c.iDisk, 1);
            EXPECT_EQ(c.iCab, 0);
            EXPECT_STREQ(c.szDisk, "Disk1");
            EXPECT_STREQ(c.szCab, "ARCH.CAB");
            EXPECT_EQ(std::string(c.szCabPath), native(dir / "out/"));
        }
    };
    w.SetID = 0x4242;
    w.Open(dir / "out/ARCH.CAB");
    EXPECT_EQ(w.CabinetFileName(3), "ARCH3.CAB");
    EXPECT_EQ(w.DiskLabel(1), "Disk1");
    w.DiskLabelTemplate = "VOL*";
    EXPECT_EQ(w.DiskLabel(2), "VOL2");
    w.CabinetNameTemplate = "PART*-*.CAB";
    EXPECT_EQ(w.CabinetFileName(12), "PART12-12.CAB");
    w.CabinetPathTemplate = dir / "disk*";
    EXPECT_EQ(w.CabinetFolder(4), native(dir / "disk4/"));
    w.Close(false);

    TSTCabWriter bare;
    bare.Open(dir / "out/ARCH");
    EXPECT_EQ(bare.CabinetFileName(3), "ARCH3");
    bare.Close(false);
}

TEST_F(WriterFixture, CabinetFileCountThresholdStartsNextCabinetBeforeThirdFile)
{
    w.CabinetFileCountThreshold = 2;
    std::vector<std::string> placedIn;
    std::vector<std::string> labels;
    w.DiskLabelTemplate = "VOL*";
    w.OnFilePlaced = [&](TSTCabWriter &, const cab::CCAB &c, const std::string &n, std::int32_t, bool, bool &) {
        placedIn.push_back(std::string(c.szCab) + ":" + n);
    };
    w.OnGetNextCabinet = [&](TSTCabWriter &, cab::CCAB &c, std::uint32_t, bool &) { labels.push_back(c.szDisk); };
    w.Open(dir / "out/SET.CAB");
    for (int i = 0; i < 3; ++i) {
        w.AddFile(src("F" + std::to_string(i), 100 + i), "F" + std::to_string(i));
        EXPECT_EQ(w.FilesInCabinet(), i == 2 ? 1u : static_cast<unsigned>(i + 1));
    }
    w.Close(true);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[1], "VOL2");
    const RawCabinet first = parseCabinet(dir / "out/SET.CAB");
    EXPECT_EQ(names(first), (std::vector<std::string>{"F0", "F1"}));
    EXPECT_TRUE(first.flags & 0x0002) << "the first cabinet names a next one";
    const std::string secondName = w.CabinetFileName(1);
    const RawCabinet second = parseCabinet(dir / ("out/" + secondName));
    EXPECT_EQ(names(second), (std::vector<std::string>{"F2"}));
    EXPECT_EQ(second.iCabinet, 1);
    EXPECT_TRUE(std::find(placedIn.begin(), placedIn.end(), secondName + ":F2") != placedIn.end());
}

TEST_F(WriterFixture, FolderFileCountThresholdClosesFolderOnly)
{
    w.FolderFileCountThreshold = 2;
    w.Open(dir / "out/F.CAB");
    for (int i = 0; i < 5; ++i)
        w.AddFile(src(std::string("F") + std::to_string(i), 1000), std::string("F") + std::to_string(i));
    w.Close(true);
    const RawCabinet c = parseCabinet(dir / "out/F.CAB");
    EXPECT_EQ(c.folders, 3);
    EXPECT_EQ(c.files, 5);
    EXPECT_FALSE(c.flags & 0x0002);
    EXPECT_EQ(c.entries[2].folder, 1);
    EXPECT_EQ(c.entries[4].folder, 2);
}

TEST_F(WriterFixture, SizeThresholdsReachTheDescriptorAndTheLayout)
{
    w.FolderSizeThreshold = 40000;
    w.CabinetSizeThreshold = 1000000;
    w.ReservePerCabinetSize = 6;
    w.OnGetNextCabinet = [](TSTCabWriter &, cab::CCAB &c, std::uint32_t, bool &) {
        EXPECT_EQ(c.cb, 1000000u);
        EXPECT_EQ(c.cbFolderThresh, 40000u);
        EXPECT_EQ(c.cbReserveCFHeader, 6u);
    };
    w.Open(dir / "out/T.CAB");
    for (int i = 0; i < 4; ++i)
        w.AddFile(src("R" + std::to_string(i), 30000, 40 + i, false), "R" + std::to_string(i));
    w.Close(true);
    const RawCabinet c = parseCabinet(dir / "out/T.CAB");
    EXPECT_GE(c.folders, 2) << "incompressible files past the folder threshold start new folders";
    EXPECT_TRUE(c.flags & 0x0004) << "the header reserve is announced";
}

TEST_F(WriterFixture, NamesLoseOneLeadingBackslashOnly)
{
    w.Open(dir / "out/N.CAB");
    w.AddFile(src("a", 10), "\\A\\B.TXT");
    w.AddFile(src("b", 10), "\\\\C.TXT");
    w.AddFile(src("c", 10), "D\\E.TXT", true);
    w.Close(true);
    const RawCabinet c = parseCabinet(dir / "out/N.CAB");
    EXPECT_EQ(names(c), (std::vector<std::string>{"A\\B.TXT", "\\C.TXT", "D\\E.TXT"}));
    EXPECT_EQ(c.entries[2].attribs & cab::_A_EXEC, cab::_A_EXEC);
    EXPECT_EQ(c.entries[0].attribs & cab::_A_EXEC, 0);
}

TEST_F(WriterFixture, AddFilesUsesMaskPrefixAndRecursion)
{
    writeFile(dir / "data/X.DAT", "x");
    writeFile(dir / "data/Y.TXT", "yy");
    writeFile(dir / "data/SUB/Z.DAT", "zzz");
    writeFile(dir / "data/SUB/DEEP/W.DAT", "wwww");
    w.Open(dir / "out/A.CAB");
    w.AddFiles(dir / "data/*.*", "K", false);
    w.AddFiles(dir / "data/*.DAT", "R", true);
    w.AddFiles(dir / "data/*.none", "Q", false);  // nothing matches: no error
    w.AddFiles(dir / "data/*.*", "", false);
    w.Close(true);
    // Each folder's files in name order, then its sub-folders, depth first.
    EXPECT_EQ(names(parseCabinet(dir / "out/A.CAB")),
              (std::vector<std::string>{"K\\X.DAT", "K\\Y.TXT", "R\\X.DAT", "R\\SUB\\Z.DAT", "R\\SUB\\DEEP\\W.DAT",
                                        "X.DAT", "Y.TXT"}));
}

// Whatever order the file system lists a folder in, its files go in by name,
// letter case aside (Polish letters too), so one folder always gives one cabinet.
TEST_F(WriterFixture, AddFilesTakesEachFolderInNameOrder)
{
    const std::vector<std::string> created = {"b.dat", "\xC4\x85.dat", "Z.DAT", "A.DAT", "\xC4\x84" "b.dat", "a2.DAT",
                                              "a.dat"};
    for (const std::string &n : created)
        writeFile(dir / ("data/" + n), n);
    w.Open(dir / "out/A.CAB");
    w.AddFiles(dir / "data/*", "", false);
    w.Close(true);
    EXPECT_EQ(names(parseCabinet(dir / "out/A.CAB")),
              (std::vector<std::string>{"A.DAT", "a.dat", "a2.DAT", "b.dat", "Z.DAT", "\xC4\x85.dat", "\xC4\x84" "b.dat"}));
}

TEST_F(WriterFixture, AddFilesOnMissingFolderRaisesOSError)
{
    w.Open(dir / "out/A.CAB");
    try {
        w.AddFiles(dir / "nothere/*.*", "K", false);
        FAIL() << "no exception";
    } catch (const EOSError &e) {
        EXPECT_EQ(e.code(), kErrNoFolder);
        EXPECT_NE(std::string(e.what()).find("System Error.  Code: " + std::to_string(kErrNoFolder) + ".\r\n"),
                  std::string::npos)
            << e.what();
    }
    w.Close(false);
}

TEST_F(WriterFixture, BeforeFileAddSkipLeavesFileAndCountersAlone)
{
    w.FolderFileCountThreshold = 1;
    w.OnBeforeFileAdd = [](TSTCabWriter &, const std::string &name, bool &skip) {
        skip = name.find("SKIP") != std::string::npos;
    };
    w.Open(dir / "out/S.CAB");
    w.AddFile(src("KEEP1", 10), "KEEP1");
    w.AddFile(src("SKIP", 10), "SKIP");
    EXPECT_EQ(w.FilesInCabinet(), 1u);
    EXPECT_EQ(w.FilesInFolder(), 1u);
    w.AddFile(src("KEEP2", 10), "KEEP2");
    w.Close(true);
    const RawCabinet c = parseCabinet(dir / "out/S.CAB");
    EXPECT_EQ(names(c), (std::vector<std::string>{"KEEP1", "KEEP2"}));
    EXPECT_EQ(c.folders, 2) << "the skipped file must not count towards the folder threshold";
}

TEST_F(WriterFixture, OpenReplacesExistingCabinetAndCreatesFolders)
{
    writeFile(dir / "out/deep/er/R.CAB", std::string(100000, 'o'));
    w.Open(dir / "out/deep/er/R.CAB");
    EXPECT_EQ(readFile(dir / "out/deep/er/R.CAB").size(), 100000u) << "the old cabinet stays until the new one is done";
    w.AddFile(src("a", 50), "A");
    w.Close(true);
    const RawCabinet c = parseCabinet(dir / "out/deep/er/R.CAB");
    EXPECT_EQ(names(c), std::vector<std::string>{"A"});
    EXPECT_TRUE(strayFiles(dir / "out/deep/er", {"R.CAB"}).empty());

    w.Open(dir / "new/folder/N.CAB");
    w.AddFile(src("b", 50), "B");
    w.Close(true);
    EXPECT_EQ(names(parseCabinet(dir / "new/folder/N.CAB")), std::vector<std::string>{"B"});
}

// Every event that can stop the work, each with an old archive in place.
TEST_F(WriterFixture, AbortInAnyEventKeepsOldCabinetAndLeavesNoTemporaryFile)
{
    const std::string big = src("big", 200000, 3, false);
    const std::string small = src("small", 100, 4);
    const std::string old = "OLD ARCHIVE CONTENTS";
    enum Where { Placed, FileStatus, FolderStatus, CabinetStatus, Progress, NextCabinet, CabinetsComplete };
    for (Where where : {Placed, FileStatus, FolderStatus, CabinetStatus, Progress, NextCabinet, CabinetsComplete}) {
        SCOPED_TRACE(where);
        TempDir out;
        writeFile(out / "OLD.CAB", old);
        {
            TSTCabWriter wr;
            wr.SetCompressionType(cctMsZip);
            wr.CabinetSizeThreshold = where == NextCabinet ? 60000 : 0;
            bool opened = false;
            wr.OnFilePlaced = [&](TSTCabWriter &, const cab::CCAB &, const std::string &, std::int32_t, bool,
                                  bool &a) { a = where == Placed; };
            wr.OnFileStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, bool &a) { a = where == FileStatus; };
            wr.OnFolderStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, bool &a) {
                a = where == FolderStatus;
            };
            wr.OnCabinetStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, std::uint32_t &, bool &a) {
                a = where == CabinetStatus;
            };
            wr.OnProgress = [&](TSTCabWriter &, bool &a) { a = where == Progress; };
            wr.OnCabinetsComplete = [&](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &, bool &a) {
                a = where == CabinetsComplete;
            };
            wr.OnGetNextCabinet = [&](TSTCabWriter &, cab::CCAB &, std::uint32_t, bool &a) {
                a = opened && where == NextCabinet;
            };
            wr.Open(out / "OLD.CAB");
            opened = true;
            try {
                wr.AddFile(small, "SMALL");
                wr.AddFile(big, "BIG");
                wr.Close(true);
                FAIL() << "the abort was not reported";
            } catch (const ESTCabinet &e) {
                EXPECT_TRUE(e.IsFCI());
                EXPECT_EQ(e.ErrorCode(), cab::FCIERR_USER_ABORT);
                EXPECT_STREQ(e.what(), "Client requested abort [0x0007]");
            }
            EXPECT_TRUE(wr.IsOpen()) << "after a failure the writer stays open";
            wr.Close(false);
        }
        EXPECT_EQ(readFile(out / "OLD.CAB"), old);
        EXPECT_EQ(listTree(out.path()), std::vector<std::string>{"OLD.CAB"});
    }
}

TEST_F(WriterFixture, CloseWithoutFlushAndDestructionDiscardTheCabinet)
{
    writeFile(dir / "out/K.CAB", "keep me");
    w.Open(dir / "out/K.CAB");
    w.AddFile(src("a", 70000), "A");
    w.Close(false);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(readFile(dir / "out/K.CAB"), "keep me");
    {
        TSTCabWriter other;
        other.SetCompressionType(cctNone);
        other.Open(dir / "out/K.CAB");
        other.AddFile(src("b", 70000), "B");
    }
    EXPECT_EQ(readFile(dir / "out/K.CAB"), "keep me");
    EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{"K.CAB"});
}

TEST_F(WriterFixture, FailedSourceKeepsOldCabinet)
{
    writeFile(dir / "out/K.CAB", "keep me");
    w.Open(dir / "out/K.CAB");
    w.AddFile(src("a", 100), "A");
    try {
        w.AddFile(dir / "src/missing", "MISSING");
        FAIL();
    } catch (const ESTCabinet &e) {
        EXPECT_EQ(e.ErrorCode(), cab::FCIERR_OPEN_SRC);
        EXPECT_EQ(e.SystemErrorCode(), kErrNoFile);
        EXPECT_EQ(e.what(), "Failure opening file to be stored in cabinet [0x0001].\r\n" + cabSystemLine(kErrNoFile));
    }
    w.Close(false);
    EXPECT_EQ(readFile(dir / "out/K.CAB"), "keep me");
}

TEST_F(WriterFixture, CabinetThatCannotTakeItsPlaceIsReportedAndCleanedUp)
{
    writeFile(dir / "out/DIR.CAB/inside", "a folder holds the cabinet's name");
    w.Open(dir / "out/DIR.CAB");
    w.AddFile(src("a", 100), "A");
    try {
        w.Close(true);
        FAIL() << "the cabinet could not be put in place, yet no error";
    } catch (const ESTCabinet &e) {
        EXPECT_EQ(e.ErrorCode(), cab::FCIERR_CAB_FILE);
        EXPECT_EQ(e.SystemErrorCode(), kErrIsFolder);
        EXPECT_EQ(std::string(e.what()), "Could not create cabinet file [0x0006].\r\n" + cabSystemLine(kErrIsFolder));
    }
    w.Close(false);
    EXPECT_EQ(listTree(dir / "out"), (std::vector<std::string>{"DIR.CAB", "DIR.CAB/inside"}));
}

TEST_F(WriterFixture, AbortedOpenLeavesWriterClosedAndClosedWriterRefusesWork)
{
    w.OnGetNextCabinet = [](TSTCabWriter &, cab::CCAB &, std::uint32_t, bool &a) { a = true; };
    EXPECT_NO_THROW(w.Open(dir / "out/X.CAB"));
    EXPECT_FALSE(w.IsOpen());
    try {
        w.AddFile(src("a", 1), "A");
        FAIL();
    } catch (const ESTCabinet &e) {
        EXPECT_NE(std::string(e.what()).find("not open"), std::string::npos) << e.what();
    }
    EXPECT_THROW(w.FlushFolder(), ESTCabinet);
    EXPECT_THROW(w.NextCabinet(), ESTCabinet);
    EXPECT_THROW(w.AddFiles(dir / "src/*", "", false), ESTCabinet);
    EXPECT_NO_THROW(w.Close(true));
    EXPECT_FALSE(FileExists(dir / "out/X.CAB"));
}

TEST_F(WriterFixture, OverlongNamesAreRefusedClearly)
{
    w.Open(dir / "out/L.CAB");
    try {
        w.AddFile(src("a", 1), std::string(256, 'N'));
        FAIL();
    } catch (const ESTCabinet &e) {
        EXPECT_EQ(e.ErrorCode(), cab::FCIERR_CAB_FORMAT_LIMIT);
        EXPECT_NE(std::string(e.what()).find("too long"), std::string::npos);
    }
    w.AddFile(src("b", 1), std::string(255, 'M'));
    w.Close(true);
    EXPECT_EQ(parseCabinet(dir / "out/L.CAB").entries.at(0).name, std::string(255, 'M'));

    TSTCabWriter x;
    x.DiskLabelTemplate = std::string(300, 'D');
    EXPECT_THROW(x.Open(dir / "out/M.CAB"), ESTCabinet);
    EXPECT_FALSE(x.IsOpen());
}

TEST_F(WriterFixture, ProgressFiresOnSecondThenEveryNinthFileStatus)
{
    int reports = 0;
    std::vector<int> progressAt;
    w.OnFileStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, bool &) { ++reports; };
    w.OnProgress = [&](TSTCabWriter &, bool &) { progressAt.push_back(reports); };
    w.Open(dir / "out/P.CAB");
    w.AddFile(src("big", 32768 * 24, 9), "BIG");
    w.Close(true);
    ASSERT_GE(reports, 20);
    ASSERT_GE(progressAt.size(), 3u);
    EXPECT_EQ(progressAt[0], 2);
    EXPECT_EQ(progressAt[1], 11);
    EXPECT_EQ(progressAt[2], 20);
}

TEST_F(WriterFixture, ProgressIsNotCalledOnTheReportThatAborted)
{
    int reports = 0, progress = 0;
    w.OnFileStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t, bool &a) { a = ++reports == 2; };
    w.OnProgress = [&](TSTCabWriter &, bool &) { ++progress; };
    w.Open(dir / "out/P.CAB");
    EXPECT_THROW(
        {
            w.AddFile(src("big", 32768 * 4, 9), "BIG");
            w.Close(true);
        },
        ESTCabinet);
    EXPECT_EQ(progress, 0);
    w.Close(false);
}

TEST_F(WriterFixture, CabinetStatusReportsSizesAndFilePlacedCarriesSizes)
{
    std::uint32_t actual = 0;
    std::vector<std::pair<std::string, std::int32_t>> placed;
    w.OnCabinetStatus = [&](TSTCabWriter &, std::uint32_t, std::uint32_t a, std::uint32_t &, bool &) { actual = a; };
    w.OnFilePlaced = [&](TSTCabWriter &, const cab::CCAB &, const std::string &n, std::int32_t s, bool c, bool &) {
        EXPECT_FALSE(c);
        placed.emplace_back(n, s);
    };
    w.Open(dir / "out/C.CAB");
    w.AddFile(src("a", 1234), "A");
    w.AddFile(src("b", 0), "B");
    w.Close(true);
    EXPECT_EQ(actual, readFile(dir / "out/C.CAB").size());
    EXPECT_EQ(placed, (std::vector<std::pair<std::string, std::int32_t>>{{"A", 1234}, {"B", 0}}));
}

TEST_F(WriterFixture, SpannedSetReportsContinuationAndRenamesEveryCabinet)
{
    w.CabinetSizeThreshold = 50000;
    std::vector<std::pair<std::string, bool>> placed;
    w.OnFilePlaced = [&](TSTCabWriter &, const cab::CCAB &c, const std::string &n, std::int32_t, bool cont, bool &) {
        placed.emplace_back(std::string(c.szCab) + ":" + n, cont);
    };
    w.SetCompressionType(cctNone);
    w.Open(dir / "out/SP.CAB");
    w.AddFile(src("huge", 120000, 5, false), "HUGE");
    w.Close(true);
    const std::vector<std::string> files = listTree(dir / "out");
    ASSERT_GE(files.size(), 3u);
    for (const std::string &f : files)
        EXPECT_EQ(f.find('~'), std::string::npos) << "temporary file left: " << f;
    bool sawContinuation = false;
    for (const auto &p : placed)
        sawContinuation = sawContinuation || p.second;
    EXPECT_TRUE(sawContinuation);
    for (const std::string &f : files)
        EXPECT_LE(readFile(dir / ("out/" + f)).size(), 50000u) << f;
}
