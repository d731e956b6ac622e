// Writer failures: aborts from every callback, refused input, format limits
// and failing file callbacks. After each, FCIDestroy leaves nothing behind.
#include <gtest/gtest.h>

#include "cabinet/cabformat.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;

namespace {

std::vector<Source> someFiles(MemFs &fs, TCOMP type = tcompTYPE_MSZIP)
{
    fs.put("src/a", pattern(70000, 1, true));
    fs.put("src/b", pattern(5000, 2, false));
    fs.put("src/c", {});
    return {Source{"src/a", "A.DAT", false, type}, Source{"src/b", "B.DAT", false, type},
            Source{"src/c", "C.DAT", false, type}};
}

void expectClean(const MemFs &fs)
{
    EXPECT_EQ(fs.openHandles(), 0u);
    EXPECT_EQ(fs.count("tmp/"), 0u);
    EXPECT_EQ(fs.liveAllocs, 0u);
}

struct AbortCase {
    const char *label;
    int WriterLog::*field;
    ULONG limit;
};

class WriterAbort : public ::testing::TestWithParam<AbortCase> {};

TEST_P(WriterAbort, EveryCallbackCanStopTheJob)
{
    const AbortCase c = GetParam();
    MemFs fs;
    WriterLog log;
    log.*c.field = 1;
    const WriterRun w = writeCabinet(fs, makeCcab("part0.cab", c.limit), someFiles(fs), log);
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_TRUE(w.erf.fError);
    // The cabinet being written when the abort came is not left behind.
    const bool written = fs.exists("out/part0.cab");
    if (c.limit == 0) {
        EXPECT_FALSE(written) << c.label;
    }
    expectClean(fs);
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, WriterAbort,
    ::testing::Values(AbortCase{"placed", &WriterLog::abortPlacedAt, 0}, AbortCase{"file", &WriterLog::abortFileAt, 0},
                      AbortCase{"folder", &WriterLog::abortFolderAt, 0},
                      AbortCase{"cabinet", &WriterLog::abortCabinetAt, 0},
                      AbortCase{"next", &WriterLog::refuseNextAt, 30000},
                      AbortCase{"cabinet-in-set", &WriterLog::abortCabinetAt, 30000}),
    [](const auto &info) {
        std::string s = info.param.label;
        std::replace(s.begin(), s.end(), '-', '_');
        return s;
    });

TEST(WriterRefuses, UnsupportedCompressionTypesWithoutSpoilingTheCabinet)
{
    // LZX only with windows 15..21 and nothing else in the code; no Quantum.
    for (TCOMP bad : {tcompTYPE_LZX, TCOMPfromLZXWindow(14), TCOMPfromLZXWindow(22), TCOMP{0x2F03}, tcompTYPE_QUANTUM,
                      tcompBAD, TCOMP{0x0101}, TCOMP{0x0010}}) {
        MemFs fs;
        std::vector<Source> s = someFiles(fs);
        s.insert(s.begin() + 1, Source{"src/b", "BAD.DAT", false, bad});
        // The driver stops at the refused file; add the rest by hand here.
        g_fs = &fs;
        ERF erf{};
        CCAB c = makeCcab("t.cab");
        HFCI h = FCICreate(&erf, [](PCCAB, char *, LONG, BOOL, void *) { return 0; }, fciAlloc, fciFree, fciOpen,
                           fciRead, fciWrite, fciClose, fciSeek, fciDelete, fciTemp, &c, &fs);
        ASSERT_NE(h, nullptr);
        for (const Source &src : s) {
            std::string p = src.path, n = src.name;
            const BOOL ok = FCIAddFile(h, p.data(), n.data(), 0, nullptr, nullptr, fciOpenInfo, src.type);
            if (src.type == bad) {
                EXPECT_FALSE(ok) << std::hex << bad;
                EXPECT_EQ(erf.erfOper, FCIERR_BAD_COMPR_TYPE);
                EXPECT_TRUE(erf.fError);
            } else {
                EXPECT_TRUE(ok);
            }
        }
        EXPECT_TRUE(FCIFlushCabinet(h, 0, nullptr, nullptr));
        EXPECT_TRUE(FCIDestroy(h));
        expectClean(fs);
        const ReadResult r = readCabinet(fs, "t.cab");
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.files.size(), 3u);
        EXPECT_EQ(r.files.count("BAD.DAT"), 0u);
    }
}

class Limits : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fs = &fs;
        c = makeCcab("l.cab");
        h = FCICreate(&erf, [](PCCAB, char *, LONG, BOOL, void *) { return 0; }, fciAlloc, fciFree, fciOpen, fciRead,
                      fciWrite, fciClose, fciSeek, fciDelete, fciTemp, &c, &fs);
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override
    {
        if (h)
            FCIDestroy(h);
        expectClean(fs);
    }
    BOOL add(const std::string &path, const std::string &name)
    {
        std::string p = path, n = name;
        return FCIAddFile(h, p.data(), n.data(), 0, nullptr, nullptr, fciOpenInfo, tcompTYPE_MSZIP);
    }
    MemFs fs;
    ERF erf{};
    CCAB c{};
    HFCI h = nullptr;
};

TEST_F(Limits, FileLargerThanTheFormatAllowsIsRefusedUpFront)
{
    auto huge = std::make_shared<MemFile>();
    huge->fakeSize = 0x7FFF8001;
    fs.files["src/huge"] = huge;
    fs.put("src/ok", pattern(100, 1, true));
    EXPECT_FALSE(add("src/huge", "HUGE.DAT"));
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    for (const auto &[hf, mh] : fs.handles)
        EXPECT_NE(mh.name, "src/huge");  // the source was closed again
    // The context is still good for the next file.
    EXPECT_TRUE(add("src/ok", "OK.DAT"));
    EXPECT_TRUE(FCIFlushCabinet(h, 0, nullptr, nullptr));
    const ReadResult r = readCabinet(fs, "l.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.size(), 1u);
}

TEST_F(Limits, NamesOverTheLimitAreRefusedNotCut)
{
    fs.put("src/x", pattern(10, 1, true));
    EXPECT_FALSE(add("src/x", std::string(256, 'N')));
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    EXPECT_FALSE(add("src/x", ""));
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    EXPECT_TRUE(add("src/x", std::string(255, 'M')));
    EXPECT_TRUE(FCIFlushCabinet(h, 0, nullptr, nullptr));
    const ReadResult r = readCabinet(fs, "l.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.count(std::string(255, 'M')), 1u);
}

TEST_F(Limits, CabinetTooSmallForAnythingIsAFormatLimit)
{
    FCIDestroy(h);
    c = makeCcab("tiny.cab", 80);
    h = FCICreate(&erf, [](PCCAB, char *, LONG, BOOL, void *) { return 0; }, fciAlloc, fciFree, fciOpen, fciRead,
                  fciWrite, fciClose, fciSeek, fciDelete, fciTemp, &c, &fs);
    ASSERT_NE(h, nullptr);
    fs.put("src/x", pattern(10, 1, true));
    EXPECT_FALSE(add("src/x", "X"));
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
}

TEST_F(Limits, FullCabinetWithoutNextCabinetCallbackIsAFormatLimit)
{
    FCIDestroy(h);
    c = makeCcab("small.cab", 20000);
    h = FCICreate(&erf, [](PCCAB, char *, LONG, BOOL, void *) { return 0; }, fciAlloc, fciFree, fciOpen, fciRead,
                  fciWrite, fciClose, fciSeek, fciDelete, fciTemp, &c, &fs);
    ASSERT_NE(h, nullptr);
    fs.put("src/x", pattern(50000, 1, false));
    const BOOL ok = add("src/x", "X") && FCIFlushCabinet(h, 0, nullptr, nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(erf.erfOper, FCIERR_CAB_FORMAT_LIMIT);
    EXPECT_FALSE(fs.exists("out/small.cab"));
}

TEST(WriterLimits, MoreThan65535FilesGoOnInTheNextCabinet)
{
    MemFs fs;
    fs.put("src/e", {});
    std::vector<Source> s(65536, Source{"src/e", "", false, tcompTYPE_NONE});
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i].name = std::string("F") + std::to_string(i);
    const WriterRun w = writeCabinet(fs, makeCcab("part0.cab"), s);
    ASSERT_TRUE(w.ok) << w.erf.erfOper;
    const Bytes &a = fs.get("out/part0.cab");
    const Bytes &b = fs.get("out/part1.cab");
    EXPECT_EQ(detail::get16(&a[28]), 0xFFFF);
    EXPECT_EQ(detail::get16(&a[30]) & 2, 2);
    EXPECT_EQ(detail::get16(&b[28]), 1);
    EXPECT_EQ(detail::get16(&b[30]) & 1, 1);
    const ReadResult r = readCabinet(fs, "part1.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.count("F65535"), 1u);
}

struct IoCase {
    const char *label;
    const char *op;
    const char *prefix;
    int expected;
};

class WriterIo : public ::testing::TestWithParam<IoCase> {};

TEST_P(WriterIo, FailingCallbackGivesItsErrorAndCleansUp)
{
    const IoCase c = GetParam();
    MemFs fs;
    fs.failErr = 28;
    const std::string op = c.op, prefix = c.prefix;
    fs.failIf = [&](const std::string &o, const std::string &name) {
        return o == op && name.rfind(prefix, 0) == 0;
    };
    const WriterRun w = writeCabinet(fs, makeCcab("t.cab"), someFiles(fs));
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.erf.erfOper, c.expected) << c.label;
    EXPECT_TRUE(w.erf.fError);
    if (op != "temp") {
        EXPECT_EQ(w.erf.erfType, 28) << c.label;
    }
    fs.failIf = nullptr;
    EXPECT_FALSE(fs.exists("out/t.cab")) << c.label;
    expectClean(fs);
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, WriterIo,
    ::testing::Values(IoCase{"temp_name", "temp", "tmp/", FCIERR_TEMP_FILE},
                      IoCase{"temp_open", "open", "tmp/", FCIERR_TEMP_FILE},
                      IoCase{"temp_write", "write", "tmp/", FCIERR_TEMP_FILE},
                      IoCase{"source_open", "open", "src/b", FCIERR_OPEN_SRC},
                      IoCase{"source_read", "read", "src/a", FCIERR_READ_SRC},
                      IoCase{"cabinet_open", "open", "out/", FCIERR_CAB_FILE},
                      IoCase{"cabinet_write", "write", "out/", FCIERR_CAB_FILE},
                      IoCase{"cabinet_close", "close", "out/", FCIERR_CAB_FILE}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(WriterAlloc, OutOfMemoryAtCreate)
{
    MemFs fs;
    fs.failIf = [](const std::string &op, const std::string &) { return op == "alloc"; };
    const WriterRun w = writeCabinet(fs, makeCcab("t.cab"), {});
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.erf.erfOper, FCIERR_ALLOC_FAIL);
    fs.failIf = nullptr;
    expectClean(fs);
}

// The LZX window is had when its first folder opens: without it that file is
// refused, and the cabinet goes on with the others.
TEST(WriterAlloc, LzxWindowThatCannotBeHadRefusesOnlyThatFile)
{
    MemFs fs;
    g_fs = &fs;
    std::vector<Source> s = someFiles(fs);
    s.insert(s.begin() + 1, Source{"src/b", "LZX.DAT", false, TCOMPfromLZXWindow(21)});
    ERF erf{};
    CCAB c = makeCcab("t.cab");
    HFCI h = FCICreate(&erf, [](PCCAB, char *, LONG, BOOL, void *) { return 0; }, fciAlloc, fciFree, fciOpen, fciRead,
                       fciWrite, fciClose, fciSeek, fciDelete, fciTemp, &c, &fs);
    ASSERT_NE(h, nullptr);
    fs.failIf = [](const std::string &op, const std::string &size) { return op == "alloc" && std::stoul(size) > (1u << 20); };
    for (const Source &src : s) {
        std::string p = src.path, n = src.name;
        const BOOL ok = FCIAddFile(h, p.data(), n.data(), 0, nullptr, nullptr, fciOpenInfo, src.type);
        if (src.name == "LZX.DAT") {
            EXPECT_FALSE(ok);
            EXPECT_EQ(erf.erfOper, FCIERR_ALLOC_FAIL);
        } else {
            EXPECT_TRUE(ok) << src.name;
        }
    }
    fs.failIf = nullptr;
    EXPECT_TRUE(FCIFlushCabinet(h, 0, nullptr, nullptr));
    EXPECT_TRUE(FCIDestroy(h));
    expectClean(fs);
    const ReadResult r = readCabinet(fs, "t.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.size(), 3u);
    EXPECT_EQ(r.files.count("LZX.DAT"), 0u);
}

TEST(WriterEmpty, FlushWithoutFilesStillLeavesAnEmptyCabinet)
{
    MemFs fs;
    const WriterRun w = writeCabinet(fs, makeCcab("e.cab"), {});
    ASSERT_TRUE(w.ok);
    const Bytes &b = fs.get("out/e.cab");
    ASSERT_EQ(b.size(), 36u);
    EXPECT_EQ(detail::get16(&b[28]), 0);
    const ReadResult r = readCabinet(fs, "e.cab");
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.files.empty());
}

}  // namespace
