// Spanned sets, thresholds and the writer's callback order.
#include <gtest/gtest.h>

#include <algorithm>

#include "cabinet/cabformat.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;
using detail::get16;
using detail::get32;

namespace {

struct Block {
    std::uint16_t cbData, cbUncomp;
};
struct Parsed {
    std::uint16_t flags = 0, cFolders = 0, cFiles = 0, iCabinet = 0, setID = 0;
    std::string next, prev;
    std::vector<std::uint16_t> codes;
    std::vector<std::string> names;
    std::vector<std::vector<Block>> blocks;
};

Parsed parse(const Bytes &b)
{
    Parsed p;
    p.cFolders = get16(&b[26]);
    p.cFiles = get16(&b[28]);
    p.flags = get16(&b[30]);
    p.setID = get16(&b[32]);
    p.iCabinet = get16(&b[34]);
    std::size_t pos = 36;
    std::uint32_t rf = 0, rd = 0;
    if (p.flags & 4) {
        rf = b[38];
        rd = b[39];
        pos += 4 + get16(&b[36]);
    }
    auto str = [&] {
        std::string s(reinterpret_cast<const char *>(&b[pos]));
        pos += s.size() + 1;
        return s;
    };
    if (p.flags & 1) {
        p.prev = str();
        str();
    }
    if (p.flags & 2) {
        p.next = str();
        str();
    }
    for (int i = 0; i < p.cFolders; ++i, pos += 8 + rf) {
        std::uint32_t at = get32(&b[pos]);
        std::vector<Block> v;
        for (int k = 0; k < get16(&b[pos + 4]); ++k) {
            v.push_back(Block{get16(&b[at + 4]), get16(&b[at + 6])});
            at += 8 + rd + get16(&b[at + 4]);
        }
        p.blocks.push_back(v);
    }
    pos = get32(&b[16]);
    for (int i = 0; i < p.cFiles; ++i) {
        p.codes.push_back(get16(&b[pos + 8]));
        pos += 16;
        p.names.push_back(str());
    }
    return p;
}

std::vector<Source> sources(MemFs &fs, const std::vector<std::pair<std::string, Bytes>> &files, TCOMP type)
{
    std::vector<Source> s;
    for (const auto &[name, data] : files) {
        fs.put("src/" + name, data);
        s.push_back(Source{"src/" + name, name, false, type});
    }
    return s;
}

std::vector<std::string> cabinetsOf(const MemFs &fs)
{
    std::vector<std::string> v;
    for (const auto &[name, f] : fs.files)
        if (name.rfind("out/", 0) == 0)
            v.push_back(name);
    return v;
}

class Span : public ::testing::TestWithParam<std::tuple<TCOMP, ULONG>> {};

TEST_P(Span, SetSplitsFilesAndBlocksAndReadsBack)
{
    const auto [type, limit] = GetParam();
    MemFs fs;
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"A.DAT", pattern(50000, 1, false)}, {"B.DAT", pattern(70000, 2, false)}, {"C.DAT", pattern(1000, 3, true)},
        {"D.DAT", {}},                       {"E.DAT", pattern(30000, 4, false)}, {"F.DAT", pattern(200, 5, true)},
    };
    CCAB c = makeCcab("part0.cab", limit);
    c.setID = 777;
    WriterRun w = writeCabinet(fs, c, sources(fs, files, type));
    ASSERT_TRUE(w.ok) << "FCI error " << w.erf.erfOper;

    const auto cabs = cabinetsOf(fs);
    ASSERT_GE(cabs.size(), 3u);
    bool sawCutBlock = false, sawContinued = false;
    for (std::size_t i = 0; i < cabs.size(); ++i) {
        const Bytes &b = fs.get("out/part" + std::to_string(i) + ".cab");
        EXPECT_LE(b.size(), limit);
        EXPECT_EQ(get32(&b[8]), b.size());
        const Parsed p = parse(b);
        EXPECT_EQ(p.iCabinet, i);
        EXPECT_EQ(p.setID, 777);
        EXPECT_EQ((p.flags & 1) != 0, i > 0);
        EXPECT_EQ((p.flags & 2) != 0, i + 1 < cabs.size());
        if (i + 1 < cabs.size()) {
            EXPECT_EQ(p.next, "part" + std::to_string(i + 1) + ".cab");
        }
        for (std::size_t f = 0; f < p.blocks.size(); ++f)
            for (std::size_t k = 0; k < p.blocks[f].size(); ++k) {
                const Block &bl = p.blocks[f][k];
                EXPECT_LE(bl.cbUncomp, 32768);
                if (bl.cbUncomp == 0) {
                    // Only the last block of the last folder of a linked cabinet may be cut.
                    sawCutBlock = true;
                    EXPECT_EQ(f + 1, p.blocks.size());
                    EXPECT_EQ(k + 1, p.blocks[f].size());
                    EXPECT_TRUE(p.flags & 2);
                }
            }
        for (std::uint16_t code : p.codes) {
            EXPECT_TRUE(code < p.cFolders || code >= 0xFFFD);
            if (code == 0xFFFD || code == 0xFFFF) {
                EXPECT_TRUE(p.flags & 1);
            }
            if (code == 0xFFFE || code == 0xFFFF) {
                EXPECT_TRUE(p.flags & 2);
            }
            sawContinued |= code >= 0xFFFD;
        }
        // A continued folder 0 holds only files that began earlier.
        if (!p.codes.empty() && (p.codes[0] == 0xFFFD || p.codes[0] == 0xFFFF)) {
            for (std::uint16_t code : p.codes)
                EXPECT_NE(code, 0);
        }
    }
    EXPECT_TRUE(sawCutBlock);
    EXPECT_TRUE(sawContinued);
    // A file that spans is reported once per cabinet it lands in.
    EXPECT_GT(std::count_if(w.log.placed.begin(), w.log.placed.end(),
                            [](const std::string &s) { return s.back() == '+'; }),
              0);
    EXPECT_EQ(std::count(w.log.events.begin(), w.log.events.end(), "cabinet"), static_cast<long>(cabs.size()));

    const ReadResult r = readCabinet(fs, "part0.cab");
    ASSERT_TRUE(r.ok) << "FDI error " << r.erf.erfOper;
    ASSERT_EQ(r.files.size(), files.size());
    for (const auto &[name, data] : files)
        EXPECT_TRUE(r.files.at(name) == data) << name;
    EXPECT_GT(std::count_if(r.events.begin(), r.events.end(),
                            [](const std::string &e) { return e.rfind("next ", 0) == 0; }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Limits, Span,
                         ::testing::Values(std::make_tuple(tcompTYPE_MSZIP, ULONG{40000}),
                                           std::make_tuple(tcompTYPE_NONE, ULONG{40000}),
                                           std::make_tuple(tcompTYPE_NONE, ULONG{15000}),
                                           std::make_tuple(tcompTYPE_MSZIP, ULONG{9000})));

TEST(SpanRead, StartingInALaterCabinetReportsPartialFiles)
{
    MemFs fs;
    // B fills the block that does not fit, so A and B both go on in part1;
    // C starts a folder of its own there.
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"A.DAT", pattern(60000, 1, false)}, {"B.DAT", pattern(9000, 2, false)}, {"C.DAT", pattern(5000, 3, false)}};
    const WriterRun w = writeCabinet(fs, makeCcab("part0.cab", 40000), sources(fs, files, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.ok);
    const Parsed p1 = parse(fs.get("out/part1.cab"));
    ASSERT_EQ(p1.codes, (std::vector<std::uint16_t>{0xFFFD, 0xFFFD, 1}));
    const ReadResult r = readCabinet(fs, "part1.cab");
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_EQ(r.events, (std::vector<std::string>{"info  #1", "partial A.DAT from part0.cab",
                                                   "partial B.DAT from part0.cab", "copy C.DAT", "close C.DAT"}));
    EXPECT_TRUE(r.files.at("C.DAT") == files[2].second);
}

TEST(SpanRead, SkippedSpanningFileNeedsNoNextCabinet)
{
    MemFs fs;
    const std::vector<std::pair<std::string, Bytes>> files = {{"A.DAT", pattern(20000, 1, false)},
                                                               {"B.DAT", pattern(60000, 2, false)}};
    ASSERT_TRUE(writeCabinet(fs, makeCcab("part0.cab", 40000), sources(fs, files, tcompTYPE_NONE)).ok);
    ReadOptions o;
    o.skip = [](const std::string &n) { return n == "B.DAT"; };
    const ReadResult r = readCabinet(fs, "part0.cab", o);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.files.at("A.DAT") == files[0].second);
    for (const std::string &e : r.events)
        EXPECT_NE(e.rfind("next ", 0), 0u) << e;
}

TEST(SpanRead, MissingOrWrongNextCabinetIsRetriedThenReported)
{
    MemFs fs;
    const std::vector<std::pair<std::string, Bytes>> files = {{"A.DAT", pattern(90000, 1, false)}};
    ASSERT_TRUE(writeCabinet(fs, makeCcab("part0.cab", 40000), sources(fs, files, tcompTYPE_NONE)).ok);
    const Bytes second = fs.get("out/part1.cab");
    fs.files.erase("out/part1.cab");

    // The application puts the cabinet in place after the first complaint.
    ReadOptions o;
    o.onNext = [&](FDINOTIFICATION *n) -> INT_PTR {
        if (n->fdie == FDIERROR_CABINET_NOT_FOUND)
            fs.put("out/part1.cab", second);
        return 0;
    };
    ReadResult r = readCabinet(fs, "part0.cab", o);
    ASSERT_TRUE(r.ok) << r.erf.erfOper;
    EXPECT_TRUE(r.files.at("A.DAT") == files[0].second);
    EXPECT_NE(std::find(r.events.begin(), r.events.end(), "next part1.cab 1"), r.events.end());

    // Giving up after a failed attempt reports why.
    fs.files.erase("out/part1.cab");
    o.onNext = [](FDINOTIFICATION *n) -> INT_PTR { return n->fdie == FDIERROR_NONE ? 0 : -1; };
    r = readCabinet(fs, "part0.cab", o);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_TRUE(r.erf.fError);

    // A cabinet naming itself as the next one is the wrong cabinet, and an
    // application that keeps saying "retry" does not keep FDI busy forever.
    Bytes self = fs.get("out/part0.cab");
    const std::string n1 = "part1.cab";
    auto at = std::search(self.begin(), self.end(), n1.begin(), n1.end());
    ASSERT_NE(at, self.end());
    at[4] = '0';
    fs.put("out/part0.cab", self);
    o.onNext = [](FDINOTIFICATION *) -> INT_PTR { return 0; };
    r = readCabinet(fs, "part0.cab", o);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_WRONG_CABINET);
    EXPECT_EQ(fs.openHandles(), 0u);
}

TEST(Thresholds, FolderThresholdClosesFoldersOnCompressedSize)
{
    MemFs fs;
    std::vector<std::pair<std::string, Bytes>> files;
    for (int i = 0; i < 6; ++i)
        files.emplace_back(std::string("F") + std::to_string(i), pattern(20000, i, false));
    CCAB c = makeCcab("t.cab", 0, 30000);
    const WriterRun w = writeCabinet(fs, c, sources(fs, files, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.ok);
    const Parsed p = parse(fs.get("out/t.cab"));
    // Two random 20000-byte files pass 30000 bytes; every folder gets two.
    EXPECT_EQ(p.cFolders, 3);
    EXPECT_EQ(p.codes, (std::vector<std::uint16_t>{0, 0, 1, 1, 2, 2}));
    EXPECT_EQ(std::count(w.log.events.begin(), w.log.events.end(), "folder"), 3);

    // Compressible data stays under the same threshold in one folder.
    MemFs fs2;
    std::vector<std::pair<std::string, Bytes>> soft;
    for (int i = 0; i < 6; ++i)
        soft.emplace_back(std::string("S") + std::to_string(i), Bytes(20000, static_cast<std::uint8_t>('a' + i)));
    ASSERT_TRUE(writeCabinet(fs2, c, sources(fs2, soft, tcompTYPE_MSZIP)).ok);
    EXPECT_EQ(parse(fs2.get("out/t.cab")).cFolders, 1);
    const ReadResult r = readCabinet(fs2, "t.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.files.at("S5") == soft[5].second);
}

TEST(CallbackOrder, PlacedAfterAllAddsStatusPerBlockCabinetAfterClose)
{
    MemFs fs;
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"A", pattern(70000, 1, true)}, {"B", pattern(10, 2, true)}, {"C", pattern(40000, 3, false)}};
    const WriterRun w = writeCabinet(fs, makeCcab("o.cab"), sources(fs, files, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.ok);
    const auto &ev = w.log.events;
    const auto flush = std::find(ev.begin(), ev.end(), "flush");
    ASSERT_NE(flush, ev.end());
    // No placement before the final flush; then one per file, in order.
    EXPECT_EQ(std::count_if(ev.begin(), flush, [](const std::string &e) { return e.rfind("placed", 0) == 0; }), 0);
    EXPECT_EQ(w.log.placed, (std::vector<std::string>{"A", "B", "C"}));
    // 110010 bytes: three full blocks during the adds, the last one at the flush.
    EXPECT_EQ(std::count(ev.begin(), flush, "file"), 3);
    EXPECT_EQ(w.log.fileStatus.size(), 4u);
    EXPECT_EQ(w.log.fileStatus.back().second, 110010u - 3 * 32768u);
    // The cabinet report comes last, with the file closed, and gives its size.
    EXPECT_EQ(ev.back(), "cabinet");
    ASSERT_EQ(w.log.cabinetStatus.size(), 1u);
    EXPECT_EQ(w.log.cabinetStatus[0].second, fs.get("out/o.cab").size());
}

TEST(CallbackOrder, NextCabinetGetsIncrementedNumberAndPreviousNames)
{
    MemFs fs;
    const std::vector<std::pair<std::string, Bytes>> files = {{"A", pattern(100000, 1, false)}};
    CCAB c = makeCcab("part0.cab", 40000);
    c.iCab = 0;
    const WriterRun w = writeCabinet(fs, c, sources(fs, files, tcompTYPE_NONE));
    ASSERT_TRUE(w.ok);
    std::vector<std::string> nexts;
    for (const auto &e : w.log.events)
        if (e.rfind("next ", 0) == 0)
            nexts.push_back(e);
    EXPECT_EQ(nexts, (std::vector<std::string>{"next 1", "next 2"}));
    const Parsed p2 = parse(fs.get("out/part2.cab"));
    EXPECT_EQ(p2.prev, "part1.cab");
    EXPECT_EQ(p2.codes, (std::vector<std::uint16_t>{0xFFFD}));
    EXPECT_EQ(parse(fs.get("out/part1.cab")).codes, (std::vector<std::uint16_t>{0xFFFF}));
}

}  // namespace

namespace {

TEST(SpanRead, NextCabinetOfAnotherSetIsRefused)
{
    const std::vector<std::pair<std::string, Bytes>> files = {{"A.DAT", pattern(90000, 1, false)}};
    MemFs fs;
    CCAB c = makeCcab("part0.cab", 40000);
    c.setID = 5;
    ASSERT_TRUE(writeCabinet(fs, c, sources(fs, files, tcompTYPE_NONE)).ok);
    MemFs other;
    CCAB r = c;
    r.cbReserveCFData = 4;
    ASSERT_TRUE(writeCabinet(other, r, sources(other, files, tcompTYPE_NONE)).ok);

    ReadOptions giveUp;
    giveUp.onNext = [](FDINOTIFICATION *n) -> INT_PTR { return n->fdie == FDIERROR_NONE ? 0 : -1; };
    const Bytes good = fs.get("out/part1.cab");
    struct Swap {
        const char *what;
        std::function<Bytes()> make;
        int expected;
    };
    const std::vector<Swap> swaps = {
        {"set id", [&] { Bytes b = good; detail::put16(&b[32], 6); return b; }, FDIERROR_WRONG_CABINET},
        {"number", [&] { Bytes b = good; detail::put16(&b[34], 2); return b; }, FDIERROR_WRONG_CABINET},
        {"reserves", [&] { return other.get("out/part1.cab"); }, FDIERROR_RESERVE_MISMATCH},
        {"not a cabinet", [&] { return pattern(100, 1, false); }, FDIERROR_NOT_A_CABINET},
    };
    for (const Swap &s : swaps) {
        fs.put("out/part1.cab", s.make());
        const ReadResult res = readCabinet(fs, "part0.cab", giveUp);
        EXPECT_FALSE(res.ok) << s.what;
        EXPECT_EQ(res.erf.erfOper, s.expected) << s.what;
        EXPECT_EQ(fs.openHandles(), 0u) << s.what;
    }
}

}  // namespace

namespace {

TEST(Flushes, FlushFolderAndNextCabinetOnRequest)
{
    MemFs fs;
    std::vector<Source> s = sources(fs,
                                    {{"A", pattern(5000, 1, true)},
                                     {"B", pattern(5000, 2, true)},
                                     {"C", pattern(5000, 3, true)},
                                     {"D", pattern(5000, 4, true)}},
                                    tcompTYPE_MSZIP);
    s[0].flushFolderAfter = true;
    s[1].nextCabinetAfter = true;
    const WriterRun w = writeCabinet(fs, makeCcab("part0.cab"), s);
    ASSERT_TRUE(w.ok);
    // FCIFlushFolder places A at once; B only when its cabinet is completed.
    const auto &ev = w.log.events;
    const auto addB = std::find(ev.begin(), ev.end(), "add B");
    ASSERT_NE(addB, ev.end());
    EXPECT_NE(std::find(ev.begin(), addB, "placed A in part0.cab"), addB);
    EXPECT_NE(std::find(addB, ev.end(), "placed B in part0.cab"), ev.end());
    EXPECT_NE(std::find(ev.begin(), ev.end(), "placed C in part1.cab"), ev.end());

    const Parsed p0 = parse(fs.get("out/part0.cab"));
    const Parsed p1 = parse(fs.get("out/part1.cab"));
    EXPECT_EQ(p0.codes, (std::vector<std::uint16_t>{0, 1}));
    EXPECT_EQ(p0.flags & 3, 2);
    EXPECT_EQ(p0.next, "part1.cab");
    EXPECT_EQ(p1.codes, (std::vector<std::uint16_t>{0, 0}));
    EXPECT_EQ(p1.flags & 3, 1);
    EXPECT_EQ(p1.prev, "part0.cab");

    // Nothing continues, so reading the first cabinet needs no other one...
    const ReadResult r0 = readCabinet(fs, "part0.cab");
    ASSERT_TRUE(r0.ok);
    EXPECT_EQ(r0.files.size(), 2u);
    EXPECT_EQ(r0.events.front(), "info part1.cab #0");
    // ... and the second one reads on its own, with nothing partial.
    const ReadResult r1 = readCabinet(fs, "part1.cab");
    ASSERT_TRUE(r1.ok);
    EXPECT_TRUE(r1.files.at("D") == fs.get("src/D"));
    EXPECT_EQ(r1.files.size(), 2u);
}

}  // namespace
