// Our LZX cabinets, read back byte for byte by our own reader and by
// cabextract, 7-Zip and bsdtar (bsdtar reads no sets): every window, single
// and spanned, folders whose sizes sit on the edges of the 32 KiB frames,
// ledger data, a copy from the far end of the window, and stored, MSZIP and
// LZX folders mixed in one cabinet. Each
// case is two tests, ours and the outside readers', so that on Windows, where
// those Linux tools are not, ours still runs and the others say why they skip.
// Before any Qt header: Qt's "slots" macro would eat a name in lzxformat.h.
#include "cabinet/fdifci.h"
#include "cabinet/lzxformat.h"

#include "lzx_helpers.h"

using namespace qv;
using namespace cabtest;

namespace {

// Each edge case is a folder of its own, so that its size is the folder's;
// the empty file shares the 1-byte file's folder, since bsdtar refuses a
// cabinet with a folder of no data blocks, whatever its method. The ledger
// files share one folder.
const Files &edgeFolders()
{
    static const Files files = {
        {"EDGE\\EMPTY.DAT", ""},
        {"EDGE\\ONE.DAT", "x"},
        {"EDGE\\B32767.DAT", ledgerText(32767, 1)},
        {"EDGE\\B32768.DAT", ledgerText(32768, 2)},
        {"EDGE\\B32769.DAT", ledgerText(32769, 3)},
        {"EDGE\\B65536.DAT", ledgerText(65536, 4)},
        {"EDGE\\ZERA.DAT", std::string(3 << 20, '0')},
        {"EDGE\\NOISE.BIN", makeData(100000, 5, false)},
    };
    return files;
}

const Files &ledgerFolder()
{
    static const Files files = {
        {"FIRMA1\\KSIEGA.DBF", ledgerTable(4000, 6)},
        {"FIRMA1\\REJESTR.TXT", ledgerText(250000, 7)},
        {"FIRMA1\\KONTRAH.DBF", ledgerTable(300, 8)},
        {"FIRMA1\\SKAN.BIN", makeData(40000, 9, false)},
    };
    return files;
}

void addAll(TSTCabWriter &w, const TempDir &dir, const Files &files, bool folderEach)
{
    for (const auto &[name, data] : files) {
        std::string path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        writeFile(dir / ("src/" + path), data);
        w.AddFile(dir / ("src/" + path), name, false);
        if (folderEach && !data.empty())
            w.FlushFolder();
    }
}

std::vector<std::string> setOf(const TSTCabWriter &w, const std::string &first)
{
    std::vector<std::string> all{first};
    for (int i = 1; FileExists(ExtractFilePath(first) + w.CabinetFileName(i)); ++i)
        all.push_back(ExtractFilePath(first) + w.CabinetFileName(i));
    return all;
}

// Each reader extracts into a folder of its own; one that fails or loses
// bytes is named.
void expectReadersExtract(const std::vector<Reader> &readers, const std::string &cab, const std::string &root,
                          const Files &files)
{
    for (const Reader r : readers) {
        const std::string dest = root + PathDelim + "x-" + readerTool(r);
        const RunResult x = extractWith(r, cab, dest);
        EXPECT_EQ(x.status, 0) << readerTool(r) << ": " << x.output;
        EXPECT_EQ(differences(files, dest), "") << readerTool(r);
    }
}

// The outside readers a test takes, or why it cannot: they are Linux tools,
// and on Linux the test command installs every one.
std::vector<Reader> outsideReaders(std::initializer_list<Reader> wanted, std::string &why)
{
    if (qv::test::kWindows) {
        why = "cabextract, 7zz and bsdtar are Linux tools: these checks run in the Linux build";
        return {};
    }
    std::vector<Reader> out;
    for (const Reader r : wanted) {
        if (const std::string absent = toolAbsent(readerTool(r)); !absent.empty())
            ADD_FAILURE() << absent;
        else
            out.push_back(r);
    }
    return out;
}

struct WindowCase {
    int window;
    bool spanned;
};

struct Built {
    std::string cab;
    std::vector<std::string> set;
    Files files;
};

Built buildEdgeCabinet(const TempDir &dir, const WindowCase &c)
{
    TSTCabWriter w;
    w.SetCompressionType(cctLzx);
    w.SetCompressionLzxLevel(static_cast<TSTCabLzxLevel>(c.window));
    if (c.spanned)
        w.CabinetSizeThreshold = 60000;
    Built b;
    b.cab = dir / "out/ARCH.CAB";
    w.Open(b.cab);
    addAll(w, dir, edgeFolders(), true);
    addAll(w, dir, ledgerFolder(), false);
    w.Close(true);
    b.set = setOf(w, b.cab);
    b.files = edgeFolders();
    b.files.insert(b.files.end(), ledgerFolder().begin(), ledgerFolder().end());
    return b;
}

class LzxWindows : public ::testing::TestWithParam<WindowCase> {};

}  // namespace

TEST_P(LzxWindows, OurReaderExtractsEveryFileByteExact)
{
    const WindowCase c = GetParam();
    TempDir dir;
    const Built b = buildEdgeCabinet(dir, c);
    if (c.spanned) {
        ASSERT_GE(b.set.size(), 3u);
    } else {
        // Frames as every reader expects them: 32 KiB but the folder's last,
        // an even size, never past the format's bound.
        ASSERT_EQ(b.set.size(), 1u);
        const RawLayout l = parseLayout(b.cab);
        ASSERT_EQ(l.folders.size(), edgeFolders().size());
        for (const RawFolder &f : l.folders) {
            EXPECT_EQ(f.type, cab::TCOMPfromLZXWindow(c.window));
            for (std::size_t k = 0; k < f.blocks.size(); ++k) {
                if (k + 1 < f.blocks.size()) {
                    EXPECT_EQ(f.blocks[k].cbUncomp, 32768);
                }
                EXPECT_EQ(f.blocks[k].cbData % 2, 0);
                EXPECT_LE(f.blocks[k].cbData, cab::detail::lzx::kMaxFrameCompressed);
            }
        }
    }
    expectReadersExtract({Reader::Ours}, b.cab, dir.path(), b.files);
}

TEST_P(LzxWindows, OutsideReadersExtractEveryFileByteExact)
{
    const WindowCase c = GetParam();
    std::string why;
    const std::vector<Reader> readers = c.spanned ? outsideReaders({Reader::Cabextract, Reader::SevenZip}, why)
                                                  : outsideReaders({Reader::Cabextract, Reader::SevenZip, Reader::Bsdtar}, why);
    if (!why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    const Built b = buildEdgeCabinet(dir, c);
    expectReadersExtract(readers, b.cab, dir.path(), b.files);
}

INSTANTIATE_TEST_SUITE_P(Windows, LzxWindows,
                         ::testing::Values(WindowCase{15, false}, WindowCase{16, false}, WindowCase{17, false},
                                           WindowCase{18, false}, WindowCase{19, false}, WindowCase{20, false},
                                           WindowCase{21, false}, WindowCase{15, true}, WindowCase{16, true},
                                           WindowCase{17, true}, WindowCase{18, true}, WindowCase{19, true},
                                           WindowCase{20, true}, WindowCase{21, true}),
                         [](const ::testing::TestParamInfo<WindowCase> &i) {
                             return std::string(i.param.spanned ? "Spanned" : "Single") +
                                    std::to_string(i.param.window);
                         });

// The shape 7-Zip (26.02) read back wrong, with success, from the encoder as
// it was: a copy from 2^W - 3 back (farMatchInput). Whatever 7-Zip is
// installed, it reads our cabinet of that shape back whole at every window.
namespace {
class LzxFarMatch : public ::testing::TestWithParam<int> {};
}  // namespace

TEST_P(LzxFarMatch, SevenZipReadsACopyFromTheWindowsEndBackWhole)
{
    if (const std::string absent = toolAbsent("7zz"); !absent.empty())
        GTEST_SKIP() << absent;
    TempDir dir;
    const Files files = {{"FAR.TXT", farMatchInput(GetParam())}};
    TSTCabWriter w;
    w.SetCompressionType(cctLzx);
    w.SetCompressionLzxLevel(static_cast<TSTCabLzxLevel>(GetParam()));
    const std::string cab = dir / "FAR.CAB";
    w.Open(cab);
    addAll(w, dir, files, false);
    w.Close(true);
    expectReadersExtract({Reader::SevenZip}, cab, dir.path(), files);
}

INSTANTIATE_TEST_SUITE_P(Windows, LzxFarMatch, ::testing::Range(15, 22),
                         [](const ::testing::TestParamInfo<int> &i) { return "Window" + std::to_string(i.param); });

// A change of method between files closes the folder, so every method keeps
// its own folder, and the readers take each with its own decoder.
namespace {

const Files &mixedFiles()
{
    static const Files files = {{"A.DAT", ledgerText(50000, 1)},  {"B.DAT", ledgerText(70000, 2)},
                                {"C.DBF", ledgerTable(900, 3)},   {"D.TXT", ledgerText(40000, 4)},
                                {"E.DBF", ledgerTable(1200, 5)}, {"F.DAT", makeData(30000, 6, false)},
                                {"G.DAT", ledgerText(1000, 7)}};
    return files;
}

std::string buildMixedCabinet(const TempDir &dir)
{
    TSTCabWriter w;
    const std::string cab = dir / "MIX.CAB";
    w.Open(cab);
    const std::pair<TSTCabCompressionType, int> methods[] = {{cctNone, 0},   {cctMsZip, 0}, {cctLzx, 15},
                                                              {cctLzx, 15},  {cctLzx, 21},  {cctMsZip, 0},
                                                              {cctNone, 0}};
    const Files &files = mixedFiles();
    for (std::size_t i = 0; i < files.size(); ++i) {
        w.SetCompressionType(methods[i].first);
        if (methods[i].second)
            w.SetCompressionLzxLevel(static_cast<TSTCabLzxLevel>(methods[i].second));
        writeFile(dir / ("src/" + files[i].first), files[i].second);
        w.AddFile(dir / ("src/" + files[i].first), files[i].first, false);
    }
    w.Close(true);
    return cab;
}

std::string buildDefaultCabinet(const TempDir &dir)
{
    TSTCabWriter w;
    const std::string cab = dir / "DEF.CAB";
    w.Open(cab);
    addAll(w, dir, ledgerFolder(), false);
    w.Close(true);
    return cab;
}

}  // namespace

TEST(LzxMixed, StoredMszipAndLzxFoldersShareOneCabinet)
{
    TempDir dir;
    const std::string cab = buildMixedCabinet(dir);
    const RawLayout l = parseLayout(cab);
    std::vector<std::uint16_t> types;
    for (const RawFolder &f : l.folders)
        types.push_back(f.type);
    EXPECT_EQ(types, (std::vector<std::uint16_t>{0x0000, 0x0001, 0x0F03, 0x1503, 0x0001, 0x0000}));
    EXPECT_EQ(l.fileFolders, (std::vector<std::uint16_t>{0, 1, 2, 2, 3, 4, 5}));
    expectReadersExtract({Reader::Ours}, cab, dir.path(), mixedFiles());
}

TEST(LzxMixed, OutsideReadersTakeEachMethodsFolder)
{
    std::string why;
    const std::vector<Reader> readers = outsideReaders({Reader::Cabextract, Reader::SevenZip, Reader::Bsdtar}, why);
    if (!why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    expectReadersExtract(readers, buildMixedCabinet(dir), dir.path(), mixedFiles());
}

// The writer as constructed compresses with LZX and a 2 MiB window.
TEST(LzxDefaults, WriterWithItsDefaultsWritesLzx21)
{
    TempDir dir;
    const std::string cab = buildDefaultCabinet(dir);
    const RawLayout l = parseLayout(cab);
    ASSERT_EQ(l.folders.size(), 1u);
    EXPECT_EQ(l.folders[0].type, 0x1503);
    expectReadersExtract({Reader::Ours}, cab, dir.path(), ledgerFolder());
}

TEST(LzxDefaults, OutsideReadersTakeTheDefaultCabinet)
{
    std::string why;
    const std::vector<Reader> readers = outsideReaders({Reader::Cabextract, Reader::SevenZip}, why);
    if (!why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    expectReadersExtract(readers, buildDefaultCabinet(dir), dir.path(), ledgerFolder());
}
