// TSTCabReader::TestCabinet and TestCabinetSet: a cabinet or a set read back
// whole, each file counted once, damage reported, nothing written.
#include "comp_helpers.h"
#include "comp_rawcab.h"

#include "cabinet/CabSTConsts.h"

#include <algorithm>

using namespace qv;
using namespace cabtest;

namespace {

using Seen = std::vector<std::pair<std::string, std::int32_t>>;

struct TestCabinetFixture : ::testing::Test {
    TempDir dir;
    TSTCabReader r;

    // A cabinet, or a set when maxCabinet is not 0, from our writer.
    std::vector<std::string> write(const std::string &cabName, const std::vector<std::pair<std::string, std::string>> &files,
                                   TSTCabCompressionType type = cctMsZip, std::uint32_t maxCabinet = 0)
    {
        TSTCabWriter w;
        w.SetCompressionType(type);
        w.CabinetSizeThreshold = maxCabinet;
        std::vector<std::string> cabinets;
        w.OnCabinetsComplete = [&](TSTCabWriter &, const std::vector<TSTCabCompletedCabinet> &set, bool &) {
            for (const TSTCabCompletedCabinet &c : set)
                cabinets.push_back(c.FileName);
        };
        w.Open(dir / cabName);
        int i = 0;
        for (const auto &[name, data] : files) {
            const std::string src = dir / ("src/" + std::to_string(i++));
            writeFile(src, data);
            w.AddFile(src, name);
        }
        w.Close(true);
        return cabinets;
    }

    TSTCabReaderTestFileEvent recorder(Seen &seen)
    {
        return [&seen](TSTCabReader &, const std::string &name, std::int32_t size, bool &) {
            seen.emplace_back(name, size);
        };
    }

    std::string errorOf(const std::function<void()> &f)
    {
        try {
            f();
        } catch (const ESTCabinet &e) {
            EXPECT_FALSE(e.IsFCI());
            return e.what();
        }
        return "<no error>";
    }
};

Seen expectedOf(const std::vector<std::pair<std::string, std::string>> &files)
{
    Seen out;
    for (const auto &[name, data] : files)
        out.emplace_back(name, static_cast<std::int32_t>(data.size()));
    return out;
}

}  // namespace

TEST_F(TestCabinetFixture, ReadsEveryFileOnceInOrderAndWritesNothing)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"FIRMA1\\KSIEGA.DBF", makeData(100000, 1)},
        {"FIRMA1\\PUSTY", ""},
        {"FIRMA2\\SKAN.BIN", makeData(70000, 2, false)},
        {"FIRMA2\\Łąka.txt", makeData(5, 3)}};
    write("A.CAB", files);
    const std::vector<std::string> before = listTree(dir.path());
    Seen seen;
    const TSTCabTestResult result = r.TestCabinet(dir / "A.CAB", recorder(seen));
    EXPECT_EQ(result.Cabinets, 1u);
    EXPECT_EQ(result.Files, 4u);
    EXPECT_EQ(result.Bytes, 170005u);
    EXPECT_EQ(seen, expectedOf(files));
    EXPECT_EQ(listTree(dir.path()), before);
}

TEST_F(TestCabinetFixture, ASpannedSetCountsEachFileOnce)
{
    // One file crosses several cabinets, others end exactly or part way in one.
    const std::vector<std::pair<std::string, std::string>> files = {
        {"A\\MALY", makeData(1000, 1)},
        {"A\\DUZY", makeData(150000, 2, false)},
        {"B\\SREDNI", makeData(40000, 3, false)},
        {"B\\PUSTY", ""},
        {"B\\OSTATNI", makeData(30000, 4, false)}};
    for (const TSTCabCompressionType type : {cctNone, cctMsZip}) {
        SCOPED_TRACE(type);
        const std::vector<std::string> set = write("out" + std::to_string(type) + "/S.CAB", files, type, 50000);
        ASSERT_GE(set.size(), 4u);
        Seen seen;
        const TSTCabTestResult result = r.TestCabinet(set.front(), recorder(seen));
        EXPECT_EQ(result.Cabinets, set.size());
        EXPECT_EQ(result.Files, files.size());
        EXPECT_EQ(result.Bytes, 221000u);
        EXPECT_EQ(seen, expectedOf(files));
        // Begun at the last cabinet, the whole set is read, from its first.
        const TSTCabTestResult tail = r.TestCabinet(set.back());
        EXPECT_EQ(tail.Cabinets, set.size());
        EXPECT_EQ(tail.Files, files.size());
    }
}

TEST_F(TestCabinetFixture, ASetUnderOtherNamesIsReadWhereItNamesItsCabinets)
{
    const std::vector<std::pair<std::string, std::string>> files = {{"A\\DUZY", makeData(150000, 2, false)},
                                                                    {"A\\MALY", makeData(100, 1)}};
    const std::vector<std::string> set = write("S.CAB", files, cctNone, 50000);
    ASSERT_GE(set.size(), 3u);
    // The final names hold an old set of other content; the new one lies beside it.
    std::vector<std::string> temps;
    for (std::size_t i = 0; i < set.size(); ++i) {
        temps.push_back(dir / ("~new" + std::to_string(i) + ".tmp"));
        ASSERT_EQ(std::rename(set[i].c_str(), temps.back().c_str()), 0);
        writeFile(set[i], "stare archiwum");
    }
    Seen seen;
    const TSTCabTestResult result = r.TestCabinetSet(temps, recorder(seen));
    EXPECT_EQ(result.Cabinets, set.size());
    EXPECT_EQ(seen, expectedOf(files));

    // The set must end with the last file given, and not before it.
    std::vector<std::string> shorter(temps.begin(), temps.end() - 1);
    EXPECT_EQ(errorOf([&] { r.TestCabinetSet(shorter); }),
              "Cabinet set goes on after \"" + shorter.back() + "\" [0x000A]");
    std::vector<std::string> longer = temps;
    longer.push_back(temps.front());
    EXPECT_EQ(errorOf([&] { r.TestCabinetSet(longer); }),
              "Cabinet set ends before \"" + temps.front() + "\" [0x000A]");
    // Given out of order, the set's own numbering catches it.
    std::vector<std::string> swapped = temps;
    std::swap(swapped[1], swapped[2]);
    EXPECT_EQ(errorOf([&] { r.TestCabinetSet(swapped); }),
              "Cabinet returned on fdintNEXT_CABINET is incorrect [0x000A]");
    EXPECT_EQ(errorOf([&] { r.TestCabinetSet({}); }), "Cabinet not found [0x0001]");
}

TEST_F(TestCabinetFixture, DamageIsReportedWithTheLibrarysError)
{
    // Hand-built stored cabinets, each with one fault.
    const std::string data = makeData(40000, 7, false);
    const std::string good = buildRawCabinet({{"A", data}, {"B", "bbb"}});
    const std::uint32_t coffFiles = le32(good, 16);
    const std::uint32_t dataStart = le32(good, 36);
    auto patched = [&](std::size_t at, char value) {
        std::string b = good;
        b[at] = value;
        return b;
    };
    const struct {
        const char *what;
        std::string bytes;
        const char *error;
    } cases[] = {
        {"a byte of the data changed", patched(dataStart + 8 + 1000, static_cast<char>(good[dataStart + 8 + 1000] ^ 1)),
         "Cabinet file is corrupt [0x0004]"},
        {"a block's checksum changed", patched(dataStart, static_cast<char>(good[dataStart] ^ 0x80)),
         "Cabinet file is corrupt [0x0004]"},
        {"an entry claims more than the folder holds", patched(coffFiles + 2, 1),
         "Cabinet file is corrupt [0x0004]"},
        {"cut short in the data", good.substr(0, good.size() - 10), "Cabinet file is corrupt [0x0004]"},
        {"not a cabinet", "MSCX" + good.substr(4), "Cabinet file does not have the correct format [0x0002]"},
        {"an unknown compression", patched(36 + 6, 9),
         "Unknown compression type in a cabinet folder [0x0006] (typeCompress 0x0009)"},
    };
    Seen seen;
    writeFile(dir / "good.cab", good);
    r.TestCabinet(dir / "good.cab", recorder(seen));
    ASSERT_EQ(seen.size(), 2u) << "the undamaged cabinet reads";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "bad.cab", c.bytes);
        EXPECT_EQ(errorOf([&] { r.TestCabinet(dir / "bad.cab"); }), c.error);
    }
    EXPECT_EQ(errorOf([&] { r.TestCabinet(dir / "missing.cab"); }),
              "Cabinet not found [0x0001].\r\n" + cabSystemLine(kErrNoFile));
}

TEST_F(TestCabinetFixture, AMissingCabinetThatHoldsPartOfAFileFailsAndAnAbortStops)
{
    const std::vector<std::string> set =
        write("S.CAB", {{"A\\DUZY", makeData(150000, 2, false)}, {"A\\MALY", makeData(100, 1)}}, cctNone, 50000);
    ASSERT_GE(set.size(), 3u);
    Seen seen;
    EXPECT_EQ(errorOf([&] {
                  r.TestCabinet(set.front(), [](TSTCabReader &, const std::string &, std::int32_t, bool &a) {
                      a = true;
                  });
              }),
              "FDI aborted [0x000B]");
    std::remove(set[1].c_str());
    EXPECT_EQ(errorOf([&] { r.TestCabinet(set.front(), recorder(seen)); }),
              "Cabinet set incomplete: " + ExtractFileName(set[1]) + " not found [0x0001]");
    EXPECT_TRUE(seen.empty()) << "the file that lost its middle is never reported";
}
