// Quick checks against other cabinet tools run as black boxes: cabextract
// accepts what our writer produces (checksums on, a spanned set followed from
// its first cabinet), and our reader takes what gcab writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "comp_helpers.h"
#include "engine_memfs.h"

using namespace cab;
using namespace enginetest;
namespace fs = std::filesystem;

namespace {

fs::path workDir(const std::string &name)
{
    const char *bin = std::getenv("QV_BINARY_DIR");
    fs::path dir = fs::path(bin ? bin : fs::temp_directory_path().string()) / "engine_cabextract" / name;
    fs::remove_all(dir);
    fs::create_directories(dir / "x");
    return dir;
}

void dump(const MemFs &mem, const fs::path &dir)
{
    for (const auto &[name, f] : mem.files)
        if (name.rfind("out/", 0) == 0) {
            std::ofstream o(dir / name.substr(4), std::ios::binary);
            o.write(reinterpret_cast<const char *>(f->data.data()), static_cast<std::streamsize>(f->data.size()));
        }
}

Bytes slurp(const fs::path &p)
{
    std::ifstream i(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(i), {});
}

void check(const std::string &label, CCAB ccab, TCOMP type, const std::vector<std::pair<std::string, Bytes>> &files)
{
    MemFs mem;
    std::vector<Source> src;
    for (const auto &[name, data] : files) {
        mem.put("src/" + name, data);
        src.push_back(Source{"src/" + name, name, false, type});
    }
    ASSERT_TRUE(writeCabinet(mem, ccab, src).ok);
    const fs::path dir = workDir(label);
    dump(mem, dir);
    const std::string first = (dir / ccab.szCab).string();
    EXPECT_EQ(std::system(("cabextract -q -t '" + first + "' > /dev/null 2>&1").c_str()), 0) << label;
    ASSERT_EQ(std::system(("cabextract -q -d '" + (dir / "x").string() + "' '" + first + "' > /dev/null 2>&1").c_str()),
              0)
        << label;
    for (const auto &[name, data] : files)
        EXPECT_TRUE(slurp(dir / "x" / name) == data) << label << " " << name;
}

TEST(Cabextract, AcceptsOurCabinets)
{
    if (const std::string why = cabtest::toolAbsent("cabextract"); !why.empty())
        GTEST_SKIP() << why;
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"EMPTY.TXT", {}},
        {"A.DAT", pattern(32767, 1, true)},
        {"B.DAT", pattern(32768, 2, false)},
        {"C.DAT", pattern(32769, 3, true)},
        {"D.DAT", pattern(300000, 4, true)},
    };
    check("mszip", makeCcab("mszip.cab"), tcompTYPE_MSZIP, files);
    check("none", makeCcab("none.cab"), tcompTYPE_NONE, files);
    CCAB reserved = makeCcab("reserve.cab");
    reserved.cbReserveCFHeader = 100;
    reserved.cbReserveCFFolder = 3;
    reserved.cbReserveCFData = 5;
    check("reserve", reserved, tcompTYPE_MSZIP, files);
    check("span-mszip", makeCcab("part0.cab", 40000), tcompTYPE_MSZIP,
          {{"A.DAT", pattern(60000, 1, false)}, {"B.DAT", pattern(9000, 2, false)}, {"C.DAT", pattern(5000, 3, true)},
           {"E.DAT", {}}, {"D.DAT", pattern(90000, 4, true)}});
    check("only-empty", makeCcab("empty.cab"), tcompTYPE_MSZIP, {{"E1.TXT", {}}, {"E2.TXT", {}}});
    check("span-none", makeCcab("part0.cab", 15000), tcompTYPE_NONE,
          {{"A.DAT", pattern(60000, 1, false)}, {"B.DAT", pattern(9000, 2, false)}});
}

TEST(Gcab, OurReaderTakesItsCabinets)
{
    if (const std::string why = cabtest::toolAbsent("gcab"); !why.empty())
        GTEST_SKIP() << why;
    const fs::path dir = workDir("gcab");
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"EMPTY.TXT", {}}, {"A.DAT", pattern(32768, 1, false)}, {"B.DAT", pattern(200000, 2, true)}};
    std::string args;
    for (const auto &[name, data] : files) {
        std::ofstream o(dir / name, std::ios::binary);
        o.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
        args += " '" + (dir / name).string() + "'";
    }
    for (const char *zip : {"", " -z"}) {
        const fs::path cabPath = dir / "g.cab";
        fs::remove(cabPath);
        ASSERT_EQ(std::system(("gcab -c -n" + std::string(zip) + " '" + cabPath.string() + "'" + args + " > /dev/null 2>&1").c_str()), 0);
        MemFs mem;
        mem.put("out/g.cab", slurp(cabPath));
        const ReadResult r = readCabinet(mem, "g.cab");
        ASSERT_TRUE(r.ok) << zip << " error " << r.erf.erfOper;
        ASSERT_EQ(r.files.size(), files.size());
        for (const auto &[name, data] : files)
            EXPECT_TRUE(r.files.at(name) == data) << zip << " " << name;
    }
}

}  // namespace
