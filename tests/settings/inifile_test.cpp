#include "settings/inifile.h"

#include "platform/errors.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#endif

using qv::IniFile;

namespace {

class IniFileTest : public TempDirTest {
protected:
    QString file() const { return path(QStringLiteral("ARCH.INI")); }
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("Main", "host", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Main", "port", 21), 21);
    EXPECT_FALSE(QFileInfo::exists(file())) << "reading must not create the file";

    WriteBytes(file(), "[Other]\r\nhost=elsewhere\r\n[Main]\r\nport=2121\r\n");
    EXPECT_EQ(ini.ReadString("Main", "host", "dflt"), "dflt");        // key in another section only
    EXPECT_EQ(ini.ReadString("Missing", "port", "dflt"), "dflt");     // section missing
    EXPECT_EQ(ini.ReadInteger("Main", "port", 21), 2121);
    EXPECT_EQ(ini.ReadString("Main", "port", "dflt"), "2121");
}

TEST_F(IniFileTest, NamesIgnoreCaseAndBlanksValuesAreTrimmed)
{
    WriteBytes(file(),
               "[ mAiN ]\r\n"
               "  FormVERSION =  7 \t\r\n"
               "NormPos=1,2,3,4\r\n"
               "; NormPos=this is a comment\r\n"
               "[main]\r\n"
               "Extra=from the second section of the name\r\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadInteger("Main", "formversion", -1), 7);
    EXPECT_EQ(ini.ReadString("MAIN", "FORMVERSION", ""), "7");
    EXPECT_EQ(ini.ReadString("main", "normpos", ""), "1,2,3,4");
    // Only the first section of a name counts, as the platform's reader does.
    EXPECT_EQ(ini.ReadString("Main", "Extra", "none"), "none");
}

TEST_F(IniFileTest, OnePairOfMatchingQuotesIsRemoved)
{
    WriteBytes(file(),
               "[S]\n"
               "dq=\"two words\"\n"
               "sq='single'\n"
               "mixed=\"open'\n"
               "twice=\"\"inner\"\"\n"
               "lone=\"\n"
               "three=\"\"\"\n"
               "inside=a \"b\" c\n"
               "blanks=  \" padded \"  \n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("S", "dq", ""), "two words");
    EXPECT_EQ(ini.ReadString("S", "sq", ""), "single");
    EXPECT_EQ(ini.ReadString("S", "mixed", ""), "\"open'");
    EXPECT_EQ(ini.ReadString("S", "twice", ""), "\"inner\"");
    EXPECT_EQ(ini.ReadString("S", "lone", ""), "\"");
    EXPECT_EQ(ini.ReadString("S", "three", ""), "\"");
    EXPECT_EQ(ini.ReadString("S", "inside", ""), "a \"b\" c");
    EXPECT_EQ(ini.ReadString("S", "blanks", ""), " padded ");
    // The caller's default is given back as it is, quotes and all.
    EXPECT_EQ(ini.ReadString("S", "missing", "\"C:\\a b.cab\""), "\"C:\\a b.cab\"");
}

TEST_F(IniFileTest, AReadGivesAtMost2047Characters)
{
    QString longValue;
    for (int i = 0; i < 3000; ++i)
        longValue += QChar(u'a' + i % 26);
    IniFile ini(file());
    ini.WriteString("S", "long", longValue);
    ini.WriteString("S", "exact", longValue.left(2047));
    ini.WriteString("S", "quoted", '"' + longValue.left(2048) + '"');

    EXPECT_EQ(ini.ReadString("S", "long", ""), longValue.left(2047));
    EXPECT_EQ(ini.ReadString("S", "exact", ""), longValue.left(2047));
    EXPECT_EQ(ini.ReadString("S", "quoted", ""), longValue.left(2047));
    EXPECT_EQ(ini.ReadString("S", "missing", longValue), longValue.left(2047));
    // The whole value is in the file all the same.
    EXPECT_TRUE(ReadBytes(file()).contains(longValue.toUtf8()));
}

TEST_F(IniFileTest, IntegersAreDecimalOrHexadecimal)
{
    WriteBytes(file(),
               "[N]\r\n"
               "dec=42\r\nneg=-7\r\nplus=+3\r\nzeros=007\r\n"
               "hex=0x1F\r\nupper=0X10\r\nall=0xFFFFFFFF\r\nquoted=\"0x20\"\r\n"
               "justprefix=0x\r\nbadhex=0x1G\r\nlonghex=0x100000000\r\n"
               "trailing=12abc\r\nempty=\r\nhuge=99999999999\r\nspaced=1 2\r\nhexneg=-0x10\r\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadInteger("N", "dec", 0), 42);
    EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -7);
    EXPECT_EQ(ini.ReadInteger("N", "plus", 0), 3);
    EXPECT_EQ(ini.ReadInteger("N", "zeros", 0), 7);
    EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("N", "upper", 0), 16);
    EXPECT_EQ(ini.ReadInteger("N", "all", 0), -1);
    EXPECT_EQ(ini.ReadInteger("N", "quoted", 0), 32);
    for (const char *key : {"justprefix", "badhex", "longhex", "trailing", "empty", "huge", "spaced", "hexneg"})
        EXPECT_EQ(ini.ReadInteger("N", key, -99), -99) << key;
}

TEST_F(IniFileTest, WritingCreatesFileAndSectionAndReplacesValues)
{
    IniFile ini(file());
    ini.WriteString("Main", "FormVersion", "0");
    EXPECT_EQ(ReadBytes(file()), QByteArray("[Main]\r\nFormVersion=0\r\n"));

    ini.WriteInteger("Main", "Flags", 2);
    ini.WriteString("Okno_Statusu", "ShowCmd", "3");
    ini.WriteString("MAIN", "formversion", "1");  // replaces, whatever the case
    EXPECT_EQ(ReadBytes(file()),
              QByteArray("[Main]\r\nformversion=1\r\nFlags=2\r\n\r\n[Okno_Statusu]\r\nShowCmd=3\r\n"));
    EXPECT_EQ(ini.ReadInteger("Main", "FormVersion", -1), 1);
}

TEST_F(IniFileTest, LinesThatAreNotWrittenSurviveByteForByte)
{
    // A BOM, LF line ends, comments, blank lines, an unknown key, another
    // section, Windows-1250 bytes and no line end at the very end.
    const QByteArray before =
        "\xEF\xBB\xBF; settings of the archiver\n"
        "\n"
        "[Main]\n"
        "  Unknown = keep me  \n"
        "NormPos=1,2,3,4\n"
        "; a comment inside\n"
        "\n"
        "[Other]\n"
        "Nazwa=\xB3\xF3\x64\x9F\n"
        "# not ours either";
    WriteBytes(file(), before);
    IniFile ini(file());
    ini.WriteString("main", "NormPos", "10,20,30,40");
    ini.WriteString("Main", "Visible", "0");
    ini.WriteString("Other", "New", "x");
    ini.WriteString("Third", "k", "v");

    const QByteArray expected =
        "\xEF\xBB\xBF; settings of the archiver\n"
        "\n"
        "[Main]\n"
        "  Unknown = keep me  \n"
        "NormPos=10,20,30,40\n"
        "; a comment inside\n"
        "Visible=0\n"
        "\n"
        "[Other]\n"
        "Nazwa=\xB3\xF3\x64\x9F\n"
        "# not ours either\n"
        "New=x\n"
        "\n"
        "[Third]\n"
        "k=v\n";
    EXPECT_EQ(ReadBytes(file()), expected);
    // The foreign value was not UTF-8: it reads as Windows-1250.
    EXPECT_EQ(ini.ReadString("Other", "Nazwa", ""), QString::fromUtf8("łódź"));
    EXPECT_EQ(ini.ReadString("Main", "unknown", ""), "keep me");
}

TEST_F(IniFileTest, ValuesAreUtf8AndStayOnOneLine)
{
    IniFile ini(file());
    ini.WriteString("Main", "DirectoryEdit_LDG_Text", QString::fromUtf8("C:\\DANE_ŁÓDŹ"));
    ini.WriteString("Main", "FN_cab_Text", "first\r\n[Main]\nFormVersion=99");
    EXPECT_EQ(ini.ReadString("Main", "DirectoryEdit_LDG_Text", ""), QString::fromUtf8("C:\\DANE_ŁÓDŹ"));
    EXPECT_TRUE(ReadBytes(file()).contains(QString::fromUtf8("C:\\DANE_ŁÓDŹ").toUtf8()));
    // A line break cannot smuggle a section or key into the file.
    EXPECT_EQ(ini.ReadString("Main", "FN_cab_Text", ""), "first [Main] FormVersion=99");
    EXPECT_EQ(ini.ReadString("Main", "FormVersion", "none"), "none");
    EXPECT_EQ(ReadBytes(file()).count('\n'), 3);
}

TEST_F(IniFileTest, EveryCallGoesToTheFile)
{
    IniFile ini(file());
    ini.WriteString("Main", "port", "21");
    IniFile other(file());
    other.WriteString("Main", "port", "2121");
    EXPECT_EQ(ini.ReadString("Main", "port", ""), "2121");
    WriteBytes(file(), "[Main]\r\nport=990\r\n");
    EXPECT_EQ(ini.ReadInteger("Main", "port", 0), 990);
    QFile::remove(file());
    EXPECT_EQ(ini.ReadInteger("Main", "port", 5), 5);
}

TEST_F(IniFileTest, AWriteThatCannotHappenRaisesAndChangesNothing)
{
    // A folder "blocker" that is a regular file: nothing can be created under it.
    WriteBytes(path("blocker"), "not a folder");
    const QString impossible = path("blocker/ARCH.INI");
    IniFile ini(impossible);
    try {
        ini.WriteString("Main", "Visible", "0");
        FAIL() << "the write should have failed";
    } catch (const qv::Exception &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), "Nie można zapisać pliku ustawień " +
                                                   QDir::toNativeSeparators(impossible) + "\r" +
                                                   QString::fromStdString(qv::SysErrorMessage(ENOTDIR)));
    }
    EXPECT_EQ(ReadBytes(path("blocker")), QByteArray("not a folder"));

    // A settings "file" that is a folder cannot be read, so it is not replaced.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("ARCH.INI"));
    IniFile folder(file());
    EXPECT_THROW(folder.WriteString("Main", "Visible", "0"), qv::Exception);
    EXPECT_TRUE(QFileInfo(file()).isDir());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"blocker"});
}

#ifndef _WIN32
TEST_F(IniFileTest, ARewriteKeepsThePermissionsAndFollowsALink)
{
    // The file holds the FTP password: a rewrite must not make it readable to others.
    WriteBytes(file(), "[Main]\r\npw=tajne\r\n");
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    ASSERT_TRUE(QFile::setPermissions(file(), ownerOnly));
    const QString link = path(QStringLiteral("LINK.INI"));
    ASSERT_TRUE(QFile::link(file(), link));
    IniFile(link).WriteString("Main", "port", "21");
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays a link";
    EXPECT_EQ(ReadBytes(file()), QByteArray("[Main]\r\npw=tajne\r\nport=21\r\n"));
    const QFileDevice::Permissions now = QFile::permissions(file());
    EXPECT_EQ(now & ownerOnly, ownerOnly);
    EXPECT_FALSE(now & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                        QFileDevice::WriteOther));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"ARCH.INI", "LINK.INI"}));
}

TEST_F(IniFileTest, AFullDiskLeavesTheOldFileWhole)
{
    const QByteArray before = "[Main]\r\nFN_cab_Text=C:\\a.cab\r\nport=21\r\n";
    WriteBytes(file(), before);
    IniFile ini(file());

    // Files may not grow past 256 bytes from here on, as on a full disk.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        ini.WriteString("Main", "FN_cab_Text", QString(1000, QLatin1Char('x')));
    } catch (const qv::Exception &e) {
        threw = QString::fromUtf8(e.what()).startsWith("Nie można zapisać pliku ustawień ");
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadBytes(file()), before);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ARCH.INI"})
        << "no temporary file may be left behind";
    EXPECT_EQ(ini.ReadString("Main", "FN_cab_Text", ""), "C:\\a.cab");
}
#endif

}  // namespace
