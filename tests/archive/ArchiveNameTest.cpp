// The generated archive name, and which archives --keep may remove: only
// cabinets under exactly the generated form, oldest first, never the one just
// made nor one named after a time still to come.
#include "../cabinet/comp_rawcab.h"
#include "TempDir.h"
#include "archive/ArchiveName.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

namespace {

struct NameCase {
    const char *name;
    bool generated;
};

class GeneratedForm : public ::testing::TestWithParam<NameCase> {};

void touch(const QString &path, const QByteArray &bytes = "x")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A small real cabinet: what --keep may take for an archive.
void cabinet(const QString &path)
{
    const std::string bytes = cabtest::buildRawCabinet({{"FIRMA1\\A.DBF", "dane"}});
    touch(path, QByteArray::fromStdString(bytes));
}

const QDateTime kNow(QDate(2005, 3, 5), QTime(3, 0, 42));

QStringList names(const QStringList &paths)
{
    QStringList out;
    for (const QString &p : paths)
        out << QFileInfo(p).fileName();
    return out;
}

}  // namespace

TEST_P(GeneratedForm, OnlyTheGeneratorsOwnFormCounts)
{
    EXPECT_EQ(IsGeneratedArchiveName(QString::fromUtf8(GetParam().name)), GetParam().generated) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, GeneratedForm,
    ::testing::Values(NameCase{"Arch2005-03-03_1415.cab", true}, NameCase{"Arch2026-12-31_2359.cab", true},
                      NameCase{"arch2005-03-03_1415.cab", false}, NameCase{"Arch2005-03-03_1415.CAB", false},
                      NameCase{"Arch2005-03-03_1415.cab.bak", false}, NameCase{"Arch2005-03-03_1415 (1).cab", false},
                      NameCase{"Arch2005-3-03_1415.cab", false}, NameCase{"Arch2005-13-03_1415.cab", false},
                      NameCase{"Arch2005-02-30_1415.cab", false}, NameCase{"Arch2005-03-03_2460.cab", false},
                      NameCase{"xArch2005-03-03_1415.cab", false}, NameCase{"Archiwum.cab", false},
                      NameCase{"Arch2005-03-03_1415.cab\n", false}));

TEST(GeneratedName, IsTheDataFolderArchDateAndTime)
{
    EXPECT_EQ(GeneratedArchiveName(QStringLiteral("/dane/LDG_2005"), QDateTime(QDate(2006, 11, 30), QTime(9, 5))),
              QStringLiteral("/dane/LDG_2005/Arch2006-11-30_0905.cab"));
    EXPECT_TRUE(IsGeneratedArchiveName(
        QFileInfo(GeneratedArchiveName(QStringLiteral("/x"), QDateTime::currentDateTime())).fileName()));
}

TEST(KeepNewest, RemovesTheOldestGeneratedArchivesBeyondNAndNothingElse)
{
    TempDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2004-12-31_2359.cab", "Arch2005-03-04_0000.cab",
                          "Arch2005-01-10_0800.cab", "Arch2005-03-05_0300.cab"})
        cabinet(dir.file(QString::fromLatin1(n)));
    // Not of the form, not a plain file, or not a cabinet: never touched.
    for (const char *n : {"Arch2003-01-01_0000.cab.bak", "arch2003-01-01_0000.cab", "Archiwum.cab",
                          "Arch2003-01-01_0000.CAB"})
        cabinet(dir.file(QString::fromLatin1(n)));
    touch(dir.file(QStringLiteral("notatki.txt")));
    touch(dir.file(QStringLiteral("Arch2000-01-01_0000.cab")), "notatki użytkownika pod taką nazwą");
    QDir(dir.path()).mkdir(QStringLiteral("Arch2002-01-01_0000.cab"));
    QFile::link(dir.file(QStringLiteral("notatki.txt")), dir.file(QStringLiteral("Arch2001-01-01_0000.cab")));

    const QString current = dir.file(QStringLiteral("Arch2005-03-05_0300.cab"));
    const auto beyond = [&](int keep) { return names(FindGeneratedArchives(dir.path(), keep, current, kNow).beyond); };
    EXPECT_EQ(beyond(2), (QStringList{"Arch2004-12-31_2359.cab", "Arch2005-01-10_0800.cab", "Arch2005-03-03_1415.cab"}));
    EXPECT_EQ(beyond(1), (QStringList{"Arch2004-12-31_2359.cab", "Arch2005-01-10_0800.cab", "Arch2005-03-03_1415.cab",
                                      "Arch2005-03-04_0000.cab"}));
    EXPECT_TRUE(beyond(5).isEmpty());
    EXPECT_TRUE(beyond(50).isEmpty());
}

TEST(KeepNewest, TheArchiveJustMadeIsKeptWhateverItsNameSays)
{
    // A clock set back: the new archive's stamp is the oldest of all.
    TempDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab", "Arch2001-01-01_0100.cab"})
        cabinet(dir.file(QString::fromLatin1(n)));
    const QString current = dir.file(QStringLiteral("Arch2001-01-01_0100.cab"));
    const auto beyond = [&](int keep, const QString &made) {
        return names(FindGeneratedArchives(dir.path(), keep, made, kNow).beyond);
    };
    EXPECT_EQ(beyond(2, current), QStringList{"Arch2005-03-03_1415.cab"});
    EXPECT_EQ(beyond(1, current), (QStringList{"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab"}));
    // The same file named through a link to its folder is still the one just made.
    QFile::link(dir.path(), dir.file(QStringLiteral("przez-link")));
    EXPECT_FALSE(beyond(1, dir.file(QStringLiteral("przez-link/Arch2001-01-01_0100.cab")))
                     .contains(QStringLiteral("Arch2001-01-01_0100.cab")));
}

TEST(KeepNewest, ANameDatedAfterNowNeitherCountsNorGoes)
{
    // Made once with a clock set years ahead: counted, it would keep the
    // real archives out for good; removed, it might be the only good copy.
    TempDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab", "Arch2005-03-05_0300.cab",
                          "Arch2005-03-05_0301.cab", "Arch2031-01-01_0000.cab"})
        cabinet(dir.file(QString::fromLatin1(n)));
    const GeneratedArchives found =
        FindGeneratedArchives(dir.path(), 2, dir.file(QStringLiteral("Arch2005-03-04_0000.cab")), kNow);
    EXPECT_EQ(names(found.beyond), QStringList{"Arch2005-03-03_1415.cab"}) << "this minute's counts, later ones not";
    EXPECT_EQ(names(found.future), (QStringList{"Arch2005-03-05_0301.cab", "Arch2031-01-01_0000.cab"}));
}
