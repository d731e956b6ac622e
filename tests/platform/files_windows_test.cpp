// The file layer through the Windows calls themselves (under Wine in the
// cross-build): share modes as the ledger program meets them, the DOS
// attributes and the three time stamps, names with Polish letters at the
// UTF-16 boundary, temporary files and renaming over an existing file.
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/tempfiles.h"
#include "platform/text.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace qv;
using qv::test::ReadBytes;
using qv::test::ScratchDir;
using qv::test::WriteBytes;

namespace {

std::wstring wide(const std::string &s) { return qv::Utf8ToUtf16(s); }

FileHandle openFor(const std::string &path, FileAccess access, FileShare share)
{
    return FileOpen(path, access, share, FileDisposition::OpenExisting);
}

const char kPolish[] = "Zażółć gęślą jaźń.txt";
const wchar_t kPolishWide[] = L"Za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144.txt";

}  // namespace

TEST(WindowsShareModes, AFileHeldForWritingRefusesAnotherWriterButNotAFullySharingReader)
{
    ScratchDir d;
    const std::string f = d / "SPISFIRM.DAT";
    WriteBytes(f, "rekord");
    // The ledger program holds its register open for writing, sharing reads.
    const FileHandle ledger = openFor(f, FileAccess::ReadWrite, FileShare::Read);
    ASSERT_NE(ledger, InvalidFileHandle);

    EXPECT_EQ(openFor(f, FileAccess::Write, FileShare::ReadWrite), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), ERROR_SHARING_VIOLATION);
    // A reader that would keep others from writing clashes with the writer.
    EXPECT_EQ(openFor(f, FileAccess::Read, FileShare::Read), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), ERROR_SHARING_VIOLATION);
    // Read-only with full sharing, as the program reads ledger files: allowed.
    const FileHandle reader = openFor(f, FileAccess::Read, FileShare::ReadWrite);
    ASSERT_NE(reader, InvalidFileHandle);
    char buf[16] = {};
    EXPECT_EQ(FileRead(reader, buf, sizeof buf), 6);
    EXPECT_STREQ(buf, "rekord");
    FileClose(reader);
    FileClose(ledger);

    // Held with no sharing at all: nobody else opens it.
    const FileHandle alone = openFor(f, FileAccess::Read, FileShare::None);
    ASSERT_NE(alone, InvalidFileHandle);
    EXPECT_EQ(openFor(f, FileAccess::Read, FileShare::ReadWrite), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), ERROR_SHARING_VIOLATION);
    FileClose(alone);
}

TEST(WindowsAttributes, EachDosBitIsSetAndReadBackThroughTheSystem)
{
    ScratchDir d;
    const std::string f = d / "PLIK.DBF";
    WriteBytes(f, "x");
    const std::uint32_t cases[] = {faReadOnly,
                                   faHidden,
                                   faSystem,
                                   faArchive,
                                   faReadOnly | faHidden | faSystem | faArchive,
                                   faHidden | faArchive,
                                   0};
    for (std::uint32_t bits : cases) {
        ASSERT_TRUE(FileSetAttributes(f, bits)) << bits;
        const std::uint32_t expected = qv::test::AttributesAsRead(bits);
        EXPECT_EQ(FileGetAttributes(f) & 0x27u, expected) << bits;
        EXPECT_EQ(GetFileAttributesW(wide(f).c_str()) & 0x27u, expected) << "as Windows itself tells, " << bits;
    }
    EXPECT_EQ(FileGetAttributes(d.path()) & faDirectory, faDirectory);
    EXPECT_EQ(FileGetAttributes(d / "none"), InvalidFileAttributes);

    // A tree with read-only and hidden files inside goes whole.
    WriteBytes(d / "T/A/ro.txt", "r");
    ASSERT_TRUE(FileSetAttributes(d / "T/A/ro.txt", faReadOnly | faHidden));
    EXPECT_TRUE(DirectoryDeleteTree(d / "T"));
    EXPECT_FALSE(PathExists(d / "T"));
}

TEST(WindowsAttributes, ReadOnlyRefusesWritingUntilCleared)
{
    if (qv::test::UnderWineAsRoot())
        GTEST_SKIP() << "Wine keeps read-only as the Unix write permission, which does not stop root";
    ScratchDir d;
    const std::string f = d / "PLIK.DBF";
    WriteBytes(f, "x");
    ASSERT_TRUE(FileSetAttributes(f, faReadOnly));
    const FileHandle refused = openFor(f, FileAccess::Write, FileShare::ReadWrite);
    EXPECT_EQ(refused, InvalidFileHandle);
    EXPECT_EQ(LastOSError(), ERROR_ACCESS_DENIED);
    if (refused != InvalidFileHandle)
        FileClose(refused);  // so that the folder still goes
    const FileHandle reader = openFor(f, FileAccess::Read, FileShare::ReadWrite);
    EXPECT_NE(reader, InvalidFileHandle);
    FileClose(reader);
    ASSERT_TRUE(FileSetAttributes(f, 0));
    const FileHandle writer = openFor(f, FileAccess::Write, FileShare::ReadWrite);
    EXPECT_NE(writer, InvalidFileHandle);
    FileClose(writer);
}

TEST(WindowsTimes, LastWriteIsKeptToTheHundredNanoseconds)
{
    ScratchDir d;
    const std::string f = d / "czas.txt";
    WriteBytes(f, "x");
    // 2005-03-03 15:15:36.1234567 UTC, not on a second.
    const FileTime written = FileTimeFromUnix(1109862936, 123456700) + 7;
    FileHandle h = openFor(f, FileAccess::ReadWrite, FileShare::Read);
    ASSERT_NE(h, InvalidFileHandle);
    ASSERT_TRUE(FileSetTimes(h, nullptr, nullptr, &written));
    FileClose(h);

    h = openFor(f, FileAccess::Read, FileShare::ReadWrite);
    FileTime w = 0;
    ASSERT_TRUE(FileGetTimes(h, nullptr, nullptr, &w));
    FileClose(h);
    EXPECT_EQ(w, written);

    FileTime local = 0, back = 0;
    ASSERT_TRUE(FileTimeToLocalFileTime(written, local));
    ASSERT_TRUE(LocalFileTimeToFileTime(local, back));
    EXPECT_EQ(back, written);
}

TEST(WindowsTimes, CreationAndAccessAreKeptAndLeftAloneWhenNotGiven)
{
    if (qv::test::UnderWine())
        GTEST_SKIP() << "Wine on Linux has no creation time to keep, and the mount's atime rules move access times";
    ScratchDir d;
    const std::string f = d / "czas.txt";
    WriteBytes(f, "x");
    // 2005-03-03 14:15:36.1234567 UTC and neighbours, none on a second.
    const FileTime created = FileTimeFromUnix(1109859336, 123456700);
    const FileTime accessed = created + 86400LL * 10000000 + 3;
    const FileTime written = created + 3600LL * 10000000 + 7;
    FileHandle h = openFor(f, FileAccess::ReadWrite, FileShare::Read);
    ASSERT_NE(h, InvalidFileHandle);
    ASSERT_TRUE(FileSetTimes(h, &created, &accessed, &written));
    FileClose(h);

    h = openFor(f, FileAccess::Read, FileShare::ReadWrite);
    FileTime c = 0, a = 0, w = 0;
    ASSERT_TRUE(FileGetTimes(h, &c, &a, &w));
    EXPECT_EQ(c, created);
    EXPECT_EQ(a, accessed);
    EXPECT_EQ(w, written);
    FileClose(h);

    // nullptr leaves a time as it was.
    const FileTime later = written + 20000000;
    h = openFor(f, FileAccess::ReadWrite, FileShare::Read);
    ASSERT_TRUE(FileSetTimes(h, nullptr, nullptr, &later));
    ASSERT_TRUE(FileGetTimes(h, &c, nullptr, &w));
    FileClose(h);
    EXPECT_EQ(c, created);
    EXPECT_EQ(w, later);
}

TEST(WindowsNames, PolishLettersGoThroughTheWideCallsNeverTheAnsiCodePage)
{
    // Where the ANSI code page cannot spell the name, an ANSI call along the
    // way would turn letters into '?' and fail or hit another file.
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, kPolishWide, -1, nullptr, 0, nullptr, &lossy);
    if (!lossy)
        std::printf("note: ANSI code page %u spells the Polish letters; the test still checks the names\n", GetACP());

    ScratchDir d;
    const std::string folder = d / "Łódź Śródmieście";
    ASSERT_TRUE(ForceDirectories(folder));
    const std::string f = folder + "\\" + kPolish;
    FileHandle h = FileOpen(f, FileAccess::Write, FileShare::Read, FileDisposition::CreateNew);
    ASSERT_NE(h, InvalidFileHandle) << LastOSError();
    EXPECT_EQ(FileWrite(h, "dane", 4), 4);
    FileClose(h);
    const std::wstring wideFolder = wide(d.path()) + L"\\\u0141\u00F3d\u017A \u015Ar\u00F3dmie\u015Bcie";
    EXPECT_NE(GetFileAttributesW((wideFolder + L"\\" + kPolishWide).c_str()), INVALID_FILE_ATTRIBUTES)
        << "the name on disk is the UTF-16 of the UTF-8 given";

    FileSearch search;
    SearchEntry e;
    std::vector<std::string> seen;
    ASSERT_TRUE(search.First(folder + "\\*.TXT", e));
    do
        seen.push_back(e.name);
    while (search.Next(e));
    EXPECT_EQ(seen, std::vector<std::string>{kPolish});
    EXPECT_EQ(e.size, 4u);

    EXPECT_EQ(ReadBytes(f), "dane");
    EXPECT_EQ(FindPathIgnoringCase(folder + "\\ZAŻÓŁĆ GĘŚLĄ JAŹŃ.TXT"), folder + "\\ZAŻÓŁĆ GĘŚLĄ JAŹŃ.TXT")
        << "the system ignores letter case itself";
    EXPECT_TRUE(FileExists(folder + "\\ZAŻÓŁĆ GĘŚLĄ JAŹŃ.TXT"));

    const std::string renamed = folder + "\\Źdźbło.dbf";
    ASSERT_TRUE(FileRename(f, renamed));
    EXPECT_FALSE(FileExists(f));
    EXPECT_EQ(ReadBytes(renamed), "dane");
    ASSERT_TRUE(FileDelete(renamed));
    EXPECT_FALSE(PathExists(renamed));
    EXPECT_TRUE(DirectoryDelete(folder));
}

TEST(WindowsNames, DevicesAndFoldersAreNotFiles)
{
    ScratchDir d;
    EXPECT_EQ(openFor(d / "NUL", FileAccess::Read, FileShare::ReadWrite), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), osErrorNotRegularFile);
    // The console opens only where the program has one; never as a file.
    EXPECT_EQ(openFor(d / "CON", FileAccess::Read, FileShare::ReadWrite), InvalidFileHandle);
    EXPECT_EQ(openFor(d.path(), FileAccess::Read, FileShare::ReadWrite), InvalidFileHandle);
    EXPECT_EQ(ExtractFilePath("C:\\LDG_2005\\SPISFIRM.DAT"), "C:\\LDG_2005\\");
    EXPECT_EQ(ExtractFileName("C:/LDG_2005/FIRMA1"), "FIRMA1");
    EXPECT_EQ(ExtractFilePath("C:plik.cab"), "C:");
}

TEST(WindowsTempFiles, OwnTemporaryFileIsNewExclusiveForWritersAndSurvivesTheSweep)
{
    ScratchDir d;
    std::string path, second;
    const FileHandle h = CreateOwnTempFile(d.path(), "~ARCHIWUM.CAB", path);
    ASSERT_NE(h, InvalidFileHandle);
    EXPECT_EQ(ExtractFilePath(path), d.path() + "\\");
    EXPECT_EQ(OwnTempFileMaker(ExtractFileName(path)), CurrentProcessId());
    EXPECT_EQ(openFor(path, FileAccess::Write, FileShare::ReadWrite), InvalidFileHandle) << "only we write it";
    EXPECT_EQ(LastOSError(), ERROR_SHARING_VIOLATION);
    const FileHandle other = CreateOwnTempFile(d.path(), "~ARCHIWUM.CAB", second);
    ASSERT_NE(other, InvalidFileHandle);
    EXPECT_NE(second, path);
    FileClose(other);
    EXPECT_EQ(RemoveStaleTempFiles(d.path()), 0) << "a running process's files stay";
    FileClose(h);
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(FileExists(second));
}

TEST(WindowsRename, ReplacesAnExistingFileUnlessItIsHeldOpen)
{
    ScratchDir d;
    const std::string temp = d / "~A.CAB.tmp", target = d / "A.CAB";
    WriteBytes(temp, "new");
    WriteBytes(target, "old");
    ASSERT_TRUE(FileRename(temp, target));
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_FALSE(FileExists(temp));

    // A reader without delete sharing (as most programs open files) keeps the
    // old file in place; both files stay as they were.
    WriteBytes(temp, "newer");
    const FileHandle reader = openFor(target, FileAccess::Read, FileShare::ReadWrite);
    ASSERT_NE(reader, InvalidFileHandle);
    EXPECT_FALSE(FileRename(temp, target));
    EXPECT_TRUE(LastOSError() == ERROR_ACCESS_DENIED || LastOSError() == ERROR_SHARING_VIOLATION) << LastOSError();
    FileClose(reader);
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_EQ(ReadBytes(temp), "newer");
    ASSERT_TRUE(FileRename(temp, target));
    EXPECT_EQ(ReadBytes(target), "newer");
}
