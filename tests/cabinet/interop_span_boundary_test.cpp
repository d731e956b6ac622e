// A folder that goes on in the next cabinet must end in this one with a cut
// block: readers that meet a whole block there take the folder as complete
// and lose the rest of the file. Every cabinet size around the point where
// the last whole block leaves no room for even one byte of the next, MSZIP
// and LZX, with and without a data-block reserve; the sets are read back by
// our reader, and by cabextract and 7-Zip in a test of their own (Linux
// tools, so on Windows that one says why it skips).
#include "lzx_helpers.h"

using namespace qv;
using namespace cabtest;

namespace {

// Until it knows the next cabinet's names the writer keeps room for them:
// a cabinet name and a disk name of up to 255 bytes, each with its NUL.
constexpr std::uint32_t kNamesRoom = 512;

struct BoundaryCase {
    TSTCabCompressionType type;
    std::uint32_t dataReserve;
};

// One set per cabinet size around the limit: room is what the limit leaves
// after the second whole block and its header.
struct SpanSet {
    int room = 0;
    std::uint32_t limit = 0;
    std::vector<std::string> cabinets;
};

struct Sets {
    Files files;
    std::vector<RawBlock> blocks;  // of the folder in one unlimited cabinet
    std::vector<SpanSet> sets;
};

Sets buildSets(const TempDir &dir, const BoundaryCase &c)
{
    Sets out;
    out.files = {{"F\\DANE.TXT", ledgerText(7 * 32768 + 1000, 11)}};
    writeFile(dir / "src/DANE.TXT", out.files[0].second);
    auto build = [&](std::uint32_t limit, const std::string &name) {
        TSTCabWriter w;
        w.SetCompressionType(c.type);
        w.ReservePerDataSize = c.dataReserve;
        w.CabinetSizeThreshold = limit;
        const std::string first = dir / (name + "/A.CAB");
        w.Open(first);
        w.AddFile(dir / "src/DANE.TXT", out.files[0].first, false);
        w.Close(true);
        std::vector<std::string> set{first};
        for (int i = 1; FileExists(dir / (name + "/" + w.CabinetFileName(i))); ++i)
            set.push_back(dir / (name + "/" + w.CabinetFileName(i)));
        return set;
    };

    // Blocks do not depend on the cabinet size: one unlimited cabinet tells
    // where the second whole block ends.
    const RawLayout whole = parseLayout(build(0, "whole")[0]);
    if (whole.folders.size() != 1)
        throw std::runtime_error("the unlimited cabinet should hold one folder");
    out.blocks = whole.folders[0].blocks;
    if (out.blocks.size() < 6)
        throw std::runtime_error("the folder should take at least six blocks");
    const std::uint32_t header = 8 + c.dataReserve;
    const std::uint32_t twoBlocks =
        whole.folders[0].dataStart + kNamesRoom + 2 * header + out.blocks[0].cbData + out.blocks[1].cbData;
    for (int room = -2; room <= static_cast<int>(header) + 3; ++room) {
        SpanSet s;
        s.room = room;
        s.limit = twoBlocks + room;
        s.cabinets = build(s.limit, "r" + std::to_string(room + 10));
        out.sets.push_back(s);
    }
    return out;
}

class SpanBoundary : public ::testing::TestWithParam<BoundaryCase> {};

}  // namespace

TEST_P(SpanBoundary, EveryOffsetAroundTheLimitEndsTheCabinetOnACutBlock)
{
    const BoundaryCase c = GetParam();
    TempDir dir;
    const Sets all = buildSets(dir, c);
    const int spare = static_cast<int>(8 + c.dataReserve);
    for (const SpanSet &s : all.sets) {
        SCOPED_TRACE("bytes left after two whole blocks: " + std::to_string(s.room));
        ASSERT_GE(s.cabinets.size(), 2u);
        for (const std::string &cab : s.cabinets) {
            EXPECT_LE(readFile(cab).size(), s.limit);
            const RawLayout l = parseLayout(cab);
            if (l.flags & 2) {
                EXPECT_EQ(l.folders.back().blocks.back().cbUncomp, 0) << ExtractFileName(cab) << " ends on a whole block";
            }
        }
        // The first cabinet ends in the second block cut where the limit
        // falls, or, when no byte of the third block would fit behind it,
        // in the second block cut just before its end; never on it whole.
        const RawLayout first = parseLayout(s.cabinets[0]);
        const std::vector<RawBlock> &cut = first.folders[0].blocks;
        ASSERT_EQ(cut.size(), s.room > spare ? 3u : 2u);
        if (s.room < 0) {
            EXPECT_EQ(cut[1].cbData, all.blocks[1].cbData + s.room);
        } else if (s.room <= spare) {
            EXPECT_EQ(cut[1].cbData, all.blocks[1].cbData - 1);
        } else {
            EXPECT_EQ(cut[2].cbData, s.room - spare);
        }
        const std::string dest = dir / ("x" + std::to_string(s.room + 10) + "ours");
        const RunResult x = extractWith(Reader::Ours, s.cabinets[0], dest);
        EXPECT_EQ(x.status, 0) << x.output;
        EXPECT_EQ(differences(all.files, dest), "");
    }
}

TEST_P(SpanBoundary, OutsideReadersFollowEverySetAcrossTheCut)
{
    for (const char *tool : {"cabextract", "7zz"})
        if (const std::string why = toolAbsent(tool); !why.empty())
            GTEST_SKIP() << why;
    TempDir dir;
    const Sets all = buildSets(dir, GetParam());
    for (const SpanSet &s : all.sets) {
        SCOPED_TRACE("bytes left after two whole blocks: " + std::to_string(s.room));
        for (const Reader r : {Reader::Cabextract, Reader::SevenZip}) {
            const std::string dest = dir / ("x" + std::to_string(s.room + 10) + readerTool(r));
            const RunResult x = extractWith(r, s.cabinets[0], dest);
            EXPECT_EQ(x.status, 0) << readerTool(r) << ": " << x.output;
            EXPECT_EQ(differences(all.files, dest), "") << readerTool(r);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, SpanBoundary,
                         ::testing::Values(BoundaryCase{cctMsZip, 0}, BoundaryCase{cctLzx, 0},
                                           BoundaryCase{cctMsZip, 12}, BoundaryCase{cctLzx, 12}),
                         [](const ::testing::TestParamInfo<BoundaryCase> &i) {
                             return std::string(i.param.type == cctMsZip ? "MsZip" : "Lzx") +
                                    (i.param.dataReserve ? "WithReserve" : "");
                         });
