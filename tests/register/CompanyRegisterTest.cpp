#include "DemoData.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace qv;
using qv::test::ScratchDir;
using qv::test::WriteBytes;

namespace {

// A length byte past its span (or of -1: the text's own length) lets a test
// write damaged records.
std::string record(const std::string &name, const std::string &folder, const std::string &info, int nameLen = -1,
                   int folderLen = -1, int infoLen = -1)
{
    std::string r(kCompanyRecordSize + 64, '\0');
    r[0] = static_cast<char>(nameLen < 0 ? static_cast<int>(name.size()) : nameLen);
    r.replace(1, name.size(), name);
    r[32] = static_cast<char>(folderLen < 0 ? static_cast<int>(folder.size()) : folderLen);
    r.replace(33, folder.size(), folder);
    r[41] = static_cast<char>(infoLen < 0 ? static_cast<int>(info.size()) : infoLen);
    r.replace(42, info.size(), info);
    r.resize(kCompanyRecordSize);
    return r;
}

std::vector<CompanyRecord> load(const std::string &data)
{
    ScratchDir dir;
    const std::string path = dir / "SPISFIRM.DAT";
    WriteBytes(path, data);
    RegisterLoad load = LoadCompanyRegister(path);
    EXPECT_TRUE(load.opened);
    EXPECT_EQ(load.error, 0);
    return std::move(load.rows);
}

#ifdef _WIN32
// CreateFile refuses a folder opened as a file with "access denied".
const int kErrFolderAsFile = osErrorAccessDenied;
#else
const int kErrFolderAsFile = EISDIR;
#endif

}  // namespace

TEST(CompanyRegister, CountsOnlyWholeRecords)
{
    EXPECT_TRUE(load("").empty());
    EXPECT_TRUE(load(std::string(102, 'x')).empty());
    std::string three;
    for (int i = 0; i < 3; ++i)
        three += record("Firma " + std::to_string(i), "F" + std::to_string(i), "info");
    const auto rows = load(three + std::string(50, '\x7F'));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].Firma, "Firma 2");
    EXPECT_EQ(rows[2].Katalog, "F2");
}

TEST(CompanyRegister, KeepsFullWidthsAndCutsInfoToTen)
{
    const std::string name31(31, 'N');
    const std::string folder8("ABCDEFGH");
    const auto rows = load(record(name31, folder8, "0123456789ABCDEF"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Firma, name31);
    EXPECT_EQ(rows[0].Katalog, folder8);
    EXPECT_EQ(rows[0].Info, "0123456789");
}

TEST(CompanyRegister, DamagedLengthBytesStayInsideTheirSpans)
{
    // Length bytes of 255 would reach into the next texts and the next record.
    const std::string r =
        record(std::string(31, 'A'), std::string(8, 'B'), std::string(61, 'C'), 255, 255, 255);
    const auto rows = load(r + record("Next", "N", "i"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Firma, std::string(31, 'A'));
    EXPECT_EQ(rows[0].Katalog, std::string(8, 'B'));
    EXPECT_EQ(rows[0].Info, std::string(10, 'C'));
    EXPECT_EQ(rows[1].Firma, "Next");
}

TEST(CompanyRegister, TextsEndAtAZeroByteAndKeepTrailingBlanks)
{
    const auto rows = load(record(std::string("Ab\0cd", 5), "K1  ", "x y "));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Firma, "Ab");
    EXPECT_EQ(rows[0].Katalog, "K1  ");
    EXPECT_EQ(rows[0].Info, "x y ");
    EXPECT_TRUE(load(record("", "", "")).at(0).Firma.empty());
}

TEST(CompanyRegister, CodePageFollowsTheFirstDistinguishingNameAndCarriesOver)
{
    // Mazovia "ł" (0x92) in the first name; later names tell nothing, then a
    // CP852 "ł" (0x88) switches the rest.
    const std::string mazName("Ma\x92gosia", 8);
    const std::string neutral("\x86la", 3);  // ą in Mazovia, ć in CP852
    const std::string cpName("Pa\x88ka", 5);
    const auto rows = load(record(mazName, "A", "\x86") + record(neutral, "B", "\x86") + record(cpName, "C", "\x86") +
                           record(neutral, "D", "\x86"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(Cp1250ToUtf8(rows[0].Firma), "Małgosia");
    EXPECT_EQ(Cp1250ToUtf8(rows[0].Info), "ą");
    EXPECT_EQ(Cp1250ToUtf8(rows[1].Firma), "ąla");
    EXPECT_EQ(Cp1250ToUtf8(rows[2].Firma), "Pałka");
    EXPECT_EQ(Cp1250ToUtf8(rows[2].Info), "ć");
    EXPECT_EQ(Cp1250ToUtf8(rows[3].Firma), "ćla");
}

TEST(CompanyRegister, WithoutDistinguishingBytesEverythingIsCP852)
{
    const auto rows = load(record("\x86\x86", "A", "\xA5"));
    EXPECT_EQ(Cp1250ToUtf8(rows.at(0).Firma), "ćć");
    EXPECT_EQ(Cp1250ToUtf8(rows.at(0).Info), "ą");
}

TEST(CompanyRegister, BytesOfNeitherSetPassThrough)
{
    const auto rows = load(record(std::string("\x01\x7F\xFF\xC0", 4), "X", ""));
    EXPECT_EQ(rows.at(0).Firma, std::string("\x01\x7F\xFF\xC0", 4));
}

TEST(CompanyRegister, MissingOrUnreadableFileGivesNothingAndTheSystemsReason)
{
    ScratchDir dir;
    const std::string path = dir / "SPISFIRM.DAT";
    RegisterLoad missing = LoadCompanyRegister(path);
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(missing.error, osErrorFileNotFound);
    EXPECT_TRUE(missing.rows.empty());
    // A folder in place of the file cannot be opened for reading.
    ASSERT_TRUE(ForceDirectories(path));
    RegisterLoad folder = LoadCompanyRegister(path);
    EXPECT_FALSE(folder.opened);
    EXPECT_EQ(folder.error, kErrFolderAsFile);
}

TEST(CompanyRegister, DemoRegistersReadBackInBothCodePages)
{
    for (auto cp : {demo::RegisterCodePage::Mazovia, demo::RegisterCodePage::CP852}) {
        ScratchDir dir;
        const auto companies = demo::WriteDemoDataFolder(dir.path(), cp);
        const RegisterLoad load = LoadCompanyRegister(dir / "SPISFIRM.DAT");
        ASSERT_EQ(load.error, 0);
        const auto &rows = load.rows;
        ASSERT_EQ(rows.size(), companies.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(Cp1250ToUtf8(rows[i].Firma), companies[i].firma);
            EXPECT_EQ(Cp1250ToUtf8(rows[i].Katalog), companies[i].katalog);
            // Ten characters of the info text, not ten bytes of its UTF-8.
            const std::u32string info = DecodeUtf8(companies[i].info);
            EXPECT_EQ(Cp1250ToUtf8(rows[i].Info), EncodeUtf8(info.substr(0, 10)));
        }
    }
}

namespace {

// What an observer of the list hears, in order.
struct Recorder : TCompanyList::Observer {
    std::vector<std::string> heard;
    const TCompanyList *list = nullptr;
    void listAboutToBeReplaced() override
    {
        heard.push_back("about to replace " + std::to_string(list->count()));
    }
    void listReplaced() override { heard.push_back("replaced " + std::to_string(list->count())); }
    void marksChanged(int first, int last) override
    {
        heard.push_back("marks " + std::to_string(first) + ".." + std::to_string(last));
    }
};

}  // namespace

TEST(CompanyList, MarksAndTheirTexts)
{
    TCompanyList list;
    list.setRows({{"A", "K1", ""}, {"B", "K2", ""}});
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.cellText(0, TCompanyList::colArchiwizuj), "nie");
    EXPECT_FALSE(list.archiwizuj(0).has_value());
    EXPECT_FALSE(list.isMarked(0)) << "an unset mark is no mark";
    list.setArchiwizuj(0, true);
    list.setArchiwizuj(1, false);
    EXPECT_EQ(list.cellText(0, TCompanyList::colArchiwizuj), "Tak");
    EXPECT_EQ(list.cellText(1, TCompanyList::colArchiwizuj), "Nie");
    EXPECT_TRUE(list.isMarked(0));
    EXPECT_EQ(list.archiwizuj(1), std::optional<bool>(false));
    list.setAllArchiwizuj(true);
    EXPECT_TRUE(list.isMarked(0) && list.isMarked(1));
    list.setRows({{"C", "K3", ""}});
    ASSERT_EQ(list.count(), 1);
    EXPECT_FALSE(list.archiwizuj(0).has_value()) << "new rows start unmarked";
    EXPECT_EQ(list.cellText(0, TCompanyList::colFirma), "C");
    list.clear();
    EXPECT_EQ(list.count(), 0);

    EXPECT_EQ(TCompanyList::archiwizujText(std::nullopt), "nie");
    EXPECT_EQ(TCompanyList::archiwizujText(true), "Tak");
    EXPECT_EQ(TCompanyList::archiwizujText(false), "Nie");
}

TEST(CompanyList, CellsShowTheRecordInUtf8)
{
    TCompanyList list;
    // Windows-1250: "Łódź" and "Żółw"; the info keeps its trailing blank.
    list.setRows({{"\xA3\xF3\x64\x9F", "K\xA5", "\xAF\xF3\xB3w "}});
    EXPECT_EQ(list.firma(0), "Łódź");
    EXPECT_EQ(list.katalog(0), "KĄ");
    EXPECT_EQ(list.info(0), "Żółw ");
    EXPECT_EQ(list.record(0).Firma, "\xA3\xF3\x64\x9F") << "the record keeps its bytes";
    const char *expected[] = {"nie", "Łódź", "KĄ", "Żółw "};
    for (int column = 0; column < TCompanyList::ColumnCount; ++column)
        EXPECT_EQ(list.cellText(0, column), expected[column]) << "column " << column;
    EXPECT_EQ(list.cellText(0, TCompanyList::ColumnCount), "");
}

TEST(CompanyList, ColumnTitlesAndWidths)
{
    struct Column {
        int column;
        const char *title;
        int width;
    };
    for (const Column &c : {Column{TCompanyList::colArchiwizuj, "Archiwizuj", 11}, Column{TCompanyList::colFirma, "Firma", 37},
                            Column{TCompanyList::colKatalog, "Katalog", 10}, Column{TCompanyList::colInfo, "Info", 12},
                            Column{TCompanyList::ColumnCount, "", 0}}) {
        EXPECT_EQ(TCompanyList::columnTitle(c.column), c.title) << c.column;
        EXPECT_EQ(TCompanyList::displayWidth(c.column), c.width) << c.column;
    }
}

TEST(CompanyList, ObserversHearEveryChangeInOrder)
{
    TCompanyList list;
    Recorder a, b;
    a.list = b.list = &list;
    list.addObserver(&a);
    list.addObserver(&b);
    list.setRows({{"A", "K1", ""}, {"B", "K2", ""}, {"C", "K3", ""}});
    list.setArchiwizuj(1, true);
    list.setAllArchiwizuj(false);
    list.removeObserver(&b);
    list.setArchiwizuj(2, true);
    list.clear();
    list.setAllArchiwizuj(true);  // nothing to mark: no change to tell
    const std::vector<std::string> all = {"about to replace 0", "replaced 3", "marks 1..1", "marks 0..2",
                                          "marks 2..2", "about to replace 3", "replaced 0"};
    EXPECT_EQ(a.heard, all);
    EXPECT_EQ(b.heard, std::vector<std::string>(all.begin(), all.begin() + 4)) << "a removed observer hears no more";
}
