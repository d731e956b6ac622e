// Cabinets written by our FCI and read back by our FDI.
#include <gtest/gtest.h>

#include "cabinet/cabformat.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;

namespace {

struct Case {
    std::string name;
    Bytes data;
};

std::vector<Source> addAll(MemFs &fs, const std::vector<Case> &cases, TCOMP type)
{
    std::vector<Source> s;
    for (const Case &c : cases) {
        fs.put("src/" + c.name, c.data);
        s.push_back(Source{"src/" + c.name, c.name, false, type});
    }
    return s;
}

void expectSame(const std::vector<Case> &cases, const ReadResult &r)
{
    ASSERT_TRUE(r.ok) << "FDI error " << r.erf.erfOper;
    ASSERT_EQ(r.files.size(), cases.size());
    for (const Case &c : cases) {
        ASSERT_TRUE(r.files.count(c.name)) << c.name;
        EXPECT_TRUE(r.files.at(c.name) == c.data) << c.name << " differs";
    }
}

class RoundTrip : public ::testing::TestWithParam<TCOMP> {};

TEST_P(RoundTrip, BlockBoundariesAndEmptyFiles)
{
    MemFs fs;
    const std::vector<Case> cases = {
        {"EMPTY.TXT", {}},
        {"A32767.DAT", pattern(32767, 1, true)},
        {"B32768.DAT", pattern(32768, 2, false)},
        {"C32769.DAT", pattern(32769, 3, true)},
        {"EMPTY2.TXT", {}},
        {"D1.DAT", pattern(1, 4, false)},
    };
    const WriterRun w = writeCabinet(fs, makeCcab("t.cab"), addAll(fs, cases, GetParam()));
    ASSERT_TRUE(w.ok) << "FCI error " << w.erf.erfOper;
    expectSame(cases, readCabinet(fs, "t.cab"));
    // Everything FCI opened is closed, its temporary files are gone, memory returned.
    EXPECT_EQ(fs.openHandles(), 0u);
    EXPECT_EQ(fs.count("tmp/"), 0u);
    EXPECT_EQ(fs.liveAllocs, 0u);
}

TEST_P(RoundTrip, LargeMixedFileKeepsEveryBlockWithinBounds)
{
    MemFs fs;
    Bytes big;
    for (int i = 0; i < 40; ++i) {
        const Bytes part = pattern(100000 + i * 777, 10 + i, i % 3 != 0);
        big.insert(big.end(), part.begin(), part.end());
    }
    const std::vector<Case> cases = {{"BIG.DAT", big}, {"SMALL.DAT", pattern(100, 7, true)}};
    const WriterRun w = writeCabinet(fs, makeCcab("big.cab"), addAll(fs, cases, GetParam()));
    ASSERT_TRUE(w.ok) << "FCI error " << w.erf.erfOper;
    for (const auto &[compressed, uncompressed] : w.log.fileStatus) {
        EXPECT_LE(uncompressed, 32768u);
        EXPECT_LE(compressed, GetParam() == tcompTYPE_MSZIP ? 32780u : 32768u);
    }
    // One report per block: the folder is cut into 32 KiB pieces.
    const std::size_t total = big.size() + 100;
    EXPECT_EQ(w.log.fileStatus.size(), (total + 32767) / 32768);
    expectSame(cases, readCabinet(fs, "big.cab"));
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTrip, ::testing::Values(tcompTYPE_NONE, tcompTYPE_MSZIP));

TEST(RoundTripLayout, SingleStoredFileMatchesHandBuiltCabinet)
{
    // The minimal cabinet of our format notes: one stored file "hello.txt".
    MemFs fs;
    fs.put("src/hello", Bytes{'H', 'e', 'l', 'l', 'o'});
    g_sourceInfo["src/hello"] = SourceInfo{0x5A21, 0x6000, _A_ARCH};
    CCAB c = makeCcab("h.cab");
    c.setID = 0x1234;
    const WriterRun w = writeCabinet(fs, c, {Source{"src/hello", "hello.txt", false, tcompTYPE_NONE}});
    ASSERT_TRUE(w.ok);
    const Bytes expected = {
        0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x53, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x34, 0x12,
        0x00, 0x00, 0x46, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x21, 0x5a, 0x00, 0x60, 0x20, 0x00, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x2e, 0x74, 0x78,
        0x74, 0x00, 0x22, 0x65, 0x69, 0x6c, 0x05, 0x00, 0x05, 0x00, 0x48, 0x65, 0x6c, 0x6c, 0x6f};
    EXPECT_EQ(fs.get("out/h.cab"), expected);
    g_sourceInfo.clear();
}

TEST(RoundTripLayout, ChecksumExamples)
{
    const std::uint8_t hello[] = {'H', 'e', 'l', 'l', 'o'};
    const std::uint8_t sizes5[] = {5, 0, 5, 0};
    EXPECT_EQ(detail::blockChecksum(sizes5, 0, hello, 5), 0x6C696522u);
    const std::uint8_t cabdata[] = {'C', 'A', 'B', 'D', 'A', 'T', 'A'};
    const std::uint8_t sizes7[] = {7, 0, 7, 0};
    EXPECT_EQ(detail::blockChecksum(sizes7, 0, cabdata, 7), 0x44041505u);
}

TEST(RoundTripLayout, ReservesAreWrittenAndSkipped)
{
    MemFs fs;
    const std::vector<Case> cases = {{"R1.DAT", pattern(70000, 5, true)}, {"R2.DAT", pattern(5000, 6, false)}};
    CCAB c = makeCcab("r.cab");
    c.cbReserveCFHeader = 6144;
    c.cbReserveCFFolder = 17;
    c.cbReserveCFData = 9;
    const WriterRun w = writeCabinet(fs, c, addAll(fs, cases, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.ok);
    const Bytes &cab = fs.get("out/r.cab");
    ASSERT_GT(cab.size(), 40u);
    EXPECT_EQ(detail::get16(cab.data() + 30) & 0x0004, 0x0004);
    EXPECT_EQ(detail::get16(cab.data() + 36), 6144);
    EXPECT_EQ(cab[38], 17);
    EXPECT_EQ(cab[39], 9);
    // The folder entry follows the header reserve; its data starts where it says.
    const std::uint32_t folder = 40 + 6144;
    const std::uint32_t coffCabStart = detail::get32(cab.data() + folder);
    EXPECT_EQ(detail::get32(cab.data() + 16), folder + 8 + 17);
    ASSERT_LT(coffCabStart + 8u, cab.size());
    EXPECT_EQ(cab[coffCabStart + 8 + 9], 'C');
    EXPECT_EQ(cab[coffCabStart + 8 + 9 + 1], 'K');
    expectSame(cases, readCabinet(fs, "r.cab"));
}

TEST(RoundTripLayout, CompressionTypeChangeStartsNewFolder)
{
    MemFs fs;
    fs.put("src/a", pattern(1000, 1, true));
    fs.put("src/b", pattern(1000, 2, true));
    fs.put("src/c", pattern(1000, 3, true));
    const WriterRun w = writeCabinet(fs, makeCcab("m.cab"),
                                     {Source{"src/a", "a", false, tcompTYPE_MSZIP},
                                      Source{"src/b", "b", false, tcompTYPE_NONE},
                                      Source{"src/c", "c", false, tcompTYPE_NONE}});
    ASSERT_TRUE(w.ok);
    const Bytes &cab = fs.get("out/m.cab");
    EXPECT_EQ(detail::get16(cab.data() + 26), 2);  // folders
    EXPECT_EQ(detail::get16(cab.data() + 36 + 6), tcompTYPE_MSZIP);
    EXPECT_EQ(detail::get16(cab.data() + 36 + 8 + 6), tcompTYPE_NONE);
    const ReadResult r = readCabinet(fs, "m.cab");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files.at("c"), fs.get("src/c"));
}

TEST(RoundTripNames, Utf8FlagAndCodePageConversion)
{
    MemFs fs;
    fs.put("src/p", pattern(10, 1, true));
    fs.put("src/q", pattern(10, 2, true));
    const std::string polish = "FIRMA1\\Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt";  // Zażółć
    const WriterRun w = writeCabinet(fs, makeCcab("n.cab"),
                                     {Source{"src/p", polish, true, tcompTYPE_MSZIP},
                                      Source{"src/q", "FIRMA1\\PLAIN.DBF", false, tcompTYPE_MSZIP}});
    ASSERT_TRUE(w.ok);
    const ReadResult r = readCabinet(fs, "n.cab");
    ASSERT_TRUE(r.ok);
    ASSERT_TRUE(r.attribs.count(polish));
    EXPECT_EQ(r.attribs.at(polish), _A_ARCH | _A_NAME_IS_UTF);  // _A_EXEC moved into cb
    EXPECT_EQ(r.execFlag.at(polish), 1);
    EXPECT_EQ(r.attribs.at("FIRMA1\\PLAIN.DBF"), _A_ARCH);
    EXPECT_EQ(r.execFlag.at("FIRMA1\\PLAIN.DBF"), 0);

    // A name without the flag is read as Windows-1250: patch the ASCII name's
    // "PLAIN" into bytes of that code page (0xAF 0xB3 0xB9 0x9C 0xF3 = Żłąśó).
    Bytes &cab = fs.get("out/n.cab");
    const std::string plain = "PLAIN";
    auto at = std::search(cab.begin(), cab.end(), plain.begin(), plain.end());
    ASSERT_NE(at, cab.end());
    const std::uint8_t cp[] = {0xAF, 0xB3, 0xB9, 0x9C, 0xF3};
    std::copy(std::begin(cp), std::end(cp), at);
    const ReadResult r2 = readCabinet(fs, "n.cab");
    ASSERT_TRUE(r2.ok);
    EXPECT_TRUE(r2.files.count("FIRMA1\\\xC5\xBB\xC5\x82\xC4\x85\xC5\x9B\xC3\xB3.DBF"));
}

}  // namespace

// Blocks of evenly spread bytes take the quick path: stored when nothing
// repeats, yet a block that repeats itself is still compressed, and every
// block reads back exact.
TEST(RoundTripMszip, SpreadBytesAreStoredUnlessTheyRepeat)
{
    MemFs fs;
    const Bytes noise = pattern(32768, 5, false);
    Bytes repeated;
    const Bytes piece = pattern(4096, 6, false);
    for (int i = 0; i < 8; ++i)
        repeated.insert(repeated.end(), piece.begin(), piece.end());
    const std::vector<Case> cases = {
        {"NOISE.BIN", noise},
        {"REPEAT.BIN", repeated},
        {"TEXT.TXT", pattern(32768, 7, true)},
    };
    const WriterRun w = writeCabinet(fs, makeCcab("q.cab"), addAll(fs, cases, tcompTYPE_MSZIP));
    ASSERT_TRUE(w.ok) << "FCI error " << w.erf.erfOper;
    ASSERT_EQ(w.log.fileStatus.size(), 3u);
    EXPECT_EQ(w.log.fileStatus[0].first, 2u + 5u + 32768u) << "noise in one stored deflate block";
    EXPECT_LT(w.log.fileStatus[1].first, 6000u) << "the repeats are found";
    EXPECT_LT(w.log.fileStatus[2].first, 24000u) << "text is deflated as ever";
    expectSame(cases, readCabinet(fs, "q.cab"));
}
