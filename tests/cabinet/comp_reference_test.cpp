// Cabinets written by other compressors (LZX, Quantum, MSZIP folders)
// through the reader component and the qvcab tool, checked against the
// published sizes and SHA-256 digests; and how a folder whose method we
// cannot handle is reported.
#include "comp_helpers.h"
#include "comp_rawcab.h"
#include "sha256.h"

#include "cabinet/CabSTConsts.h"


#include <cctype>

using namespace qv;
using namespace cabtest;

namespace {

struct Member {
    std::string name;  // with "/" between parts
    std::uint32_t size;
    std::string sha256;
};

struct Reference {
    std::string cabinet;  // full path
    std::vector<Member> members;
};

// expected.json is objects of objects down to "size" (a number) and
// "sha256" (a string); a reader for that much JSON and no more. Keys come out
// in order, as the file's listing does not matter.
struct Json {
    std::string number, text;
    std::map<std::string, Json> members;
};

struct JsonReader {
    const std::string &s;
    std::size_t at = 0;

    void space()
    {
        while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at])))
            ++at;
    }
    bool take(char c)
    {
        space();
        if (at < s.size() && s[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    std::string string()
    {
        if (!take('"'))
            throw std::runtime_error("expected.json: a string expected at " + std::to_string(at));
        std::string out;
        while (at < s.size() && s[at] != '"')
            out += s[at] == '\\' ? s[++at] : s[at], ++at;
        ++at;
        return out;
    }
    Json value()
    {
        Json v;
        space();
        if (take('{')) {
            if (take('}'))
                return v;
            do {
                const std::string key = string();
                if (!take(':'))
                    throw std::runtime_error("expected.json: ':' expected at " + std::to_string(at));
                v.members[key] = value();
            } while (take(','));
            if (!take('}'))
                throw std::runtime_error("expected.json: '}' expected at " + std::to_string(at));
        } else if (at < s.size() && s[at] == '"') {
            v.text = string();
        } else {
            while (at < s.size() && (std::isdigit(static_cast<unsigned char>(s[at])) || s[at] == '-'))
                v.number += s[at++];
        }
        return v;
    }
};

std::vector<Reference> loadReferences(const std::string &dir)
{
    const std::string text = readFile(dir + "/expected.json");
    if (text.rfind("<missing ", 0) == 0)
        return {};
    JsonReader reader{text};
    const Json all = reader.value();
    std::vector<Reference> out;
    for (const auto &[cab, members] : all.members) {
        Reference r{dir + "/" + cab, {}};
        for (const auto &[name, v] : members.members)
            r.members.push_back(Member{name, static_cast<std::uint32_t>(std::stoul(v.members.at("size").number)),
                                       v.members.at("sha256").text});
        out.push_back(r);
    }
    return out;
}

// Folder methods and each file's folder, read straight from the bytes of a
// plain cabinet (no reserve, no set).
struct Layout {
    std::vector<std::uint16_t> methods;
    std::map<std::string, std::uint16_t> folderOf;  // name with "/"
};

Layout layoutOf(const std::string &path)
{
    Layout l;
    const std::string b = readFile(path);
    for (unsigned i = 0; i < le16(b, 26); ++i)
        l.methods.push_back(le16(b, 36 + 8 * i + 6));
    for (const RawEntry &e : parseCabinet(path).entries) {
        std::string name = e.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        l.folderOf[name] = e.folder;
    }
    return l;
}

bool isQuantum(std::uint16_t method) { return (method & cab::tcompMASK_TYPE) == cab::tcompTYPE_QUANTUM; }

struct ReferenceFixture : ::testing::Test {
    TempDir dir;
    std::vector<Reference> refs;
    void SetUp() override
    {
        const std::string where = referenceCabinets();
        if (where.empty())
            GTEST_SKIP() << cabtest::kNoReferenceCabinets;
        refs = loadReferences(where);
        ASSERT_GE(refs.size(), 6u);
    }
    // Every member outside a Quantum folder is there, byte-exact; the others are not.
    void expectExtracted(const Reference &ref, const std::string &root)
    {
        const Layout layout = layoutOf(ref.cabinet);
        for (const Member &m : ref.members) {
            const std::string path = root + "/" + m.name;
            if (isQuantum(layout.methods.at(layout.folderOf.at(m.name)))) {
                EXPECT_FALSE(FileExists(path)) << ref.cabinet << ": " << m.name;
                continue;
            }
            const std::string data = readFile(path);
            EXPECT_EQ(data.size(), m.size) << ref.cabinet << ": " << m.name;
            EXPECT_EQ(sha256Hex(data), m.sha256) << ref.cabinet << ": " << m.name;
        }
        for (const std::string &n : listTree(root))
            EXPECT_EQ(n.find("~stc"), std::string::npos) << "temporary file left: " << n;
    }
};

const char kQuantumRefusal[] = "Unknown compression type in a cabinet folder [0x0006] (Quantum, level 2, window 18)";

}  // namespace

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(std::string(1000, 'a')), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

TEST_F(ReferenceFixture, ReaderComponentExtractsEveryReferenceCabinetByteExact)
{
    for (const Reference &ref : refs) {
        const Layout layout = layoutOf(ref.cabinet);
        const bool anyQuantum = std::any_of(layout.methods.begin(), layout.methods.end(), isQuantum);
        const std::string out = dir / ExtractFileName(ref.cabinet);
        TSTCabReader reader;
        // Files of Quantum folders are skipped; asking for them is refused by name.
        reader.OnCopyFile = [&](TSTCabReader &, const std::string &, std::int32_t, std::uint16_t, std::uint16_t,
                                std::uint16_t, std::uint16_t folder, std::string &dest, bool &) {
            if (isQuantum(layout.methods.at(folder)))
                dest.clear();
        };
        reader.ExtractFiles(ref.cabinet, out, true);
        if (!FileExists(out))
            ForceDirectories(out);
        expectExtracted(ref, out);
        if (!anyQuantum)
            continue;
        TSTCabReader whole;
        try {
            whole.ExtractFiles(ref.cabinet, dir / "whole", true);
            ADD_FAILURE() << ref.cabinet << ": a Quantum folder was extracted";
        } catch (const ESTCabinet &e) {
            EXPECT_EQ(e.ErrorCode(), cab::FDIERROR_BAD_COMPR_TYPE);
            EXPECT_STREQ(e.what(), kQuantumRefusal);
        }
    }
}

TEST_F(ReferenceFixture, QvcabTestsListsAndExtractsEveryReferenceCabinet)
{
    ASSERT_TRUE(FileExists(qvcabPath())) << "qvcab is not built: " << qvcabPath();
    for (const Reference &ref : refs) {
        const Layout layout = layoutOf(ref.cabinet);
        const bool anyQuantum = std::any_of(layout.methods.begin(), layout.methods.end(), isQuantum);
        const std::string out = dir / ExtractFileName(ref.cabinet);
        const RunResult x = run(quote(qvcabPath()) + " extract " + quote(ref.cabinet) + " " + quote(out));
        const RunResult t = run(quote(qvcabPath()) + " test " + quote(ref.cabinet));
        if (anyQuantum) {
            // Each Quantum file named with the library's refusal, the others read, the run failed.
            std::size_t quantum = 0;
            for (const Member &m : ref.members) {
                if (!isQuantum(layout.methods.at(layout.folderOf.at(m.name))))
                    continue;
                ++quantum;
                const std::string line = "qvcab: skipped " + m.name + ": " + kQuantumRefusal + "\n";
                EXPECT_NE(x.output.find(line), std::string::npos) << x.output;
                EXPECT_NE(t.output.find(line), std::string::npos) << t.output;
            }
            const std::string counts = std::to_string(quantum) + (quantum == 1 ? " file" : " files") + " skipped, " +
                                       std::to_string(ref.members.size() - quantum) + " of " +
                                       std::to_string(ref.members.size()) + " files ";
            EXPECT_EQ(x.status, 1) << x.output;
            EXPECT_NE(x.output.find("qvcab: Quantum is not supported: " + counts + "extracted\n"), std::string::npos)
                << x.output;
            EXPECT_EQ(t.status, 1) << t.output;
            EXPECT_NE(t.output.find("qvcab: Quantum is not supported: " + counts + "read\n"), std::string::npos)
                << t.output;
        } else {
            EXPECT_EQ(x.status, 0) << x.output;
            EXPECT_NE(t.output.find(": OK, " + std::to_string(ref.members.size()) + " files"), std::string::npos)
                << t.output;
        }
        ForceDirectories(out);
        expectExtracted(ref, out);

        const RunResult l = run(quote(qvcabPath()) + " list " + quote(ref.cabinet));
        EXPECT_EQ(l.status, 0) << l.output;
        for (std::size_t i = 0; i < layout.methods.size(); ++i)
            EXPECT_NE(l.output.find("folder " + std::to_string(i) + ": " + CompressionText(layout.methods[i]) + "\n"),
                      std::string::npos)
                << l.output;
        for (const Member &m : ref.members) {
            std::string stored = m.name;
            std::replace(stored.begin(), stored.end(), '/', '\\');
            EXPECT_NE(l.output.find(" " + stored + "\n"), std::string::npos) << l.output;
        }
    }
}

TEST(CompressionNames, ListingAndRefusalTexts)
{
    struct Case {
        cab::TCOMP type;
        const char *listed;
        const char *refused;
    };
    const Case cases[] = {
        {0x0000, "none", "typeCompress 0x0000"},
        {0x0001, "MSZIP", "typeCompress 0x0001"},
        {0x1503, "LZX:21", "LZX, window 21"},
        {0x0F03, "LZX:15", "LZX, window 15"},
        {0x1603, "LZX:22", "LZX, window 22"},
        {0x1222, "Quantum:2:18", "Quantum, level 2, window 18"},
        {0x0002, "Quantum:0:0", "Quantum, level 0, window 0"},
        {0x0101, "unknown:0x0101", "typeCompress 0x0101"},
        {0x8F03, "unknown:0x8F03", "typeCompress 0x8F03"},
        {0x0004, "unknown:0x0004", "typeCompress 0x0004"},
        {0x000F, "unknown:0x000F", "typeCompress 0x000F"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CompressionText(c.type), c.listed);
        EXPECT_EQ(CompressionRefusalText(c.type), c.refused);
    }
}

TEST(CompressionNames, AFolderWeCannotReadIsRefusedByItsMethod)
{
    // A stored cabinet whose folder claims another method; no file appears.
    struct Case {
        cab::TCOMP type;
        const char *message;
    };
    const Case cases[] = {
        {0x1603, "Unknown compression type in a cabinet folder [0x0006] (LZX, window 22)"},
        {0x0E03, "Unknown compression type in a cabinet folder [0x0006] (LZX, window 14)"},
        {0x1542, "Unknown compression type in a cabinet folder [0x0006] (Quantum, level 4, window 21)"},
        {0x0007, "Unknown compression type in a cabinet folder [0x0006] (typeCompress 0x0007)"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        std::string bytes = buildRawCabinet({RawFile{"A.TXT", "abc"}});
        bytes[36 + 6] = static_cast<char>(c.type & 0xFF);
        bytes[36 + 7] = static_cast<char>(c.type >> 8);
        writeFile(dir / "m.cab", bytes);
        TSTCabReader reader;
        try {
            reader.ExtractFiles(dir / "m.cab", dir / "out", true);
            ADD_FAILURE() << "extracted from method " << c.type;
        } catch (const ESTCabinet &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_FALSE(FileExists(dir / "out/A.TXT"));
        const RunResult t = run(quote(qvcabPath()) + " test " + quote(dir / "m.cab"));
        EXPECT_EQ(t.status, 1);
        EXPECT_NE(t.output.find(c.message), std::string::npos) << t.output;
    }
}

// With croSkipUnreadableFolders the files of a folder we cannot read are left
// out and reported, and those of the folders around it read; qvcab takes that
// road, names the files and fails.
TEST(CompressionNames, UnreadableFoldersCanBeSkippedAndTheOthersRead)
{
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"A1", makeData(40000, 1)}, {"A2", "a2"}, {"Q1", makeData(50000, 2)}, {"Q2", "q2"},
        {"Z1", makeData(3000, 3)},  {"Z2", "z2"}};
    {
        TSTCabWriter w;
        w.SetCompressionType(cctMsZip);
        w.Open(dir / "M.CAB");
        for (std::size_t i = 0; i < files.size(); ++i) {
            writeFile(dir / ("src/" + files[i].first), files[i].second);
            w.AddFile(dir / ("src/" + files[i].first), files[i].first);
            if (i % 2 == 1)
                w.FlushFolder();
        }
        w.Close(true);
    }
    std::string bytes = readFile(dir / "M.CAB");
    ASSERT_EQ(le16(bytes, 26), 3) << "three folders";
    bytes[36 + 8 + 6] = '\x22';  // folder 1: Quantum, level 2, window 18
    bytes[36 + 8 + 7] = '\x12';
    writeFile(dir / "M.CAB", bytes);

    TSTCabReader r;
    r.Options.insert(croSkipUnreadableFolders);
    std::vector<std::string> skipped;
    r.OnFileSkipped = [&](TSTCabReader &, const std::string &name, std::int32_t size, cab::TCOMP method) {
        skipped.push_back(name + "|" + std::to_string(size) + "|" + std::to_string(method));
    };
    r.ExtractFiles(dir / "M.CAB", dir / "x", false);
    const std::vector<std::string> expected = {"Q1|50000|4642", "Q2|2|4642"};
    EXPECT_EQ(skipped, expected);
    for (const auto &[name, data] : files)
        if (name[0] == 'Q')
            EXPECT_FALSE(PathExists(dir / ("x/" + name))) << name;
        else
            EXPECT_TRUE(readFile(dir / ("x/" + name)) == data) << name;
    skipped.clear();
    const TSTCabTestResult t = r.TestCabinet(dir / "M.CAB");
    EXPECT_EQ(t.Files, 4u);
    EXPECT_EQ(t.Bytes, 43000u + 4u);
    EXPECT_EQ(skipped, expected);

    TSTCabReader strict;
    EXPECT_THROW(strict.ExtractFiles(dir / "M.CAB", dir / "y", false), ESTCabinet);

    const RunResult q = run(quote(qvcabPath()) + " extract " + quote(dir / "M.CAB") + " " + quote(dir / "q"));
    EXPECT_EQ(q.status, 1);
    EXPECT_NE(q.output.find("qvcab: skipped Q1: " + std::string(kQuantumRefusal) + "\n"), std::string::npos) << q.output;
    EXPECT_NE(q.output.find("qvcab: Quantum is not supported: 2 files skipped, 4 of 6 files extracted\n"),
              std::string::npos)
        << q.output;
    EXPECT_TRUE(readFile(dir / "q/Z1") == files[4].second);
}
