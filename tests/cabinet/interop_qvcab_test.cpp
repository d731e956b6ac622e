// The qvcab tool end to end, checked against cabextract where it helps.
#include "comp_helpers.h"

#include <cstdlib>

using namespace qv;
using namespace cabtest;

namespace {

struct QvcabFixture : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        if (!FileExists(qvcabPath()))
            FAIL() << "qvcab is not built: " << qvcabPath();
        writeFile(dir / "FIRMA1/DANE.DBF", makeData(150000, 1));
        writeFile(dir / "FIRMA1/SUB/NOTE.TXT", "note");
        writeFile(dir / "FIRMA1/EMPTY", "");
        writeFile(dir / "FIRMA2/NOISE.BIN", makeData(90000, 2, false));
    }
    RunResult q(const std::string &args) { return run(quote(qvcabPath()) + " " + args); }
};

}  // namespace

TEST_F(QvcabFixture, CreateListTestExtractRoundTrip)
{
    const RunResult c = q("create " + quote(dir / "out/A.CAB") + " --mszip " + quote(dir / "FIRMA1") + " " +
                          quote(dir / "FIRMA2/"));
    ASSERT_EQ(c.status, 0) << c.output;
    const RunResult l = q("list " + quote(dir / "out/A.CAB"));
    ASSERT_EQ(l.status, 0) << l.output;
    for (const char *name : {"FIRMA1\\DANE.DBF", "FIRMA1\\SUB\\NOTE.TXT", "FIRMA1\\EMPTY", "FIRMA2\\NOISE.BIN"})
        EXPECT_NE(l.output.find(name), std::string::npos) << name << "\n" << l.output;
    EXPECT_NE(l.output.find("    150000 "), std::string::npos) << l.output;
    EXPECT_EQ(l.output.rfind("folder 0: MSZIP\n", 0), 0u) << "the folder line comes first:\n" << l.output;
    const RunResult t = q("test " + quote(dir / "out/A.CAB"));
    EXPECT_EQ(t.status, 0) << t.output;
    EXPECT_NE(t.output.find("OK, 4 files"), std::string::npos) << t.output;
    const RunResult x = q("extract " + quote(dir / "out/A.CAB") + " " + quote(dir / "x"));
    ASSERT_EQ(x.status, 0) << x.output;
    EXPECT_TRUE(sameTree(dir / "FIRMA1", dir / "x/FIRMA1"));
    EXPECT_TRUE(sameTree(dir / "FIRMA2", dir / "x/FIRMA2"));
}

TEST_F(QvcabFixture, SpannedSetAndFolderFilesOptions)
{
    // A small file last: the last cabinet holds a file that begins there.
    writeFile(dir / "FIRMA3/MALY.TXT", makeData(1000, 3));
    const RunResult c = q("create " + quote(dir / "S.CAB") + " --none --max-cabinet 70000 " + quote(dir / "FIRMA1") +
                          " " + quote(dir / "FIRMA2") + " " + quote(dir / "FIRMA3"));
    ASSERT_EQ(c.status, 0) << c.output;
    EXPECT_TRUE(FileExists(dir / "S1.CAB"));
    EXPECT_TRUE(FileExists(dir / "S3.CAB"));
    const RunResult t = q("test " + quote(dir / "S.CAB"));
    EXPECT_EQ(t.status, 0) << t.output;
    // Each file once, though the files of one cabinet continue into the next.
    int cabinets = 0;
    for (const std::string &f : listTree(dir.path()))
        cabinets += f.size() > 4 && f[0] == 'S' && f.compare(f.size() - 4, 4, ".CAB") == 0 ? 1 : 0;
    EXPECT_NE(t.output.find("OK, 5 files, 241004 bytes, " + std::to_string(cabinets) + " cabinet(s)"),
              std::string::npos)
        << t.output;
    const RunResult x = q("extract " + quote(dir / "S.CAB") + " " + quote(dir / "x"));
    ASSERT_EQ(x.status, 0) << x.output;
    EXPECT_TRUE(sameTree(dir / "FIRMA1", dir / "x/FIRMA1"));
    EXPECT_TRUE(sameTree(dir / "FIRMA2", dir / "x/FIRMA2"));
    EXPECT_TRUE(sameTree(dir / "FIRMA3", dir / "x/FIRMA3"));
    if (haveTool("cabextract")) {
        const RunResult cx = run("cabextract -q -d " + quote(dir / "cx") + " " + quote(dir / "S.CAB"));
        EXPECT_EQ(cx.status, 0) << cx.output;
        EXPECT_TRUE(sameTree(dir / "FIRMA2", dir / "cx/FIRMA2"));
    }

    ASSERT_EQ(q("create " + quote(dir / "F.CAB") + " --folder-files 1 " + quote(dir / "FIRMA1")).status, 0);
    EXPECT_EQ(parseCabinet(dir / "F.CAB").folders, 3);
}

// test and extract read the whole set from whichever part is named; a
// missing part, before or after it, is named and fails the run.
TEST_F(QvcabFixture, AnyPartOfASetTestsAndExtractsTheWholeSet)
{
    writeFile(dir / "FIRMA3/MALY.TXT", makeData(1000, 3));
    ASSERT_EQ(q("create " + quote(dir / "S.CAB") + " --none --max-cabinet 70000 " + quote(dir / "FIRMA1") + " " +
                quote(dir / "FIRMA2") + " " + quote(dir / "FIRMA3"))
                  .status,
              0);
    std::vector<std::string> parts = {"S.CAB"};
    for (int i = 1; FileExists(dir / ("S" + std::to_string(i) + ".CAB")); ++i)
        parts.push_back("S" + std::to_string(i) + ".CAB");
    ASSERT_GE(parts.size(), 4u);
    const std::string whole =
        "OK, 5 files, 241004 bytes, " + std::to_string(parts.size()) + " cabinet(s)";
    for (const std::string &part : parts) {
        const RunResult t = q("test " + quote(dir / part));
        EXPECT_EQ(t.status, 0) << part << ": " << t.output;
        EXPECT_NE(t.output.find(whole), std::string::npos) << part << ": " << t.output;
    }
    const RunResult x = q("extract " + quote(dir / parts[2]) + " " + quote(dir / "x"));
    ASSERT_EQ(x.status, 0) << x.output;
    for (const char *firma : {"FIRMA1", "FIRMA2", "FIRMA3"})
        EXPECT_TRUE(sameTree(dir / firma, dir / ("x/" + std::string(firma)))) << firma;

    ASSERT_TRUE(FileRename(dir / parts[0], dir / "first.aside"));
    ASSERT_TRUE(FileRename(dir / parts.back(), dir / "last.aside"));
    for (const std::string &command : {std::string("test "), std::string("extract ")}) {
        const RunResult before = q(command + quote(dir / parts[1]) + (command == "test " ? "" : " " + quote(dir / "y")));
        EXPECT_EQ(before.status, 1) << before.output;
        EXPECT_NE(before.output.find("set incomplete: S.CAB not found"), std::string::npos) << before.output;
    }
    ASSERT_TRUE(FileRename(dir / "first.aside", dir / parts[0]));
    const RunResult after = q("test " + quote(dir / parts[1]));
    EXPECT_EQ(after.status, 1) << after.output;
    EXPECT_NE(after.output.find("set incomplete: " + parts.back() + " not found"), std::string::npos) << after.output;
}

// --lzx alone means the 2 MiB window; other windows by number, 15 to 21.
TEST_F(QvcabFixture, LzxOptionChoosesTheWindow)
{
    for (const auto &[option, type] : {std::pair<std::string, int>{"--lzx", 0x1503}, {"--lzx=15", 0x0F03},
                                       {"--lzx=18", 0x1203}}) {
        const std::string cab = dir / ("L" + std::to_string(type) + ".CAB");
        const RunResult c = q("create " + quote(cab) + " " + option + " " + quote(dir / "FIRMA1"));
        ASSERT_EQ(c.status, 0) << option << ": " << c.output;
        const std::string b = readFile(cab);
        EXPECT_EQ(le16(b, le32(b, 16) - 2), type) << option << ": the folder's method";
        if (haveTool("cabextract")) {
            ASSERT_EQ(run("cabextract -q -d " + quote(dir / ("x" + option)) + " " + quote(cab)).status, 0);
            EXPECT_EQ(run("diff -r " + quote(dir / "FIRMA1") + " " + quote(dir / ("x" + option + "/FIRMA1"))).status, 0)
                << option;
        }
    }
    for (const char *bad : {"--lzx=14", "--lzx=22", "--lzx=", "--lzx=x", "--lzx21"}) {
        const RunResult r = q("create " + quote(dir / "B.CAB") + " " + bad + " " + quote(dir / "FIRMA1"));
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.output.find("--lzx"), std::string::npos) << r.output;
        EXPECT_FALSE(FileExists(dir / "B.CAB")) << bad;
    }
}

TEST_F(QvcabFixture, FailuresGiveMessagesAndExitCodes)
{
    EXPECT_EQ(q("").status, 2);
    EXPECT_EQ(q("create " + quote(dir / "A.CAB") + " --bogus " + quote(dir / "FIRMA1")).status, 2);
    EXPECT_EQ(q("create " + quote(dir / "A.CAB") + " --max-cabinet lots " + quote(dir / "FIRMA1")).status, 2);
    const RunResult missing = q("create " + quote(dir / "A.CAB") + " " + quote(dir / "NOPE"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("not a folder"), std::string::npos) << missing.output;
    EXPECT_FALSE(FileExists(dir / "A.CAB"));

    writeFile(dir / "plain.txt", "not a cabinet");
    const RunResult notCab = q("list " + quote(dir / "plain.txt"));
    EXPECT_EQ(notCab.status, 1);
    EXPECT_NE(notCab.output.find("is not a cabinet"), std::string::npos) << notCab.output;
    EXPECT_EQ(q("extract " + quote(dir / "nothere.cab") + " " + quote(dir / "x")).status, 1);

    ASSERT_EQ(q("create " + quote(dir / "C.CAB") + " --none " + quote(dir / "FIRMA2")).status, 0);
    std::string bytes = readFile(dir / "C.CAB");
    bytes[bytes.size() - 100] ^= 0x01;
    writeFile(dir / "C.CAB", bytes);
    const RunResult t = q("test " + quote(dir / "C.CAB"));
    EXPECT_EQ(t.status, 1) << t.output;
    EXPECT_NE(t.output.find("corrupt"), std::string::npos) << t.output;
    EXPECT_FALSE(PathExists(dir / "FIRMA2x")) << "test writes nothing";
}
