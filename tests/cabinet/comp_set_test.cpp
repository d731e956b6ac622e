// A set is read whole from whichever part the user names: ExtractFiles and
// TestCabinet go back through the previous parts the headers name to the
// first, then forward to the last; a part that is missing, whether before or
// after the one named, is named in the failure; links that loop or lead into
// another set are refused. Sets from our writer (a file across several parts,
// files that begin in middle parts, every method) and a set laid out by hand
// as another writer may lay one out (whole files in each part).
#include "comp_rawcab.h"
#include "lzx_helpers.h"

#include <map>

using namespace qv;
using namespace cabtest;

namespace {

struct SetCase {
    const char *label;
    TSTCabCompressionType type;  // cctNone for the hand-built set
    bool ours;
};

struct BuiltSet {
    std::vector<std::string> parts;  // in order, first to last
    Files files;
};

BuiltSet writeOurSet(const TempDir &dir, TSTCabCompressionType type)
{
    BuiltSet b;
    b.files = {{"HEAD.TXT", makeData(3000, 1)},
               {"SPAN.BIN", makeData(180000, 2, false)},
               {"MID\\A.BIN", makeData(50000, 3, false)},
               {"MID\\EMPTY", ""},
               {"MID\\B.TXT", makeData(20000, 4)},
               {"TAIL.TXT", makeData(900, 5)}};
    TSTCabWriter w;
    w.SetCompressionType(type);
    w.SetCompressionLzxLevel(16);
    w.CabinetSizeThreshold = 60000;
    w.SetID = 321;
    w.OnCabinetsComplete = [&](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &set, bool &) {
        for (const TSTCabCompletedCabinet &c : set)
            b.parts.push_back(c.FileName);
    };
    w.Open(dir / "set/S.CAB");
    int i = 0;
    for (const auto &[name, data] : b.files) {
        const std::string src = dir / ("src/" + std::to_string(i++));
        writeFile(src, data);
        w.AddFile(src, name);
    }
    w.Close(true);
    return b;
}

BuiltSet writeHandBuiltSet(const TempDir &dir)
{
    BuiltSet b;
    b.files = {{"ONE.TXT", makeData(5000, 6)}, {"TWO.TXT", makeData(7000, 7)}, {"THREE.TXT", makeData(100, 8)}};
    const char *names[] = {"R.CAB", "R1.CAB", "R2.CAB"};
    for (int k = 0; k < 3; ++k) {
        RawSet links;
        links.setID = 77;
        links.iCabinet = static_cast<std::uint16_t>(k);
        if (k > 0)
            links.prevCab = names[k - 1], links.prevDisk = "d";
        if (k < 2)
            links.nextCab = names[k + 1], links.nextDisk = "d";
        const auto &[name, data] = b.files[static_cast<std::size_t>(k)];
        b.parts.push_back(dir / (std::string("set/") + names[k]));
        writeFile(b.parts.back(), buildRawCabinet({{name, data}}, links));
    }
    return b;
}

class SetFromAnyPart : public ::testing::TestWithParam<SetCase> {
protected:
    TempDir dir;
    BuiltSet set;
    void SetUp() override
    {
        set = GetParam().ours ? writeOurSet(dir, GetParam().type) : writeHandBuiltSet(dir);
        ASSERT_GE(set.parts.size(), 3u) << "the set needs middle parts";
    }
    std::uint64_t totalBytes() const
    {
        std::uint64_t n = 0;
        for (const auto &f : set.files)
            n += f.second.size();
        return n;
    }
};

std::string errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ESTCabinet &e) {
        return e.what();
    }
    return "<no error>";
}

}  // namespace

TEST_P(SetFromAnyPart, ExtractFilesGivesEveryFileOnceWhicheverPartIsNamed)
{
    for (std::size_t k = 0; k < set.parts.size(); ++k) {
        SCOPED_TRACE("named part " + std::to_string(k));
        TSTCabReader r;
        std::map<std::string, int> copies;
        r.OnCopyFile = [&](TSTCabReader &, const std::string &src, std::int32_t, std::uint16_t, std::uint16_t,
                           std::uint16_t, std::uint16_t, std::string &, bool &) { ++copies[src]; };
        const std::string dest = dir / ("x" + std::to_string(k));
        r.ExtractFiles(set.parts[k], dest, false);
        EXPECT_EQ(copies.size(), set.files.size());
        for (const auto &[name, count] : copies)
            EXPECT_EQ(count, 1) << name;
        EXPECT_EQ(differences(set.files, dest), "");
    }
}

TEST_P(SetFromAnyPart, TestCabinetReadsTheWholeSetWhicheverPartIsNamed)
{
    for (std::size_t k = 0; k < set.parts.size(); ++k) {
        SCOPED_TRACE("named part " + std::to_string(k));
        TSTCabReader r;
        const TSTCabTestResult t = r.TestCabinet(set.parts[k]);
        EXPECT_EQ(t.Cabinets, set.parts.size());
        EXPECT_EQ(t.Files, set.files.size());
        EXPECT_EQ(t.Bytes, totalBytes());
        EXPECT_EQ(TSTCabReader::FirstCabinetOfSet(set.parts[k]), ExpandFileName(set.parts[0]));
    }
}

TEST_P(SetFromAnyPart, AMissingPartIsNamedFromEveryOtherPart)
{
    for (std::size_t gone = 0; gone < set.parts.size(); ++gone) {
        const std::string aside = set.parts[gone] + ".aside";
        ASSERT_TRUE(FileRename(set.parts[gone], aside));
        const std::string expected = "Cabinet set incomplete: " + ExtractFileName(set.parts[gone]) + " not found";
        for (std::size_t k = 0; k < set.parts.size(); ++k) {
            if (k == gone)
                continue;
            SCOPED_TRACE("part " + std::to_string(gone) + " missing, part " + std::to_string(k) + " named");
            TSTCabReader r;
            const std::string extracted = errorOf([&] { r.ExtractFiles(set.parts[k], dir / "y", false); });
            EXPECT_EQ(extracted.rfind(expected, 0), 0u) << extracted;
            const std::string tested = errorOf([&] { r.TestCabinet(set.parts[k]); });
            EXPECT_EQ(tested.rfind(expected, 0), 0u) << tested;
        }
        ASSERT_TRUE(FileRename(aside, set.parts[gone]));
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, SetFromAnyPart,
                         ::testing::Values(SetCase{"OursStored", cctNone, true}, SetCase{"OursMszip", cctMsZip, true},
                                           SetCase{"OursLzx", cctLzx, true}, SetCase{"HandBuilt", cctNone, false}),
                         [](const ::testing::TestParamInfo<SetCase> &i) { return std::string(i.param.label); });

TEST(SetLinks, LoopsAndPartsOfAnotherSetAreRefused)
{
    TempDir dir;
    auto part = [&](const std::string &name, const std::string &prev, std::uint16_t setID, std::uint16_t index) {
        RawSet links;
        links.prevCab = prev;
        links.prevDisk = "d";
        links.nextCab = "NEXT.CAB";
        links.nextDisk = "d";
        links.setID = setID;
        links.iCabinet = index;
        writeFile(dir / name, buildRawCabinet({{name + ".TXT", "x"}}, links));
        return dir / name;
    };
    TSTCabReader r;
    struct Case {
        const char *what;
        std::string named;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"a part that names itself before it", part("SELF.CAB", "SELF.CAB", 5, 1),
         "Cabinet set leads back to \"" + ExpandFileName(dir / "SELF.CAB") + "\" [0x000A]"},
        {"two parts that name each other before them", (part("A.CAB", "B.CAB", 5, 0), part("B.CAB", "A.CAB", 5, 1)),
         "Cabinet set leads back to \"" + ExpandFileName(dir / "B.CAB") + "\" [0x000A]"},
        {"a part before it of another set", (part("O.CAB", "", 6, 0), part("M.CAB", "O.CAB", 5, 1)),
         "Cabinet set incomplete: O.CAB is not the part of this set it names [0x000A]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(errorOf([&] { r.ExtractFiles(c.named, dir / "x", false); }), c.error);
        EXPECT_EQ(errorOf([&] { r.TestCabinet(c.named); }), c.error);
    }
    EXPECT_FALSE(PathExists(dir / "x")) << "nothing is extracted from a set that cannot be walked";
}
