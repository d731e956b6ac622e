// ESTCabinet's messages, JoinPath and the file callbacks.
#include "comp_helpers.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "cabinet/CabSTConsts.h"

#include <cstring>

using namespace qv;
using namespace cabtest;

TEST(CabErrors, MessagesFollowFlagCodeAndSystemError)
{
    EXPECT_STREQ(ESTCabinet(cab::ERF{7, 0, 1}, true).what(), "Client requested abort [0x0007]");
    EXPECT_STREQ(ESTCabinet(cab::ERF{7, 5, 0}, true).what(), "FCI error") << "flag clear: the code does not count";
    EXPECT_STREQ(ESTCabinet(cab::ERF{3, 0, 0}, false).what(), "FDI error");
    EXPECT_STREQ(ESTCabinet(cab::ERF{12, 0, 1}, true).what(), "FCI error [0x000C]");
    EXPECT_STREQ(ESTCabinet(cab::ERF{9, 0, 1}, true).what(), "FCI error [0x0009]");
    EXPECT_STREQ(ESTCabinet(cab::ERF{-1, 0, 1}, false).what(), "FDI error [0xFFFFFFFF]");
    EXPECT_STREQ(ESTCabinet(cab::ERF{0x12345, 0, 1}, false).what(), "FDI error [0x12345]");
    EXPECT_STREQ(ESTCabinet(cab::ERF{10, 0, 1}, false).what(), "Cabinet returned on fdintNEXT_CABINET is incorrect [0x000A]");

    // The system's text loses its trailing full stops and spaces.
    const std::string sys = cabSystemText(EIO);
    ASSERT_FALSE(sys.empty());
    const ESTCabinet e(cab::ERF{8, EIO, 1}, false);
    EXPECT_EQ(std::string(e.what()), "Failure writing to target file [0x0008].\r\n" + sys + " [0x0005].");
    EXPECT_EQ(e.ErrorCode(), 8);
    EXPECT_EQ(e.SystemErrorCode(), EIO);
    EXPECT_TRUE(e.HasError());
    EXPECT_FALSE(e.IsFCI());
    // An OS code with the flag clear adds nothing.
    EXPECT_STREQ(ESTCabinet(cab::ERF{8, EIO, 0}, false).what(), "FDI error");
}

TEST(CabErrors, TextTablesCoverEveryCode)
{
    EXPECT_EQ(FCIErrorText(0), "No error");
    EXPECT_EQ(FCIErrorText(6), "Could not create cabinet file");
    EXPECT_EQ(FCIErrorText(8), "Failure compressing data");
    for (int c : {9, 10, 11, 12, -1, 1000})
        EXPECT_EQ(FCIErrorText(c), "FCI error") << c;
    EXPECT_EQ(FDIErrorText(9), "Cabinets in a set do not have the same RESERVE sizes");
    EXPECT_EQ(FDIErrorText(11), "FDI aborted");
    for (int c : {12, -1})
        EXPECT_EQ(FDIErrorText(c), "FDI error") << c;
}

TEST(CabErrors, CheckFDITakesTheLastReaderIOError)
{
    cab::ERF erf{cab::FDIERROR_TARGET_FILE, 0, 1};
    LastFDIIOError = EACCES;
    try {
        CheckFDI(false, erf);
        FAIL();
    } catch (const ESTCabinet &e) {
        EXPECT_EQ(e.SystemErrorCode(), EACCES);
        EXPECT_NE(std::string(e.what()).find("[0x000D]."), std::string::npos) << e.what();
    }
    LastFDIIOError = 0;
    EXPECT_NO_THROW(CheckFDI(true, erf));
    EXPECT_NO_THROW(CheckFCI(true, erf));
    EXPECT_THROW(CheckFCI(false, erf), ESTCabinet);
}

TEST(CabJoinPath, OneDelimiterBetweenNonEmptyParts)
{
    EXPECT_EQ(JoinCabName({"C:\\D\\", "\\X"}), "C:\\D\\X");
    EXPECT_EQ(JoinCabName({"C:\\D", "X"}), "C:\\D\\X");
    EXPECT_EQ(JoinCabName({"", "X"}), "X");
    EXPECT_EQ(JoinCabName({"C:\\D", ""}), "C:\\D");
    EXPECT_EQ(JoinCabName({"", "", "A", "", "B\\", "C"}), "A\\B\\C");
    EXPECT_EQ(JoinCabName({"A\\", "\\\\B"}), "A\\\\B") << "only one delimiter is dropped";
    EXPECT_EQ(JoinCabName({"A/", "B"}), "A/\\B") << "names inside a cabinet know only the backslash";
    const std::string d(1, PathDelim);
    EXPECT_EQ(JoinPath({d + "d" + d, d + "x"}), d + "d" + d + "x");
    EXPECT_EQ(JoinPath({d + "d", "x"}), d + "d" + d + "x");
    EXPECT_EQ(JoinPath({}), "");
    if (qv::test::kWindows) {
        // "/" is a delimiter there too: a folder typed with it joins as well.
        EXPECT_EQ(JoinPath({"C:/D/", "X"}), "C:/D/X");
        EXPECT_EQ(JoinPath({"C:\\D/", "\\X"}), "C:\\D\\X");
        EXPECT_EQ(JoinPath({"C:/D", "X"}), "C:/D\\X");
    }
}

namespace {

cab::INT_PTR open(const std::string &path, int flags, int *err)
{
    std::string p = path;
    return CabOpen(p.data(), flags, 0, err, nullptr);
}

std::string readAll(cab::INT_PTR h)
{
    std::string out;
    char buf[64];
    int err = 0;
    for (cab::UINT n; (n = CabRead(h, buf, sizeof buf, &err, nullptr)) > 0 && n != static_cast<cab::UINT>(-1);)
        out.append(buf, n);
    return out;
}

}  // namespace

TEST(CabOpenFlags, DispositionsFollowTheFlagTable)
{
    using namespace cab;
    TempDir dir;
    const std::string f = dir / "f.bin";
    int err = 0;

    // open: existing only
    EXPECT_EQ(open(f, _O_RDONLY, &err), -1);
    EXPECT_EQ(err, kErrNoFile);
    // truncate without create: existing only
    err = 0;
    EXPECT_EQ(open(f, _O_WRONLY | _O_TRUNC, &err), -1);
    EXPECT_EQ(err, kErrNoFile);
    // create alone: creates, and later opens without emptying
    cab::INT_PTR h = open(f, _O_WRONLY | _O_CREAT, &err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(CabWrite(h, const_cast<char *>("hello"), 5, &err, nullptr), 5u);
    EXPECT_EQ(CabClose(h, &err, nullptr), 0);
    h = open(f, _O_RDWR | _O_CREAT, &err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(readAll(h), "hello");
    CabClose(h, &err, nullptr);
    // exclusive create: fails on an existing file even with truncate
    err = 0;
    EXPECT_EQ(open(f, _O_WRONLY | _O_CREAT | _O_EXCL | _O_TRUNC, &err), -1);
    EXPECT_EQ(err, kErrExists);
    // append: writes go to the end
    h = open(f, _O_WRONLY | _O_APPEND, &err);
    ASSERT_NE(h, -1);
    CabWrite(h, const_cast<char *>("!"), 1, &err, nullptr);
    CabClose(h, &err, nullptr);
    EXPECT_EQ(readFile(f), "hello!");
    // create with truncate: empties
    h = open(f, _O_WRONLY | _O_CREAT | _O_TRUNC, &err);
    ASSERT_NE(h, -1);
    CabClose(h, &err, nullptr);
    EXPECT_EQ(readFile(f), "");
    // read-only access refuses writes
    h = open(f, _O_RDONLY | _O_BINARY, &err);
    ASSERT_NE(h, -1);
    err = 0;
    EXPECT_EQ(CabWrite(h, const_cast<char *>("x"), 1, &err, nullptr), static_cast<cab::UINT>(-1));
    EXPECT_EQ(err, kErrReadOnlyHandle);
    CabClose(h, &err, nullptr);
    // temporary: gone after close
    const std::string t = dir / "t.tmp";
    h = open(t, _O_RDWR | _O_CREAT | _O_TEMPORARY | _O_SHORT_LIVED, &err);
    ASSERT_NE(h, -1);
    EXPECT_TRUE(FileExists(t));
    CabClose(h, &err, nullptr);
    EXPECT_FALSE(FileExists(t));
}

TEST(CabOpenFlags, SeekReportsPositionsAndErrors)
{
    TempDir dir;
    writeFile(dir / "s", "0123456789");
    int err = 0;
    const cab::INT_PTR h = open(dir / "s", cab::_O_RDONLY, &err);
    ASSERT_NE(h, -1);
    EXPECT_EQ(CabSeek(h, 0, 2, &err, nullptr), 10);
    EXPECT_EQ(CabSeek(h, -3, 1, &err, nullptr), 7);
    EXPECT_EQ(CabSeek(h, 2, 0, &err, nullptr), 2);
    err = 0;
    EXPECT_EQ(CabSeek(h, -5, 0, &err, nullptr), -1);
    EXPECT_EQ(err, kErrNegativeSeek);
    CabClose(h, &err, nullptr);
}

TEST(CabOpenFlags, ReaderVariantsRecordIntoLastFDIIOError)
{
    TempDir dir;
    std::string missing = dir / "missing";
    LastFDIIOError = 0;
    EXPECT_EQ(CabOpen(missing.data(), cab::_O_RDONLY, 0), -1);
    EXPECT_EQ(LastFDIIOError, kErrNoFile);
    writeFile(dir / "r", "abc");
    std::string r = dir / "r";
    const cab::INT_PTR h = CabOpen(r.data(), cab::_O_RDONLY, 0);
    ASSERT_NE(h, -1);
    char buf[8];
    EXPECT_EQ(CabRead(h, buf, 8), 3u);
    LastFDIIOError = 0;
    EXPECT_EQ(CabWrite(h, buf, 1), static_cast<cab::UINT>(-1));
    EXPECT_EQ(LastFDIIOError, kErrReadOnlyHandle);
    EXPECT_EQ(CabClose(h), 0);
    LastFDIIOError = 0;
}

TEST(CabTempFile, NamesAFreshStcFileInTheTempFolder)
{
    char buf[300];
    ASSERT_TRUE(CabGetTempFile(buf, sizeof buf, nullptr));
    const std::string name = buf;
    EXPECT_EQ(ExtractFilePath(name), TempDirectory());
    EXPECT_EQ(ExtractFileName(name).rfind("stc", 0), 0u) << name;
    EXPECT_FALSE(FileExists(name)) << "the placeholder is removed";
    char again[300];
    ASSERT_TRUE(CabGetTempFile(again, sizeof again, nullptr));
    EXPECT_STRNE(buf, again);

    char small[8];
    std::memset(small, 'Q', sizeof small);
    EXPECT_FALSE(CabGetTempFile(small, sizeof small, nullptr));
    EXPECT_EQ(small[0], 'Q') << "the buffer stays untouched";
}

TEST(CabOpenInfo, ReportsLocalDosTimeAndMaskedAttributes)
{
    TempDir dir;
    const std::string f = dir / "x.dat";
    writeFile(f, "data");
    setLocalMTime(f, 2010, 7, 15, 9, 41, 17);
    FileSetAttributes(f, faReadOnly | faArchive);
    cab::USHORT date = 0, time = 0, attrs = 0xFFFF;
    int err = 0;
    std::string p = f;
    const cab::INT_PTR h = CabGetOpenInfo(p.data(), &date, &time, &attrs, &err, nullptr);
    ASSERT_NE(h, -1);
    EXPECT_EQ(date, dosDate(2010, 7, 15));
    EXPECT_EQ(time, dosTime(9, 41, 16));
    EXPECT_EQ(attrs, 0x21);
    char buf[8];
    EXPECT_EQ(CabRead(h, buf, 8, &err, nullptr), 4u);
    CabClose(h, &err, nullptr);

    std::string missing = dir / "none";
    err = 0;
    EXPECT_EQ(CabGetOpenInfo(missing.data(), &date, &time, &attrs, &err, nullptr), -1);
    EXPECT_EQ(err, kErrNoFile);

    // Before 1980 there is no DOS form; the earliest DOS date stands in.
    setLocalMTime(f, 1975, 1, 1, 12, 0, 0);
    const cab::INT_PTR h2 = CabGetOpenInfo(p.data(), &date, &time, &attrs, &err, nullptr);
    ASSERT_NE(h2, -1);
    CabClose(h2, &err, nullptr);
    EXPECT_EQ(date, dosDate(1980, 1, 1));
}

TEST(CabSetFileInfoTest, SetsTimeAndReplacesAttributes)
{
    TempDir dir;
    const std::string f = dir / "x.dat";
    writeFile(f, "data");
    const bool dosAttrs = dosAttributesKept(dir.path());
    FileSetAttributes(f, faHidden | faArchive);
    CabSetFileInfo(f, dosDate(2001, 2, 3), dosTime(4, 5, 6), 0x20);
    EXPECT_EQ(localMTime(f), (std::vector<int>{2001, 2, 3, 4, 5, 6}));
    if (dosAttrs) {
        EXPECT_EQ(FileGetAttributes(f) & (faHidden | faReadOnly), 0u) << "hidden is cleared";
    }
    EXPECT_EQ(FileGetAttributes(f) & faReadOnly, 0u);
    CabSetFileInfo(f, dosDate(2001, 2, 3), dosTime(4, 5, 6), 0x01 | 0x40 | 0x80);
    EXPECT_EQ(FileGetAttributes(f) & faReadOnly, faReadOnly);
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only is no write permission for anyone";
#endif
    CabSetFileInfo(dir / "missing", 0, 0, 0);  // no file: nothing happens, nothing thrown
}
