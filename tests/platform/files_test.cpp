// The file layer's contract, the same on every system: DOS date-time
// arithmetic, wildcard masks whose letter case covers Polish letters, how
// files open, folders are made, files renamed over others, searched, named
// uniquely and flushed, and whether a path lies inside a folder. Errors are
// the system's own codes.
#include "platform/errors.h"
#include "platform/files.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

using namespace qv;
using qv::test::ReadBytes;
using qv::test::ScratchDir;
using qv::test::WriteBytes;

namespace {

#ifdef _WIN32
constexpr int kErrNoFolder = 3;     // ERROR_PATH_NOT_FOUND
constexpr int kErrNotAFolder = 267;  // ERROR_DIRECTORY
#else
constexpr int kErrNoFolder = ENOENT;
constexpr int kErrNotAFolder = ENOTDIR;
#endif

std::string native(std::string path)
{
    std::replace(path.begin(), path.end(), '/', PathDelim);
    return path;
}

}  // namespace

TEST(FileTimes, DosConversionsAndRange)
{
    FileTime t;
    ASSERT_TRUE(DosDateTimeToFileTime((25 << 9) | (3 << 5) | 3, (14 << 11) | (15 << 5) | 18, t));
    std::uint16_t date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(t, date, time));
    EXPECT_EQ(date, (25 << 9) | (3 << 5) | 3);
    EXPECT_EQ(time, (14 << 11) | (15 << 5) | 18);
    EXPECT_EQ(FileTimeToUnix(t), 1109859336) << "2005-03-03 14:15:36 on the local clock face";

    EXPECT_FALSE(DosDateTimeToFileTime((25 << 9) | (13 << 5) | 3, 0, t)) << "month 13";
    EXPECT_FALSE(DosDateTimeToFileTime((25 << 9) | (3 << 5) | 0, 0, t)) << "day 0";
    EXPECT_FALSE(DosDateTimeToFileTime((25 << 9) | (3 << 5) | 1, 24 << 11, t)) << "hour 24";
    EXPECT_FALSE(FileTimeToDosDateTime(FileTimeFromUnix(315532799), date, time)) << "1979";
    EXPECT_TRUE(FileTimeToDosDateTime(FileTimeFromUnix(315532800), date, time));
    EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
    EXPECT_FALSE(FileTimeToDosDateTime(FileTimeFromUnix(4354819200LL), date, time)) << "2108";
}

TEST(FileMasks, WildcardsIgnoreLetterCaseOfEveryPolishLetter)
{
    struct Case {
        const char *name, *mask;
        bool matches;
    };
    for (const Case &c : std::initializer_list<Case>{
             {"ABC.DBF", "a?c.*", true},
             {"ŻÓŁĆ.TXT", "żó*", true},
             {"zażółć gęślą jaźń.txt", "ZAŻÓŁĆ*JAŹŃ.TXT", true},
             {"ĄĘŚ.DBF", "?ęś.dbf", true},  // '?' is one letter, not one byte
             {"ABC.DBF", "*.TXT", false},
             {"AB", "A?C", false},
             {"A.B.C", "*.C", true},
             {"noext", "*.*", true},
             {"Łódź", "lodz", false},
         })
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}

TEST(FileOpen, DispositionsAndErrors)
{
    ScratchDir d;
    const std::string f = d / "a";
    EXPECT_EQ(FileOpen(f, FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), osErrorFileNotFound);
    FileHandle h = FileOpen(f, FileAccess::Write, FileShare::None, FileDisposition::CreateNew);
    ASSERT_NE(h, InvalidFileHandle);
    if (!qv::test::kWindows) {
        EXPECT_GE(h, 3) << "never one of the standard streams";
    }
    EXPECT_EQ(FileWrite(h, "abcdef", 6), 6);
    EXPECT_EQ(FileSeek(h, 2, 0), 2);
    EXPECT_TRUE(FileTruncateHere(h));
    EXPECT_TRUE(FileClose(h));
    EXPECT_EQ(FileOpen(f, FileAccess::Write, FileShare::None, FileDisposition::CreateNew), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), osErrorFileExists);
    h = FileOpen(f, FileAccess::Read, FileShare::Read, FileDisposition::OpenAlways);
    char buf[8] = {};
    EXPECT_EQ(FileRead(h, buf, 8), 2);
    EXPECT_EQ(std::string(buf), "ab");
    FileClose(h);
    h = FileOpen(f, FileAccess::Write, FileShare::Read, FileDisposition::TruncateExisting);
    ASSERT_NE(h, InvalidFileHandle);
    FileClose(h);
    EXPECT_EQ(ReadBytes(f), "");
    EXPECT_EQ(FileOpen(d / "b", FileAccess::Write, FileShare::Read, FileDisposition::TruncateExisting),
              InvalidFileHandle)
        << "truncating creates nothing";
    EXPECT_FALSE(PathExists(d / "b"));
    EXPECT_EQ(FileOpen(d.path(), FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting), InvalidFileHandle)
        << "a folder is not a file";
}

TEST(FileFolders, ForceDirectoriesRenameDelete)
{
    ScratchDir d;
    EXPECT_TRUE(ForceDirectories(d / "p/q/r/"));
    EXPECT_TRUE(DirectoryExists(d / "p/q/r"));
    EXPECT_TRUE(ForceDirectories(d / "p/q"));
    WriteBytes(d / "p/file", "x");
    EXPECT_FALSE(ForceDirectories(d / "p/file/sub"));
    EXPECT_EQ(LastOSError(), kErrNotAFolder);
    EXPECT_FALSE(ForceDirectories(d / "p/file")) << "a file stands where the folder should";
    EXPECT_EQ(LastOSError(), kErrNotAFolder);
    WriteBytes(d / "p/one", "1");
    WriteBytes(d / "p/two", "2");
    EXPECT_TRUE(FileRename(d / "p/one", d / "p/two")) << "rename replaces";
    EXPECT_FALSE(FileExists(d / "p/one"));
    EXPECT_EQ(ReadBytes(d / "p/two"), "1");
    EXPECT_TRUE(FileDelete(d / "p/two"));
    EXPECT_FALSE(FileDelete(d / "p/two"));
    EXPECT_EQ(LastOSError(), osErrorFileNotFound);
}

TEST(FileSearchTest, MasksOrderAndErrors)
{
    ScratchDir d;
    WriteBytes(d / "A.DAT", "x");
    WriteBytes(d / "b.dat", "x");
    WriteBytes(d / "c.txt", "x");
    WriteBytes(d / "noext", "x");
    ForceDirectories(d / "SUB.DAT");
    std::set<std::string> found;
    FileSearch s;
    SearchEntry e;
    ASSERT_TRUE(s.First(d / "*.dat", e));
    do
        found.insert(e.name + ((e.attributes & faDirectory) ? "/" : ""));
    while (s.Next(e));
    EXPECT_EQ(LastOSError(), osErrorNoMoreFiles);
    EXPECT_EQ(found, (std::set<std::string>{"A.DAT", "b.dat", "SUB.DAT/"}));

    found.clear();
    ASSERT_TRUE(s.First(d / "*.*", e));
    do
        found.insert(e.name);
    while (s.Next(e));
    EXPECT_TRUE(found.count("noext")) << "*.* matches names without a dot";
    EXPECT_TRUE(found.count(".") && found.count(".."));

    EXPECT_FALSE(s.First(d / "*.none", e));
    EXPECT_TRUE(s.NothingMatched());
    EXPECT_FALSE(s.First(d / "missing/*.*", e));
    EXPECT_FALSE(s.NothingMatched());
    EXPECT_EQ(LastOSError(), kErrNoFolder);
}

TEST(FileUniqueNames, CreatesDistinctFiles)
{
    ScratchDir d;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        const FileHandle h = CreateUniqueFile(d.path(), "~x", ".tmp", path);
        ASSERT_NE(h, InvalidFileHandle);
        EXPECT_EQ(ExtractFilePath(path), d.path() + PathDelim);
        EXPECT_EQ(ExtractFileName(path).rfind("~x", 0), 0u);
        FileClose(h);
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 20u);
    std::string path;
    EXPECT_EQ(CreateUniqueFile(d / "missing", "x", "", path), InvalidFileHandle);
    EXPECT_EQ(TempDirectory().back(), PathDelim);
}

TEST(FileFlush, FlushesAnOpenFileAndAFolder)
{
    ScratchDir d;
    const FileHandle h = FileOpen(d / "f", FileAccess::Write, FileShare::Read, FileDisposition::CreateNew);
    ASSERT_NE(h, InvalidFileHandle);
    ASSERT_EQ(FileWrite(h, "abc", 3), 3);
    EXPECT_TRUE(FileFlush(h));
    FileClose(h);
    EXPECT_FALSE(FileFlush(h)) << "a closed handle";
    EXPECT_TRUE(FlushDirectory(d.path()));
    EXPECT_FALSE(FlushDirectory(d / "missing"));
    EXPECT_FALSE(FlushDirectory(d / "f"));  // not a folder
}

TEST(FileFlush, FlushesClosedFilesByNameAndAsABatch)
{
    ScratchDir d;
    WriteBytes(d / "a", "x");
    WriteBytes(d / "ro", "x");
    ASSERT_TRUE(FileSetAttributes(d / "ro", faReadOnly));
    EXPECT_TRUE(FileFlushByName(d / "a"));
    EXPECT_TRUE(FileFlushByName(d / "ro")) << "a read-only file too";
    EXPECT_EQ(FileGetAttributes(d / "ro") & faReadOnly, faReadOnly) << "and stays read-only";
    EXPECT_FALSE(FileFlushByName(d / "missing"));
    EXPECT_TRUE(FileFlushAll({d / "a", d / "ro"}));
    EXPECT_TRUE(FileFlushAll({}));
    EXPECT_FALSE(FileFlushAll({d / "a", d / "missing"}));

    // A batch large enough for helper threads: one missing file among them
    // fails it with that file's reason.
    std::vector<std::string> many;
    for (int i = 0; i < 200; ++i) {
        many.push_back(d / ("m" + std::to_string(i)));
        WriteBytes(many.back(), std::string(static_cast<std::size_t>(i) * 37, 'q'));
    }
    EXPECT_TRUE(FileFlushAll(many));
    many.insert(many.begin() + 150, d / "missing");
    SetLastOSError(0);
    EXPECT_FALSE(FileFlushAll(many));
    EXPECT_EQ(LastOSError(), osErrorFileNotFound);
}

// Where restore may write: inside the folder once ".." is folded, whether
// or not the path exists yet. (Through links: the systems' own tests.)
TEST(FilePaths, FoldedAndTestedForLyingInside)
{
    ScratchDir d;
    ASSERT_TRUE(ForceDirectories(d / "dest/sub"));
    ASSERT_TRUE(ForceDirectories(d / "out"));
    const std::string real = ResolvePath(d.path());  // the temporary folder may itself be a link
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(ResolvePath(d / "dest/sub/../sub/new/file"), real + native("/dest/sub/new/file"));

    const std::vector<std::pair<const char *, bool>> cases = {
        {"dest", true},           {"dest/", true},          {"dest/sub/f", true},     {"dest/new/deeper/f", true},
        {"dest/x/../sub", true},  {"dest/../out/f", false}, {"destination/f", false}, {"out", false},
        {"dest/sub/../../out", false},
    };
    for (const auto &[path, inside] : cases)
        EXPECT_EQ(PathLiesInside(d / path, d / "dest"), inside) << path;
    EXPECT_TRUE(PathLiesInside(d / "dest/f", d / "out/../dest/")) << "the folder is normalised too";
    EXPECT_TRUE(PathLiesInside(d / "missing/f", d / "missing")) << "neither needs to exist";
    EXPECT_EQ(PathLiesInside(d / "DEST/SUB/f", d / "dest"), qv::test::kWindows)
        << "letter case counts where the system counts it";
}
