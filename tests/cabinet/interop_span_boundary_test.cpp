// A folder that goes on in the next cabinet must end in this one with a cut
// block: readers that meet a whole block there take the folder as complete
// and lose the rest of the file. Every cabinet size around the point where
// the last whole block leaves no room for even one byte of the next, MSZIP
// and LZX, with and without a data-block reserve; the sets are read back by
// cabextract and 7-Zip, and by our reader where it knows the method.
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

class SpanBoundary : public ::testing::TestWithParam<BoundaryCase> {};

}  // namespace

TEST_P(SpanBoundary, EveryOffsetAroundTheLimitEndsTheCabinetOnACutBlock)
{
    const BoundaryCase c = GetParam();
    for (const char *tool : {"cabextract", "7zz"})
        if (!haveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    TempDir dir;
    const Files files = {{"F\\DANE.TXT", ledgerText(7 * 32768 + 1000, 11)}};
    writeFile(dir / "src/DANE.TXT", files[0].second);
    auto build = [&](std::uint32_t limit, const std::string &name) {
        TSTCabWriter w;
        w.SetCompressionType(c.type);
        w.ReservePerDataSize = c.dataReserve;
        w.CabinetSizeThreshold = limit;
        const std::string first = dir / (name + "/A.CAB");
        w.Open(first);
        w.AddFile(dir / "src/DANE.TXT", files[0].first, false);
        w.Close(true);
        std::vector<std::string> set{first};
        for (int i = 1; FileExists(dir / (name + "/" + w.CabinetFileName(i))); ++i)
            set.push_back(dir / (name + "/" + w.CabinetFileName(i)));
        return set;
    };

    // Blocks do not depend on the cabinet size: one unlimited cabinet tells
    // where the second whole block ends.
    const RawLayout whole = parseLayout(build(0, "whole")[0]);
    ASSERT_EQ(whole.folders.size(), 1u);
    const std::vector<RawBlock> &blocks = whole.folders[0].blocks;
    ASSERT_GE(blocks.size(), 6u);
    const std::uint32_t header = 8 + c.dataReserve;
    const std::uint32_t twoBlocks =
        whole.folders[0].dataStart + kNamesRoom + 2 * header + blocks[0].cbData + blocks[1].cbData;

    for (int room = -2; room <= static_cast<int>(header) + 3; ++room) {
        SCOPED_TRACE("bytes left after two whole blocks: " + std::to_string(room));
        const std::uint32_t limit = twoBlocks + room;
        const std::vector<std::string> set = build(limit, "r" + std::to_string(room + 10));
        ASSERT_GE(set.size(), 2u);
        for (const std::string &cab : set) {
            EXPECT_LE(readFile(cab).size(), limit);
            const RawLayout l = parseLayout(cab);
            if (l.flags & 2) {
                EXPECT_EQ(l.folders.back().blocks.back().cbUncomp, 0) << ExtractFileName(cab) << " ends on a whole block";
            }
        }
        // The first cabinet ends in the second block cut where the limit
        // falls, or, when no byte of the third block would fit behind it,
        // in the second block cut just before its end; never on it whole.
        const RawLayout first = parseLayout(set[0]);
        const std::vector<RawBlock> &cut = first.folders[0].blocks;
        const int spare = static_cast<int>(header);
        ASSERT_EQ(cut.size(), room > spare ? 3u : 2u);
        if (room < 0) {
            EXPECT_EQ(cut[1].cbData, blocks[1].cbData + room);
        } else if (room <= spare) {
            EXPECT_EQ(cut[1].cbData, blocks[1].cbData - 1);
        } else {
            EXPECT_EQ(cut[2].cbData, room - spare);
        }
        for (const Reader r : {Reader::Ours, Reader::Cabextract, Reader::SevenZip}) {
            const std::string dest = dir / ("x" + std::to_string(room + 10) + readerTool(r));
            const RunResult x = extractWith(r, set[0], dest);
            EXPECT_EQ(x.status, 0) << readerTool(r) << ": " << x.output;
            EXPECT_EQ(differences(files, dest), "") << readerTool(r);
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
