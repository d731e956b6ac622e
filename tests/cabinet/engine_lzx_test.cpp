// LZX folders through the reader (FDI): one stream across data blocks and
// across the cabinets of a set, and the reference cabinets cut short or
// damaged at every byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "cabinet/cabformat.h"
#include "comp_helpers.h"
#include "comp_rawcab.h"
#include "engine_memfs.h"
#include "lzx_streamwriter.h"

using namespace cab;
using namespace enginetest;
using detail::get16;
using detail::get32;
using detail::put32;
using detail::kContinuedFromPrev;
using detail::kContinuedToNext;
namespace lzx = detail::lzx;

namespace {

struct Entry {
    std::string name;
    std::uint32_t offset, size;
    std::uint16_t iFolder;
};

struct DataBlock {
    Bytes data;
    std::uint16_t cbUncomp;
};

struct SetLinks {
    std::string prev, next;
    std::uint16_t iCabinet = 0;
};

// A cabinet of one folder of the given method, blocks as given, checksummed.
Bytes oneFolderCabinet(TCOMP type, const std::vector<Entry> &files, const std::vector<DataBlock> &blocks,
                       const SetLinks &set = {})
{
    Bytes names, table, data;
    auto str = [](Bytes &b, const std::string &s) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    };
    auto u16 = [](Bytes &b, std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto u32 = [&](Bytes &b, std::uint32_t v) {
        u16(b, v & 0xFFFF);
        u16(b, v >> 16);
    };
    if (!set.prev.empty())
        str(names, set.prev), str(names, "");
    if (!set.next.empty())
        str(names, set.next), str(names, "");
    for (const Entry &e : files) {
        u32(table, e.size);
        u32(table, e.offset);
        u16(table, e.iFolder);
        u16(table, 0x3263);
        u16(table, 0x7000);
        u16(table, 0x20);
        str(table, e.name);
    }
    const auto coffFiles = static_cast<std::uint32_t>(36 + names.size() + 8);
    const auto dataStart = static_cast<std::uint32_t>(coffFiles + table.size());
    for (const DataBlock &b : blocks) {
        Bytes head;
        u16(head, static_cast<std::uint32_t>(b.data.size()));
        u16(head, b.cbUncomp);
        const std::uint32_t c = cabtest::cabChecksum(head.data(), 4, cabtest::cabChecksum(b.data.data(), b.data.size(), 0));
        u32(data, c);
        data.insert(data.end(), head.begin(), head.end());
        data.insert(data.end(), b.data.begin(), b.data.end());
    }
    Bytes out = {'M', 'S', 'C', 'F'};
    u32(out, 0);
    u32(out, static_cast<std::uint32_t>(dataStart + data.size()));
    u32(out, 0);
    u32(out, coffFiles);
    u32(out, 0);
    out.push_back(3);
    out.push_back(1);
    u16(out, 1);
    u16(out, static_cast<std::uint32_t>(files.size()));
    u16(out, (set.prev.empty() ? 0 : 1) | (set.next.empty() ? 0 : 2));
    u16(out, 77);
    u16(out, set.iCabinet);
    out.insert(out.end(), names.begin(), names.end());
    u32(out, dataStart);
    u16(out, static_cast<std::uint32_t>(blocks.size()));
    u16(out, type);
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes slice(const Bytes &b, std::size_t from, std::size_t n)
{
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

TEST(LzxFolders, OneStreamRunsAcrossBlocksAndTwoCabinetsWithASplitBlock)
{
    lzxtest::TokenSource src(3, lzx::maxOffset(16));
    lzxtest::Stream s;
    s.windowBits = 16;
    lzxtest::Block b;
    b.type = lzx::kBlockAligned;
    b.tokens = src.take(100000);
    s.blocks.push_back(b);
    const Bytes content = lzxtest::expand(s);
    const std::vector<lzxtest::Frame> frames = lzxtest::StreamWriter{}.encode(s).frames;
    ASSERT_EQ(frames.size(), 4u);

    // File B starts in the first cabinet and ends in the second, in the frame
    // whose data block is cut between them; C lies wholly in the second.
    const Bytes &cut = frames[2].data;
    for (const std::size_t first : {std::size_t{1}, std::size_t{40}, cut.size() - 2}) {
        const Bytes one = oneFolderCabinet(
            TCOMPfromLZXWindow(16), {{"A", 0, 50000, 0}, {"B", 50000, 30000, kContinuedToNext}},
            {{frames[0].data, 32768}, {frames[1].data, 32768}, {slice(cut, 0, first), 0}}, {"", "s2.cab", 0});
        const Bytes two = oneFolderCabinet(
            TCOMPfromLZXWindow(16), {{"B", 50000, 30000, kContinuedFromPrev}, {"C", 80000, 20000, 0}},
            {{slice(cut, first, cut.size() - first), static_cast<std::uint16_t>(frames[2].size)},
             {frames[3].data, static_cast<std::uint16_t>(frames[3].size)}},
            {"s1.cab", "", 1});
        MemFs fs;
        fs.put("out/s1.cab", one);
        fs.put("out/s2.cab", two);
        const ReadResult r = readCabinet(fs, "s1.cab");
        ASSERT_TRUE(r.ok) << "split after " << first << " error " << r.erf.erfOper;
        EXPECT_TRUE(r.files.at("A") == slice(content, 0, 50000));
        EXPECT_TRUE(r.files.at("B") == slice(content, 50000, 30000));
        EXPECT_TRUE(r.files.at("C") == slice(content, 80000, 20000));
        EXPECT_EQ(fs.openHandles(), 0u);
    }
}

TEST(LzxFolders, ABlockThatOverrunsTheFolderIsDamage)
{
    // The stream's one block claims more than the folder's blocks hold.
    lzxtest::Stream s;
    lzxtest::Block b;
    b.tokens = {lzxtest::lit('a'), lzxtest::lit('b'), lzxtest::match(30, 1)};
    b.size = 40000;
    s.blocks.push_back(b);
    const lzxtest::Frame f = lzxtest::StreamWriter{}.encode(s).frames.at(0);
    MemFs fs;
    fs.put("out/o.cab", oneFolderCabinet(TCOMPfromLZXWindow(17), {{"O", 0, 32, 0}}, {{f.data, 32}}));
    const ReadResult r = readCabinet(fs, "o.cab");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.erf.erfOper, FDIERROR_MDI_FAIL);
}

// --- other readers as black boxes ---------------------------------------------

struct ForOthers {
    std::string what;
    lzxtest::Stream stream;
    Bytes content;
};

// Streams whose reading the published description leaves open or easy to
// get wrong.
std::vector<ForOthers> streamsForOtherReaders()
{
    using namespace lzxtest;
    std::vector<std::pair<std::string, Stream>> v;
    for (int bits = lzx::kMinWindowBits; bits <= lzx::kMaxWindowBits; ++bits) {
        TokenSource src(static_cast<std::uint32_t>(bits), lzx::maxOffset(bits) - 1);
        Stream s;
        s.windowBits = bits;
        s.blocks = {verbatim(src.take(30000)), aligned(src.take(50001))};
        v.emplace_back("window " + std::to_string(bits), s);
    }
    for (const auto &[lead, size] : uncompressedSplits())
        v.emplace_back("uncompressed " + std::to_string(lead) + " + " + std::to_string(size),
                       uncompressedAcrossFrames(lead, size));
    for (int n = 1; n < 64; ++n) {
        Stream s;
        s.blocks = {verbatim(letters(n)), uncompressed(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}), verbatim({match(9, 9)})};
        if (StreamWriter{}.encode(s).wholeWordPadding) {
            v.emplace_back("uncompressed after a word boundary", s);
            break;
        }
    }
    std::vector<Token> digits;
    for (int i = 0; i < 200; ++i)
        digits.push_back(i % 10 == 9 ? match(12 + i % 50, 1 + i % 100) : lit(static_cast<std::uint8_t>('0' + i % 10)));
    Stream deltas;
    deltas.blocks = {verbatim(letters(200), true), verbatim(digits, true), verbatim(letters(300)), aligned(letters(50)),
                     verbatim(digits, true)};
    v.emplace_back("tree deltas", deltas);
    v.emplace_back("run over changed lengths", runOverChangedLengths());
    std::vector<ForOthers> out;
    for (auto &[what, s] : v)
        out.push_back({what, s, expand(s)});
    const Bytes calls = callsNearFrameEnds();
    out.push_back({"E8 calls near frame ends", e8Stream(calls), calls});
    return out;
}

TEST(LzxFolders, OtherReadersDecodeTheTestStreamsAsWeDo)
{
    // Every window, uncompressed blocks across frames and after a word
    // boundary, tree lengths changing between blocks, E8 calls at frame
    // ends: read by cabextract and 7-Zip as black boxes. (bsdtar differs on
    // an uncompressed block of odd size that fills its frame; 7-Zip on an
    // offset of exactly 2^W - 3, which these streams avoid.)
    std::vector<std::string> tools;
    if (cabtest::haveTool("cabextract"))
        tools.push_back("cabextract -q -d OUT CAB");
    if (cabtest::haveTool("7zz"))
        tools.push_back("7zz x -y -oOUT CAB");
    if (tools.empty())
        GTEST_SKIP() << cabtest::toolAbsent("cabextract") << "; " << cabtest::toolAbsent("7zz");
    cabtest::TempDir dir;
    for (const auto &[what, s, content] : streamsForOtherReaders()) {
        std::vector<DataBlock> blocks;
        for (const lzxtest::Frame &f : lzxtest::StreamWriter{}.encode(s).frames)
            blocks.push_back({f.data, static_cast<std::uint16_t>(f.size)});
        const Bytes cab = oneFolderCabinet(TCOMPfromLZXWindow(s.windowBits),
                                           {{"F.BIN", 0, static_cast<std::uint32_t>(content.size()), 0}}, blocks);
        MemFs fs;
        fs.put("out/t.cab", cab);
        const ReadResult ours = readCabinet(fs, "t.cab");
        ASSERT_TRUE(ours.ok) << what;
        EXPECT_TRUE(ours.files.at("F.BIN") == content) << what;
        cabtest::writeFile(dir / "t.cab", std::string(cab.begin(), cab.end()));
        for (std::string command : tools) {
            std::system(("rm -rf " + cabtest::quote(dir / "x")).c_str());
            command.replace(command.find("OUT"), 3, cabtest::quote(dir / "x"));
            command.replace(command.find("CAB"), 3, cabtest::quote(dir / "t.cab"));
            const cabtest::RunResult r = cabtest::run(command);
            EXPECT_EQ(r.status, 0) << what << ": " << command << "\n" << r.output;
            const std::string theirs = cabtest::readFile(dir / "x/F.BIN");
            EXPECT_TRUE(theirs == std::string(content.begin(), content.end())) << what << ": " << command;
        }
    }
}

// --- the reference cabinets, damaged -----------------------------------------

// Data blocks of every folder get checksum 0 (not checked), so that damage
// reaches the decoder. Only the plain layout of the reference cabinets.
Bytes withoutChecksums(Bytes b)
{
    const std::uint16_t folders = get16(&b[26]);
    for (std::uint16_t i = 0; i < folders; ++i) {
        std::uint32_t at = get32(&b[36 + 8 * i]);
        for (std::uint16_t k = 0; k < get16(&b[36 + 8 * i + 4]); ++k) {
            put32(&b[at], 0);
            at += 8 + get16(&b[at + 4]);
        }
    }
    return b;
}

bool cleanFailure(const ReadResult &r)
{
    return r.erf.fError && r.erf.erfOper > FDIERROR_NONE && r.erf.erfOper <= FDIERROR_WRONG_CABINET &&
           r.erf.erfOper != FDIERROR_ALLOC_FAIL && r.erf.erfOper != FDIERROR_TARGET_FILE;
}

TEST(LzxReference, EveryTruncationAndEveryFlippedByteFailsCleanly)
{
    const std::string dir = cabtest::referenceCabinets();
    if (dir.empty())
        GTEST_SKIP() << cabtest::kNoReferenceCabinets;
    int cabinets = 0;
    for (const auto &item : std::filesystem::directory_iterator(dir)) {
        if (item.path().extension() != ".cab")
            continue;
        ++cabinets;
        const std::string name = item.path().filename().string();
        const std::string text = cabtest::readFile(item.path().string());
        const Bytes whole(text.begin(), text.end());
        ASSERT_EQ(get16(&whole[30]), 0) << name << ": a plain cabinet";
        MemFs ref;
        ref.put("out/x.cab", whole);
        const ReadResult expected = readCabinet(ref, "x.cab");
        const bool quantum = name.find("quantum") != std::string::npos;
        ASSERT_EQ(expected.ok, !quantum) << name;

        for (std::size_t len = 0; len < whole.size(); ++len) {
            MemFs fs;
            fs.put("out/x.cab", slice(whole, 0, len));
            const ReadResult r = readCabinet(fs, "x.cab");
            EXPECT_FALSE(r.ok) << name << " cut to " << len;
            EXPECT_TRUE(cleanFailure(r)) << name << " cut to " << len << ": " << r.erf.erfOper;
            EXPECT_EQ(fs.openHandles(), 0u);
        }
        const Bytes plain = withoutChecksums(whole);
        for (std::size_t i = 0; i < plain.size(); ++i) {
            for (const std::uint8_t mask : {0x01, 0x10, 0x80, 0xFF}) {
                Bytes b = plain;
                b[i] ^= mask;
                MemFs fs;
                fs.put("out/x.cab", b);
                const ReadResult r = readCabinet(fs, "x.cab");
                EXPECT_TRUE(r.ok || cleanFailure(r)) << name << " byte " << i << ": " << r.erf.erfOper;
                EXPECT_EQ(fs.openHandles(), 0u);
            }
        }
    }
    EXPECT_GE(cabinets, 6);
}

}  // namespace
