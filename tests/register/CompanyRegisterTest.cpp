#include "DemoData.h"
#include "TempDir.h"
#include "platform/cp1250.h"
#include "register/CompanyList.h"
#include "register/CompanyRegister.h"

#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>

using namespace qv;

namespace {

QByteArray record(const QByteArray &name, const QByteArray &folder, const QByteArray &info,
                  int nameLen = -1, int folderLen = -1, int infoLen = -1)
{
    QByteArray r(kCompanyRecordSize, '\0');
    r[0] = static_cast<char>(nameLen < 0 ? name.size() : nameLen);
    r.replace(1, name.size(), name);
    r[32] = static_cast<char>(folderLen < 0 ? folder.size() : folderLen);
    r.replace(33, folder.size(), folder);
    r[41] = static_cast<char>(infoLen < 0 ? info.size() : infoLen);
    r.replace(42, info.size(), info);
    return r.left(kCompanyRecordSize);
}

void write(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

std::vector<CompanyRecord> load(const QByteArray &data)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("SPISFIRM.DAT"));
    write(path, data);
    RegisterLoad load = LoadCompanyRegister(path);
    EXPECT_TRUE(load.opened);
    EXPECT_EQ(load.error, 0);
    return std::move(load.rows);
}

}  // namespace

TEST(CompanyRegister, CountsOnlyWholeRecords)
{
    EXPECT_TRUE(load(QByteArray()).empty());
    EXPECT_TRUE(load(QByteArray(102, 'x')).empty());
    QByteArray three;
    for (int i = 0; i < 3; ++i)
        three += record("Firma " + QByteArray::number(i), "F" + QByteArray::number(i), "info");
    const auto rows = load(three + QByteArray(50, '\x7F'));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].Firma, QByteArray("Firma 2"));
    EXPECT_EQ(rows[2].Katalog, QByteArray("F2"));
}

TEST(CompanyRegister, KeepsFullWidthsAndCutsInfoToTen)
{
    const QByteArray name31(31, 'N');
    const QByteArray folder8("ABCDEFGH");
    const auto rows = load(record(name31, folder8, "0123456789ABCDEF"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Firma, name31);
    EXPECT_EQ(rows[0].Katalog, folder8);
    EXPECT_EQ(rows[0].Info, QByteArray("0123456789"));
}

TEST(CompanyRegister, DamagedLengthBytesStayInsideTheirSpans)
{
    // Length bytes of 255 would reach into the next texts and the next record.
    QByteArray r = record(QByteArray(31, 'A'), QByteArray(8, 'B'), QByteArray(61, 'C'), 255, 255, 255);
    const auto rows = load(r + record("Next", "N", "i"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Firma, QByteArray(31, 'A'));
    EXPECT_EQ(rows[0].Katalog, QByteArray(8, 'B'));
    EXPECT_EQ(rows[0].Info, QByteArray(10, 'C'));
    EXPECT_EQ(rows[1].Firma, QByteArray("Next"));
}

TEST(CompanyRegister, TextsEndAtAZeroByteAndKeepTrailingBlanks)
{
    const auto rows = load(record(QByteArray("Ab\0cd", 5), "K1  ", "x y "));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Firma, QByteArray("Ab"));
    EXPECT_EQ(rows[0].Katalog, QByteArray("K1  "));
    EXPECT_EQ(rows[0].Info, QByteArray("x y "));
    EXPECT_TRUE(load(record("", "", "")).at(0).Firma.isEmpty());
}

TEST(CompanyRegister, CodePageFollowsTheFirstDistinguishingNameAndCarriesOver)
{
    // Mazovia "ł" (0x92) in the first name; later names tell nothing, then a
    // CP852 "ł" (0x88) switches the rest.
    const QByteArray mazName("Ma\x92gosia", 8);
    const QByteArray neutral("\x86la", 3);     // ą in Mazovia, ć in CP852
    const QByteArray cpName("Pa\x88ka", 5);
    const auto rows = load(record(mazName, "A", "\x86") + record(neutral, "B", "\x86") + record(cpName, "C", "\x86") +
                           record(neutral, "D", "\x86"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(FromCP1250(rows[0].Firma), QStringLiteral("Małgosia"));
    EXPECT_EQ(FromCP1250(rows[0].Info), QStringLiteral("ą"));
    EXPECT_EQ(FromCP1250(rows[1].Firma), QStringLiteral("ąla"));
    EXPECT_EQ(FromCP1250(rows[2].Firma), QStringLiteral("Pałka"));
    EXPECT_EQ(FromCP1250(rows[2].Info), QStringLiteral("ć"));
    EXPECT_EQ(FromCP1250(rows[3].Firma), QStringLiteral("ćla"));
}

TEST(CompanyRegister, WithoutDistinguishingBytesEverythingIsCP852)
{
    const auto rows = load(record("\x86\x86", "A", "\xA5"));
    EXPECT_EQ(FromCP1250(rows.at(0).Firma), QStringLiteral("ćć"));
    EXPECT_EQ(FromCP1250(rows.at(0).Info), QStringLiteral("ą"));
}

TEST(CompanyRegister, BytesOfNeitherSetPassThrough)
{
    const auto rows = load(record(QByteArray("\x01\x7F\xFF\xC0", 4), "X", ""));
    EXPECT_EQ(rows.at(0).Firma, QByteArray("\x01\x7F\xFF\xC0", 4));
}

TEST(CompanyRegister, MissingOrUnreadableFileGivesNothingAndTheSystemsReason)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("SPISFIRM.DAT"));
    RegisterLoad missing = LoadCompanyRegister(path);
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_TRUE(missing.rows.empty());
    // A folder in place of the file cannot be opened for reading.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("SPISFIRM.DAT")));
    RegisterLoad folder = LoadCompanyRegister(path);
    EXPECT_FALSE(folder.opened);
    EXPECT_EQ(folder.error, EISDIR);
}

TEST(CompanyRegister, AReadFailureIsReportedWithTheSystemsReason)
{
    // Reading this process's memory from address 0 fails at once; a file
    // that the system lists as regular and then refuses to read is what a
    // failing disk or a network share that went away looks like.
    RegisterLoad load = LoadCompanyRegister(QStringLiteral("/proc/self/mem"));
    EXPECT_TRUE(load.opened);
    EXPECT_NE(load.error, 0);
    EXPECT_TRUE(load.rows.empty());
}

TEST(CompanyRegister, DemoRegistersReadBackInBothCodePages)
{
    for (auto cp : {demo::RegisterCodePage::Mazovia, demo::RegisterCodePage::CP852}) {
        test::TempDir dir;
        const auto companies = demo::WriteDemoDataFolder(dir.path(), cp);
        const RegisterLoad load = LoadCompanyRegister(dir.file(QStringLiteral("SPISFIRM.DAT")));
        ASSERT_EQ(load.error, 0);
        const auto &rows = load.rows;
        ASSERT_EQ(rows.size(), static_cast<size_t>(companies.size()));
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(FromCP1250(rows[i].Firma), companies[int(i)].firma);
            EXPECT_EQ(FromCP1250(rows[i].Katalog), companies[int(i)].katalog);
            EXPECT_EQ(FromCP1250(rows[i].Info), companies[int(i)].info.left(10));
        }
    }
}

TEST(CompanyList, MarksAndTheirTexts)
{
    TCompanyList list;
    list.setRows({{"A", "K1", ""}, {"B", "K2", ""}});
    EXPECT_EQ(list.data(list.index(0, TCompanyList::colArchiwizuj), Qt::DisplayRole).toString(), QStringLiteral("nie"));
    list.setArchiwizuj(0, true);
    list.setArchiwizuj(1, false);
    EXPECT_EQ(list.data(list.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("Tak"));
    EXPECT_EQ(list.data(list.index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("Nie"));
    EXPECT_FALSE(list.flags(list.index(0, 1)) & Qt::ItemIsEditable);
    list.setRows({{"C", "K3", ""}});
    EXPECT_FALSE(list.archiwizuj(0).has_value());
}
