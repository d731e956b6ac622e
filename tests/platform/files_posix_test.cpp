// The file layer on POSIX systems: names and expansion, attributes kept in
// permissions and an extended attribute, times in a named time zone, the
// case-insensitive lookup, unique folders and links.
#include "platform/errors.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace qv;

namespace {

struct Dir {
    std::string path;
    Dir()
    {
        std::string t = TempDirectory() + "qvfiles.XXXXXX";
        path = ::mkdtemp(t.data());
    }
    ~Dir() { std::system(("chmod -R u+w '" + path + "'; rm -rf '" + path + "'").c_str()); }
    std::string operator/(const std::string &r) const { return path + "/" + r; }
};

void touch(const std::string &p, const std::string &data = "x")
{
    std::ofstream(p, std::ios::binary) << data;
}

}  // namespace

TEST(FileNames, PartsAndExpansion)
{
    EXPECT_EQ(ExtractFilePath("/a/b/c.cab"), "/a/b/");
    EXPECT_EQ(ExtractFileName("/a/b/c.cab"), "c.cab");
    EXPECT_EQ(ExtractFilePath("c.cab"), "");
    EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
    EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
    EXPECT_EQ(ExpandFileName("x.cab"), CurrentDirectory() + "/x.cab");
}

TEST(FileAttributes, ReadOnlyHiddenSystemArchive)
{
    Dir d;
    const std::string f = d / "f";
    touch(f);
    EXPECT_EQ(FileGetAttributes(f), faArchive) << "no stored bits: archive";
    EXPECT_EQ(FileGetAttributes(d.path) & faDirectory, faDirectory);
    EXPECT_EQ(FileGetAttributes(d / "none"), InvalidFileAttributes);
    touch(d / ".dot");
    EXPECT_EQ(FileGetAttributes(d / ".dot") & faHidden, faHidden);

    ASSERT_TRUE(FileSetAttributes(f, faReadOnly | faArchive));
    struct stat st;
    ::stat(f.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(FileGetAttributes(f) & faReadOnly, faReadOnly);
    ASSERT_TRUE(FileSetAttributes(f, 0));
    ::stat(f.c_str(), &st);
    EXPECT_NE(st.st_mode & 0200, 0u);

    ASSERT_TRUE(FileSetAttributes(f, faHidden | faSystem));
    const std::uint32_t a = FileGetAttributes(f);
    if (a & faHidden) {  // the file system keeps extended attributes
        EXPECT_EQ(a & 0x27, faHidden | faSystem);
        ASSERT_TRUE(FileSetAttributes(f, faHidden | faReadOnly));
        EXPECT_EQ(FileGetAttributes(f) & 0x27, faHidden | faReadOnly) << "bits survive the loss of write permission";
        ASSERT_TRUE(FileSetAttributes(f, 0));
        EXPECT_EQ(FileGetAttributes(f), faNormal) << "stored as none: no bit at all";
    }
}

TEST(FileTimes, LocalRoundTripAndFileStamps)
{
    const char *old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "Europe/Warsaw", 1);
    ::tzset();
    const FileTime summerUtc = FileTimeFromUnix(1120000000);  // 2005-06-28 23:06:40 UTC
    FileTime local, back;
    ASSERT_TRUE(FileTimeToLocalFileTime(summerUtc, local));
    EXPECT_EQ(local - summerUtc, 2LL * 3600 * 10000000) << "CEST is two hours ahead";
    ASSERT_TRUE(LocalFileTimeToFileTime(local, back));
    EXPECT_EQ(back, summerUtc);
    const FileTime winterUtc = FileTimeFromUnix(1104537600);  // 2005-01-01 00:00 UTC
    ASSERT_TRUE(FileTimeToLocalFileTime(winterUtc, local));
    EXPECT_EQ(local - winterUtc, 1LL * 3600 * 10000000);

    Dir d;
    touch(d / "t");
    FileHandle h = FileOpen(d / "t", FileAccess::ReadWrite, FileShare::Read, FileDisposition::OpenExisting);
    ASSERT_NE(h, InvalidFileHandle);
    const FileTime when = FileTimeFromUnix(1000000000, 500000000);
    ASSERT_TRUE(FileSetTimes(h, &when, nullptr, &when));
    FileTime w = 0;
    ASSERT_TRUE(FileGetTimes(h, nullptr, nullptr, &w));
    EXPECT_EQ(w, when);
    FileClose(h);
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST(FileCase, FindsPathIgnoringCase)
{
    Dir d;
    ForceDirectories(d / "Firma1/Dane");
    touch(d / "Firma1/Dane/Plik.DBF");
    touch(d / "Firma1/\xC5\xBB\xC3\xB3\xC5\x82\x77.txt");  // Żółw.txt
    EXPECT_EQ(FindPathIgnoringCase(d / "FIRMA1/dane/PLIK.dbf"), d / "Firma1/Dane/Plik.DBF");
    EXPECT_EQ(FindPathIgnoringCase(d / "firma1/\xC5\xBC\xC3\x93\xC5\x81W.TXT"), d / "Firma1/\xC5\xBB\xC3\xB3\xC5\x82\x77.txt");
    EXPECT_EQ(FindPathIgnoringCase(d / "Firma1/Dane/Plik.DBF"), d / "Firma1/Dane/Plik.DBF");
    EXPECT_EQ(FindPathIgnoringCase(d / "FIRMA1/nothing"), "");
    EXPECT_EQ(FindPathIgnoringCase(""), "");
}

TEST(FileFolders, UniqueFoldersAndTreesRemovedWithoutFollowingLinks)
{
    Dir d, outside;
    std::string a, b;
    ASSERT_TRUE(CreateUniqueDirectory(d.path, ".pre-", a));
    ASSERT_TRUE(CreateUniqueDirectory(d.path + "/", ".pre-", b));
    EXPECT_NE(a, b);
    EXPECT_EQ(ExtractFilePath(a), d.path + "/");
    EXPECT_EQ(ExtractFileName(a).rfind(".pre-", 0), 0u);
    struct stat st;
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "this user's only";

    touch(outside / "keep");
    ASSERT_TRUE(ForceDirectories(a + "/x/y"));
    touch(a + "/x/y/f");
    touch(a + "/ro");
    ::chmod((a + "/ro").c_str(), 0444);
    ASSERT_EQ(::symlink(outside.path.c_str(), (a + "/x/link").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "keep").c_str(), (a + "/filelink").c_str()), 0);
    EXPECT_FALSE(DirectoryDelete(a)) << "not empty";
    EXPECT_TRUE(DirectoryDeleteTree(a));
    EXPECT_FALSE(PathExists(a));
    EXPECT_TRUE(FileExists(outside / "keep")) << "links are removed, not followed";
    EXPECT_TRUE(DirectoryDeleteTree(a)) << "already gone";
    EXPECT_TRUE(DirectoryDelete(b));
    EXPECT_FALSE(CreateUniqueDirectory(d / "missing/deeper", "x", a));
}

TEST(FilePaths, ResolvedThroughLinksAndTestedForLyingInside)
{
    Dir d;
    ASSERT_TRUE(ForceDirectories(d / "dest/sub"));
    ASSERT_TRUE(ForceDirectories(d / "out"));
    ASSERT_EQ(::symlink((d / "out").c_str(), (d / "dest/link").c_str()), 0);
    ASSERT_EQ(::symlink((d / "dest/sub").c_str(), (d / "dest/inlink").c_str()), 0);
    ASSERT_EQ(::symlink((d / "nowhere").c_str(), (d / "dest/dangling").c_str()), 0);
    const std::string real = ResolvePath(d.path);  // the temporary folder may itself be a link
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(ResolvePath(d / "dest/sub/../sub/new/file"), real + "/dest/sub/new/file");
    EXPECT_EQ(ResolvePath(d / "dest/link/x"), real + "/out/x");
    EXPECT_EQ(ResolvePath(d / "dest/dangling/x"), "");

    const std::vector<std::pair<const char *, bool>> cases = {
        {"dest", true},           {"dest/", true},          {"dest/sub/f", true},     {"dest/new/deeper/f", true},
        {"dest/inlink/f", true},  {"dest/x/../sub", true},  {"dest/../out/f", false}, {"dest/link/f", false},
        {"dest/link", false},     {"dest/dangling", false}, {"destination/f", false}, {"out", false},
        {"dest/sub/../../out", false},
    };
    for (const auto &[path, inside] : cases)
        EXPECT_EQ(PathLiesInside(d / path, d / "dest"), inside) << path;
    EXPECT_TRUE(PathLiesInside(d / "dest/f", d / "out/../dest/")) << "the folder is normalised too";
    EXPECT_TRUE(PathLiesInside(d / "missing/f", d / "missing")) << "neither needs to exist";
    EXPECT_FALSE(PathLiesInside(d / "dest/f", d / "dest/dangling"));
    EXPECT_TRUE(PathIsLink(d / "dest/link"));
    EXPECT_TRUE(PathIsLink(d / "dest/dangling"));
    EXPECT_FALSE(PathIsLink(d / "dest/sub"));
    EXPECT_FALSE(PathIsLink(d / "missing"));
}
