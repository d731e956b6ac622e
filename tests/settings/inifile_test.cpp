#include "settings/inifile.h"

#include "platform/errors.h"
#include "platform/pathcase.h"

#include "SettingsTest.h"

#include <algorithm>
#include <cerrno>

using qv::IniFile;
using qv::test::IniFileTest;
using qv::test::ListTree;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

namespace {

#ifdef _WIN32
constexpr int kErrNotAFolder = 3;  // ERROR_PATH_NOT_FOUND
#else
constexpr int kErrNotAFolder = ENOTDIR;
#endif

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("Main", "host", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Main", "port", 21), 21);
    EXPECT_FALSE(qv::PathExists(file())) << "reading must not create the file";

    WriteBytes(file(), "[Other]\r\nhost=elsewhere\r\n[Main]\r\nport=2121\r\n");
    EXPECT_EQ(ini.ReadString("Main", "host", "dflt"), "dflt");     // key in another section only
    EXPECT_EQ(ini.ReadString("Missing", "port", "dflt"), "dflt");  // section missing
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
               "Extra=from the second section of the name\r\n"
               "[ŁÓDŹ]\r\n"
               "ŻÓŁW=1\r\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadInteger("Main", "formversion", -1), 7);
    EXPECT_EQ(ini.ReadString("MAIN", "FORMVERSION", ""), "7");
    EXPECT_EQ(ini.ReadString("main", "normpos", ""), "1,2,3,4");
    // Only the first section of a name counts, as the platform's reader does.
    EXPECT_EQ(ini.ReadString("Main", "Extra", "none"), "none");
    // Letter case of Polish letters too, not of ASCII alone.
    EXPECT_EQ(ini.ReadString("łódź", "żółw", ""), "1");
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
    struct Case {
        const char *key, *value;
    };
    for (const Case &c : {Case{"dq", "two words"}, Case{"sq", "single"}, Case{"mixed", "\"open'"},
                          Case{"twice", "\"inner\""}, Case{"lone", "\""}, Case{"three", "\""},
                          Case{"inside", "a \"b\" c"}, Case{"blanks", " padded "}})
        EXPECT_EQ(ini.ReadString("S", c.key, ""), c.value) << c.key;
    // The caller's default is given back as it is, quotes and all.
    EXPECT_EQ(ini.ReadString("S", "missing", "\"C:\\a b.cab\""), "\"C:\\a b.cab\"");
}

TEST_F(IniFileTest, AReadGivesAtMost2047Characters)
{
    std::string longValue;
    for (int i = 0; i < 3000; ++i)
        longValue += static_cast<char>('a' + i % 26);
    IniFile ini(file());
    ini.WriteString("S", "long", longValue);
    ini.WriteString("S", "exact", longValue.substr(0, 2047));
    ini.WriteString("S", "quoted", '"' + longValue.substr(0, 2048) + '"');

    EXPECT_EQ(ini.ReadString("S", "long", ""), longValue.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "exact", ""), longValue.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "quoted", ""), longValue.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "missing", longValue), longValue.substr(0, 2047));
    // The whole value is in the file all the same.
    EXPECT_NE(ReadBytes(file()).find(longValue), std::string::npos);

    // Characters, not bytes: a letter of two bytes is one of the 2047.
    std::string polish;
    for (int i = 0; i < 3000; ++i)
        polish += "ł";
    ini.WriteString("S", "polish", polish);
    EXPECT_EQ(ini.ReadString("S", "polish", ""), polish.substr(0, 2 * 2047));
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
    struct Case {
        const char *key;
        int value;
    };
    for (const Case &c : {Case{"dec", 42}, Case{"neg", -7}, Case{"plus", 3}, Case{"zeros", 7}, Case{"hex", 31},
                          Case{"upper", 16}, Case{"all", -1}, Case{"quoted", 32}})
        EXPECT_EQ(ini.ReadInteger("N", c.key, 0), c.value) << c.key;
    for (const char *key : {"justprefix", "badhex", "longhex", "trailing", "empty", "huge", "spaced", "hexneg"})
        EXPECT_EQ(ini.ReadInteger("N", key, -99), -99) << key;
}

TEST(IniIntegers, ParsedAsTheFileReadsThem)
{
    struct Case {
        const char *text;
        std::optional<int> ini, decimal;
    };
    for (const Case &c : {
             Case{"42", 42, 42},
             Case{" -7 ", -7, -7},
             Case{"+3", 3, 3},
             Case{"2147483647", 2147483647, 2147483647},
             Case{"-2147483648", -2147483647 - 1, -2147483647 - 1},
             Case{"2147483648", std::nullopt, std::nullopt},
             Case{"0x7fffffff", 2147483647, std::nullopt},
             Case{"0x80000000", -2147483647 - 1, std::nullopt},
             Case{"0x", std::nullopt, std::nullopt},
             Case{"", std::nullopt, std::nullopt},
             Case{"-", std::nullopt, std::nullopt},
             Case{"1e3", std::nullopt, std::nullopt},
         }) {
        EXPECT_EQ(qv::ParseIniInteger(c.text), c.ini) << c.text;
        EXPECT_EQ(qv::ParseDecimal(c.text), c.decimal) << c.text;
    }
}

TEST_F(IniFileTest, WritingCreatesFileAndSectionAndReplacesValues)
{
    IniFile ini(file());
    ini.WriteString("Main", "FormVersion", "0");
    EXPECT_EQ(ReadBytes(file()), "[Main]\r\nFormVersion=0\r\n");

    ini.WriteInteger("Main", "Flags", 2);
    ini.WriteString("Okno_Statusu", "ShowCmd", "3");
    ini.WriteString("MAIN", "formversion", "1");  // replaces, whatever the case
    EXPECT_EQ(ReadBytes(file()), "[Main]\r\nformversion=1\r\nFlags=2\r\n\r\n[Okno_Statusu]\r\nShowCmd=3\r\n");
    EXPECT_EQ(ini.ReadInteger("Main", "FormVersion", -1), 1);
}

TEST_F(IniFileTest, LinesThatAreNotWrittenSurviveByteForByte)
{
    // A BOM, LF line ends, comments, blank lines, an unknown key, another
    // section, Windows-1250 bytes and no line end at the very end.
    const std::string before =
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

    const std::string expected =
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
    EXPECT_EQ(ini.ReadString("Other", "Nazwa", ""), "łódź");
    EXPECT_EQ(ini.ReadString("Main", "unknown", ""), "keep me");
}

TEST_F(IniFileTest, ValuesAreUtf8AndStayOnOneLine)
{
    IniFile ini(file());
    ini.WriteString("Main", "DirectoryEdit_LDG_Text", "C:\\DANE_ŁÓDŹ");
    ini.WriteString("Main", "FN_cab_Text", "first\r\n[Main]\nFormVersion=99");
    EXPECT_EQ(ini.ReadString("Main", "DirectoryEdit_LDG_Text", ""), "C:\\DANE_ŁÓDŹ");
    EXPECT_NE(ReadBytes(file()).find("C:\\DANE_ŁÓDŹ"), std::string::npos);
    // A line break cannot smuggle a section or key into the file.
    EXPECT_EQ(ini.ReadString("Main", "FN_cab_Text", ""), "first [Main] FormVersion=99");
    EXPECT_EQ(ini.ReadString("Main", "FormVersion", "none"), "none");
    const std::string bytes = ReadBytes(file());
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 3);
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
    ASSERT_TRUE(qv::FileDelete(file()));
    EXPECT_EQ(ini.ReadInteger("Main", "port", 5), 5);
}

TEST_F(IniFileTest, AWriteThatCannotHappenRaisesAndChangesNothing)
{
    // A folder "blocker" that is a regular file: nothing can be created under it.
    WriteBytes(path("blocker"), "not a folder");
    const std::string impossible = path("blocker/ARCH.INI");
    IniFile ini(impossible);
    EXPECT_EQ(qv::test::ErrorOf([&] { ini.WriteString("Main", "Visible", "0"); }),
              "Nie można zapisać pliku ustawień " + qv::ToNativeSeparators(impossible) + "\r" +
                  qv::SysErrorMessage(kErrNotAFolder));
    EXPECT_THROW(ini.WriteString("Main", "Visible", "0"), qv::Exception);
    EXPECT_EQ(ReadBytes(path("blocker")), "not a folder");

    // A settings "file" that is a folder cannot be read, so it is not replaced.
    ASSERT_TRUE(qv::ForceDirectories(file()));
    IniFile folder(file());
    EXPECT_THROW(folder.WriteString("Main", "Visible", "0"), qv::Exception);
    EXPECT_TRUE(qv::DirectoryExists(file()));
    EXPECT_EQ(ListTree(this->folder()), (std::vector<std::string>{"ARCH.INI", "blocker"}))
        << "no temporary file may be left behind";
}

TEST_F(IniFileTest, NamesThatWouldBreakTheFileAreRefused)
{
    IniFile ini(file());
    for (const char *section : {"", "  ", "a]b", "a\nb"})
        EXPECT_THROW(ini.WriteString(section, "k", "v"), std::invalid_argument) << section;
    for (const char *key : {"", "a=b", "[k", ";k", "a\rb"})
        EXPECT_THROW(ini.WriteString("S", key, "v"), std::invalid_argument) << key;
    EXPECT_FALSE(qv::PathExists(file()));
}

}  // namespace
