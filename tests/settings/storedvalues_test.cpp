// The stored values and texts of the settings keepers without a window: their
// coding, the restore and save steps, what the command line reads of the main
// window's section, and the file a first run seeds.
#include "settings/storedvalues.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings/inifile.h"
#include "settings/keepers.h"

#include "SettingsTest.h"

#include <stdexcept>

using qv::DecodeStoredValue;
using qv::EncodeStoredValue;
using qv::test::KeysOf;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

namespace {

TEST(StoredValueCoding, PairsOddLengthAndForeignDigits)
{
    EXPECT_EQ(EncodeStoredValue("abc", ""), "616263");
    EXPECT_EQ(EncodeStoredValue("qv", "rm(k)Lawen"), "031b");
    // The key repeats: the 11th character meets the key's first byte again.
    EXPECT_EQ(EncodeStoredValue("rm(k)Lawenrm", "rm(k)Lawen"), "000000000000000000000000");
    // Windows-1250 bytes: "ł" is 0xB3, 0xB3 ^ 'A' (0x41) = 0xF2.
    EXPECT_EQ(EncodeStoredValue("ł", "A"), "f2");

    struct Case {
        const char *hex, *key, *text;
    };
    for (const Case &c : {
             Case{"616263", "", "abc"},
             Case{"zz", "rm(k)Lawen", "R"},  // 32 ^ 0x72
             Case{"zz", "", " "},
             Case{"4", "k", ""},
             Case{"41z", "", "A"},
             Case{"ą1", "", " "},  // a letter outside ASCII is one character, no digit
             Case{"F2", "A", "ł"},
         })
        EXPECT_EQ(DecodeStoredValue(c.hex, c.key), c.text) << c.hex << " with " << c.key;
}

TEST(StoredValueCoding, DecodingInvertsEncodingForEveryByte)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string text = qv::Cp1250ToUtf8(all);
    for (const std::string key : {"", "rm(k)Lawen", "źŻ\x01"}) {
        const std::string hex = EncodeStoredValue(text, key);
        EXPECT_EQ(hex.size(), 512u);
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
        EXPECT_EQ(DecodeStoredValue(hex, key), text) << key;
    }
}

TEST(StoredValues, NamesAreUniqueWhateverTheirCase)
{
    qv::TStoredValues values;
    values.Add("port", "21");
    EXPECT_THROW(values.Add("PORT", "22"), std::invalid_argument);
    EXPECT_THROW(values.Add("  ", "1"), std::invalid_argument);
    EXPECT_THROW(values.Add("", "1"), std::invalid_argument);
    ASSERT_NE(values.Find("Port"), nullptr);
    EXPECT_EQ(values.Find("Port")->Value, "21");
    EXPECT_EQ(values.Find("other"), nullptr);
    EXPECT_EQ(values.Count(), 1);
}

TEST(StoredTexts, TrimControlsAndQuoteForWrite)
{
    struct Case {
        const char *text, *trimmed;
    };
    for (const Case &c : {Case{"  C:\\a.cab \t", "C:\\a.cab"}, Case{"\t", ""}, Case{"\x01x y\x1F\r\n", "x y"},
                          Case{"", ""}, Case{" ł ", "ł"}})
        EXPECT_EQ(qv::TrimControls(c.text), c.trimmed) << c.text;

    for (const Case &c : {Case{"\"C:\\a b.cab\"", "\"\"C:\\a b.cab\"\""}, Case{"'x'", "\"'x'\""},
                          Case{"\"open'", "\"open'"}, Case{"a \"b\"", "a \"b\""}, Case{"\"", "\"\"\""},
                          Case{"", ""}})
        EXPECT_EQ(qv::QuoteForWrite(c.text), c.trimmed) << c.text;
}

class StoredValuesFileTest : public qv::test::SettingsTest {
protected:
    std::string file() const { return path("qvarchiwizator.INI"); }
    std::string value(const std::string &key) const
    {
        return qv::IniFile(file()).ReadString("Main", key, "<missing>");
    }
};

TEST_F(StoredValuesFileTest, PropertyTextsComeBackTrimmedAndMissingKeysKeepTheCurrentText)
{
    WriteBytes(file(), "[Main]\r\nFN_cab_Text=\" C:\\a.cab \"\r\nDirectoryEdit_LDG_Text=\"\t\"\r\n");
    const qv::IniFile ini(file());
    EXPECT_EQ(qv::RestoredPropertyText(ini, "Main", "FN_cab_Text", "x"), "C:\\a.cab");
    EXPECT_EQ(qv::RestoredPropertyText(ini, "Main", "DirectoryEdit_LDG_Text", "C:\\LDG_2005"), "")
        << "a stored empty text empties the field";
    EXPECT_EQ(qv::RestoredPropertyText(ini, "Main", "Missing_Text", " current\t"), "current");
}

TEST_F(StoredValuesFileTest, TheMainValuesAreWrittenEncodedWithTheirKeyAndReadBack)
{
    qv::TStoredValues values = qv::MainStoredValues();
    ASSERT_EQ(values.Count(), 4);
    qv::IniFile ini(file());
    qv::SaveStoredValues(ini, "Main", values);
    EXPECT_EQ(KeysOf(file(), "Main"), (std::vector<std::string>{"port", "host", "un", "pw"}));
    EXPECT_EQ(value("port"), "21");
    EXPECT_EQ(value("host"), qv::kDefaultFtpHost);
    // "qv" with "rm(k)Lawen": q^r = 0x71^0x72 = 03, v^m = 0x76^0x6D = 1b.
    EXPECT_EQ(value("un"), "031b");
    // "#(wnto)#": 23^72=51 28^6d=45 77^28=5f 6e^6b=05 74^29=5d 6f^4c=23 29^61=48 23^77=54.
    EXPECT_EQ(value("pw"), "51455f055d234854");

    values.Find("host")->Value = "\"ftp.serwis.example\"";
    values.Find("pw")->Value = "hasło";
    qv::SaveStoredValues(ini, "Main", values);
    EXPECT_NE(ReadBytes(file()).find("host=\"\"ftp.serwis.example\"\"\r\n"), std::string::npos)
        << "quoted so that the reader's quote removal gives it back whole";

    qv::TStoredValues restored = qv::MainStoredValues();
    qv::RestoreStoredValues(ini, "Main", restored);
    for (const qv::TStoredValue &v : values)
        EXPECT_EQ(restored.Find(v.Name)->Value, v.Value) << v.Name;
}

TEST_F(StoredValuesFileTest, KeptValuesAreDecodedWithTheirKey)
{
    WriteBytes(file(),
               "[Main]\r\n"
               "PORT=2121\r\n"
               "un=031B5\r\n"     // upper-case digits; the odd last digit is dropped
               "pw=secret\r\n");  // typed in plain text
    qv::TStoredValues values = qv::MainStoredValues();
    qv::RestoreStoredValues(qv::IniFile(file()), "Main", values);
    EXPECT_EQ(values.Find("port")->Value, "2121");
    EXPECT_EQ(values.Find("un")->Value, "qv");
    // "se", "cr", "et" are no hexadecimal numbers: each gives 32, combined
    // with r (0x72), m (0x6D) and ( (0x28): R, M and a backspace.
    EXPECT_EQ(values.Find("pw")->Value, "RM\x08");
    EXPECT_EQ(values.Find("host")->Value, qv::kDefaultFtpHost) << "a missing key keeps the value";
}

// The command line reads the main window's settings without a window; the
// keepers' tests (tests/app) hold the window to the same texts.
TEST_F(StoredValuesFileTest, ReadingTheMainSectionWithoutAWindow)
{
    const std::string dflt = qv::DefaultDataFolder();
    struct Case {
        const char *file;
        std::string archive, data, port, host, un, pw;
    };
    const Case cases[] = {
        {"", "", dflt, "21", qv::kDefaultFtpHost, "qv", "#(wnto)#"},
        {"[Main]\r\nFN_cab_Text=\" C:\\a.cab \"\r\nDirectoryEdit_LDG_Text=\"\t\"\r\n", "C:\\a.cab", "", "21",
         qv::kDefaultFtpHost, "qv", "#(wnto)#"},
        {"[main]\r\nfn_cab_text=\"\"C:\\Moje archiwa\\a b.cab\"\" reszta\r\nDIRECTORYEDIT_LDG_TEXT='x'\r\n",
         "\"\"C:\\Moje archiwa\\a b.cab\"\" reszta", "x", "21", qv::kDefaultFtpHost, "qv", "#(wnto)#"},
        {"[Main]\r\nPORT=2121\r\nun=031B5\r\npw=secret\r\nhost=  ftp.serwis.example \r\n", "", dflt, "2121",
         "ftp.serwis.example", "qv", "RM\x08"},
        // "zz" is 32, combined with the key's ninth byte "e" (0x65): "E".
        {"[Main]\nDirectoryEdit_LDG_Text=D:\\DANE\nport=\npw=51455f055d234854zz\n[Inna]\nport=1\n", "", "D:\\DANE",
         "", qv::kDefaultFtpHost, "qv", "#(wnto)#E"},
    };
    for (const Case &c : cases) {
        qv::FileDelete(file());
        const std::string bytes = c.file;
        if (!bytes.empty())
            WriteBytes(file(), bytes);
        const qv::MainSettings read = qv::ReadMainSettings(file());
        EXPECT_EQ(read.archiveFieldText, c.archive) << bytes;
        EXPECT_EQ(read.dataFolderText, c.data) << bytes;
        ASSERT_EQ(read.values.Count(), 4);
        const std::pair<const char *, std::string> expected[] = {
            {"port", c.port}, {"host", c.host}, {"un", c.un}, {"pw", c.pw}};
        for (const auto &[name, text] : expected) {
            ASSERT_NE(read.values.Find(name), nullptr) << name;
            EXPECT_EQ(read.values.Find(name)->Value, text) << name << " in " << bytes;
        }
        if (bytes.empty())
            EXPECT_FALSE(qv::PathExists(file())) << "the reader creates nothing";
        else
            EXPECT_EQ(ReadBytes(file()), bytes) << "the reader writes nothing";
    }
}

TEST_F(StoredValuesFileTest, AFirstRunSeedsTheDataFolderOnce)
{
    EXPECT_TRUE(qv::SeedSettingsFile(file(), "/opt/demo/LDG_2005"));
    EXPECT_EQ(ReadBytes(file()), "[Main]\r\nDirectoryEdit_LDG_Text=/opt/demo/LDG_2005\r\n");
    EXPECT_EQ(qv::ReadMainSettings(file()).dataFolderText, "/opt/demo/LDG_2005");
    EXPECT_FALSE(qv::SeedSettingsFile(file(), "/elsewhere")) << "an existing file is left alone";
    EXPECT_EQ(qv::ReadMainSettings(file()).dataFolderText, "/opt/demo/LDG_2005");

    WriteBytes(path("blocker"), "x");
    EXPECT_THROW(qv::SeedSettingsFile(path("blocker/ARCH.INI"), "/opt"), qv::Exception);
}

}  // namespace
