// Cabinets from our writer, read by Debian's cabextract, gcab and bsdtar;
// cabinets from gcab, read by our reader. Byte-exact both ways.
#include "comp_helpers.h"

#include <algorithm>

using namespace qv;
using namespace cabtest;

namespace {

const std::string kPolish = "\xC5\xBB\xC3\x93\xC5\x81\xC4\x86.TXT";  // ŻÓŁĆ.TXT

// One company folder with the awkward cases.
struct Sample {
    std::map<std::string, std::string> files;  // name -> contents
};

Sample makeSample(const std::string &folder, bool withBig)
{
    Sample s;
    s.files["EMPTY.DAT"] = "";
    s.files["B32767.DAT"] = makeData(32767, 11);
    s.files["B32768.DAT"] = makeData(32768, 12, false);
    s.files["B32769.DAT"] = makeData(32769, 13);
    s.files["LEDGER.DBF"] = makeData(300000, 14);
    s.files["NOISE.BIN"] = makeData(40000, 15, false);
    s.files["HIDDEN.DAT"] = makeData(500, 16);
    s.files["RO.DAT"] = makeData(700, 17);
    s.files[kPolish] = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84\r\n";
    if (withBig)
        s.files["SPAN.BIN"] = makeData(150000, 18, false);
    for (const auto &[name, data] : s.files)
        writeFile(folder + "/" + name, data);
    FileSetAttributes(folder + "/HIDDEN.DAT", faHidden | faArchive);
    FileSetAttributes(folder + "/RO.DAT", faReadOnly | faArchive);
    return s;
}

enum class Kind { None, MsZip, Reserves, Spanned };

struct Built {
    std::string cabinet;  // the first one
    std::vector<std::string> all;
};

Built buildCabinet(const TempDir &dir, Kind kind, const std::string &companyFolder)
{
    TSTCabWriter w;
    w.SetCompressionType(kind == Kind::None ? cctNone : cctMsZip);
    if (kind == Kind::Reserves) {
        w.ReservePerCabinetSize = 20;
        w.ReservePerFolderSize = 4;
        w.ReservePerDataSize = 8;
    }
    if (kind == Kind::Spanned) {
        w.CabinetSizeThreshold = 60000;
        w.SetID = 777;
    }
    w.FolderFileCountThreshold = kind == Kind::MsZip ? 4 : 0;
    Built b;
    b.cabinet = dir / "out/ARCH.CAB";
    w.Open(b.cabinet);
    w.AddFiles(JoinPath({companyFolder, "*.*"}), "FIRMA1", false);
    w.Close(true);
    b.all.push_back(b.cabinet);
    for (int i = 1; FileExists(dir / ("out/" + w.CabinetFileName(i))); ++i)
        b.all.push_back(dir / ("out/" + w.CabinetFileName(i)));
    return b;
}

class WriterInterop : public ::testing::TestWithParam<Kind> {};
// gcab and bsdtar read single cabinets, not sets.
class WriterInteropSingle : public ::testing::TestWithParam<Kind> {};

void expectTree(const std::string &root, const Sample &s)
{
    for (const auto &[name, data] : s.files) {
        const std::string got = readFile(root + "/FIRMA1/" + name);
        EXPECT_TRUE(got == data) << name << ": " << got.size() << " bytes instead of " << data.size();
    }
    EXPECT_EQ(listTree(root + "/FIRMA1").size(), s.files.size());
}

}  // namespace

TEST_P(WriterInterop, CabextractListsAndExtractsByteExact)
{
    if (const std::string why = toolAbsent("cabextract"); !why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    const Kind kind = GetParam();
    const Sample s = makeSample(dir / "FIRMA1", kind == Kind::Spanned);
    const Built b = buildCabinet(dir, kind, dir / "FIRMA1");
    if (kind == Kind::Spanned) {
        ASSERT_GE(b.all.size(), 3u) << "the set should span cabinets";
    }

    const RunResult test = run("cabextract -t " + quote(b.cabinet));
    EXPECT_EQ(test.status, 0) << test.output;
    const RunResult list = run("cabextract -l " + quote(b.cabinet));
    ASSERT_EQ(list.status, 0) << list.output;
    for (const auto &[name, data] : s.files)
        EXPECT_NE(list.output.find("FIRMA1/" + name), std::string::npos) << name << "\n" << list.output;
    const RunResult x = run("cabextract -q -d " + quote(dir / "x") + " " + quote(b.cabinet));
    ASSERT_EQ(x.status, 0) << x.output;
    expectTree(dir / "x", s);
}

TEST_P(WriterInteropSingle, GcabListsAndExtractsByteExact)
{
    const Kind kind = GetParam();
    if (const std::string why = toolAbsent("gcab"); !why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    const Sample s = makeSample(dir / "FIRMA1", false);
    const Built b = buildCabinet(dir, kind, dir / "FIRMA1");
    const RunResult list = run("gcab -l " + quote(b.cabinet));
    ASSERT_EQ(list.status, 0) << list.output;
    for (const auto &[name, data] : s.files)
        EXPECT_NE(list.output.find("FIRMA1\\" + name), std::string::npos) << name << "\n" << list.output;
    ForceDirectories(dir / "x");
    const RunResult x = run("gcab -x -C " + quote(dir / "x") + " " + quote(b.cabinet));
    ASSERT_EQ(x.status, 0) << x.output;
    expectTree(dir / "x", s);
}

TEST_P(WriterInteropSingle, BsdtarListsAndExtractsByteExact)
{
    const Kind kind = GetParam();
    if (const std::string why = toolAbsent("bsdtar"); !why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    const Sample s = makeSample(dir / "FIRMA1", false);
    const Built b = buildCabinet(dir, kind, dir / "FIRMA1");
    const RunResult list = run("LC_ALL=C.UTF-8 bsdtar -tf " + quote(b.cabinet));
    ASSERT_EQ(list.status, 0) << list.output;
    for (const auto &[name, data] : s.files)
        EXPECT_NE(list.output.find("FIRMA1/" + name), std::string::npos) << name << "\n" << list.output;
    ForceDirectories(dir / "x");
    const RunResult x = run("cd " + quote(dir / "x") + " && LC_ALL=C.UTF-8 bsdtar -xf " + quote(b.cabinet));
    ASSERT_EQ(x.status, 0) << x.output;
    expectTree(dir / "x", s);
}

std::string kindName(const ::testing::TestParamInfo<Kind> &i)
{
    switch (i.param) {
    case Kind::None: return "Stored";
    case Kind::MsZip: return "MsZip";
    case Kind::Reserves: return "Reserves";
    case Kind::Spanned: return "Spanned";
    }
    return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriterInterop,
                         ::testing::Values(Kind::None, Kind::MsZip, Kind::Reserves, Kind::Spanned), kindName);
INSTANTIATE_TEST_SUITE_P(Kinds, WriterInteropSingle, ::testing::Values(Kind::None, Kind::MsZip, Kind::Reserves),
                         kindName);

// The writer stores the attributes that the file layer reports and the
// local last-write time; cabextract shows both from the header.
TEST(WriterInteropAttributes, HiddenReadOnlyAndDatesReachTheCabinet)
{
    TempDir dir;
    writeFile(dir / "F/RO.DAT", "r");
    writeFile(dir / "F/H.DAT", "h");
    writeFile(dir / "F/N.DAT", "n");
    FileSetAttributes(dir / "F/RO.DAT", faReadOnly | faArchive);
    const bool dosAttrs = dosAttributesKept(dir.path());
    FileSetAttributes(dir / "F/H.DAT", faHidden);
    setLocalMTime(dir / "F/N.DAT", 2005, 3, 3, 14, 15, 36);
    TSTCabWriter w;
    w.SetCompressionType(cctMsZip);
    w.Open(dir / "A.CAB");
    w.AddFile(dir / "F/RO.DAT", "RO.DAT");
    w.AddFile(dir / "F/H.DAT", "H.DAT");
    w.AddFile(dir / "F/N.DAT", "N.DAT");
    w.Close(true);
    const RawCabinet c = parseCabinet(dir / "A.CAB");
    ASSERT_EQ(c.entries.size(), 3u);
    EXPECT_EQ(c.entries[0].attribs & 0x27, 0x21);
    if (dosAttrs) {
        EXPECT_EQ(c.entries[1].attribs & 0x27, qv::test::AttributesAsRead(0x02));
    }
    EXPECT_EQ(c.entries[2].attribs & 0x27, 0x20) << "a file without stored bits reports archive";
    EXPECT_EQ(c.entries[2].date, dosDate(2005, 3, 3));
    EXPECT_EQ(c.entries[2].time, dosTime(14, 15, 36));
    if (haveTool("cabextract")) {
        const RunResult list = run("cabextract -l " + quote(dir / "A.CAB"));
        EXPECT_NE(list.output.find("03.03.2005 14:15:36"), std::string::npos) << list.output;
    }
}

// ---- gcab writes, we read ----

class GcabToReader : public ::testing::TestWithParam<bool> {};

TEST_P(GcabToReader, ReaderListsAndExtractsGcabCabinetsByteExact)
{
    if (const std::string why = toolAbsent("gcab"); !why.empty())
        GTEST_SKIP() << why;
    const bool compress = GetParam();
    TempDir dir;
    std::map<std::string, std::string> files = {
        {"FIRMA1/EMPTY.DAT", ""},
        {"FIRMA1/B32767.DAT", makeData(32767, 21)},
        {"FIRMA1/B32768.DAT", makeData(32768, 22, false)},
        {"FIRMA1/B32769.DAT", makeData(32769, 23)},
        {"FIRMA1/LEDGER.DBF", makeData(250000, 24)},
        {"FIRMA2/NOISE.BIN", makeData(70000, 25, false)},
        {"FIRMA2/" + kPolish, "zolc"},
    };
    std::string args;
    for (const auto &[name, data] : files) {
        writeFile(dir / ("src/" + name), data);
        args += " " + quote(name);
    }
    const RunResult made =
        run("cd " + quote(dir / "src") + " && gcab -c " + (compress ? "-z " : "") + quote(dir / "G.CAB") + args);
    ASSERT_EQ(made.status, 0) << made.output;

    TSTCabReader r;
    cab::FDICABINETINFO info;
    ASSERT_TRUE(r.IsCabinet(dir / "G.CAB", info));
    EXPECT_EQ(info.cFiles, files.size());
    std::map<std::string, std::int32_t> listed;
    ASSERT_TRUE(r.EnumerateFiles(dir / "G.CAB", [&](TSTCabReader &, const std::string &name, std::int32_t size,
                                                    std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t,
                                                    bool &) { listed[name] = size; }));
    for (const auto &[name, data] : files) {
        std::string cabName = name;
        std::replace(cabName.begin(), cabName.end(), '/', '\\');
        EXPECT_EQ(listed[cabName], static_cast<std::int32_t>(data.size())) << cabName;
    }
    r.ExtractFiles(dir / "G.CAB", dir / "x", false);
    for (const auto &[name, data] : files)
        EXPECT_TRUE(readFile(dir / ("x/" + name)) == data) << name;
    EXPECT_EQ(listTree(dir / "x").size(), files.size() + 2) << "files plus the two folders, nothing else";
}

INSTANTIATE_TEST_SUITE_P(Compression, GcabToReader, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &i) {
                             return std::string(i.param ? "MsZip" : "Stored");
                         });
