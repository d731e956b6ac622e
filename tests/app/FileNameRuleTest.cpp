#include "TempDir.h"
#include "app/EditFields.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace qv;

TEST(FirstWord, BlanksControlsAndQuotes)
{
    EXPECT_EQ(FirstWord(QStringLiteral("  a.cab b.cab")), QStringLiteral("a.cab"));
    EXPECT_EQ(FirstWord(QStringLiteral("\t\x01x.cab\ny")), QStringLiteral("x.cab"));
    EXPECT_EQ(FirstWord(QStringLiteral("\"C:\\Moje Archiwa\\a b.cab\" reszta")), QStringLiteral("C:\\Moje Archiwa\\a b.cab"));
    EXPECT_EQ(FirstWord(QStringLiteral("C:\\\"Moje Archiwa\"\\x.cab y")), QStringLiteral("C:\\Moje Archiwa\\x.cab"));
    EXPECT_EQ(FirstWord(QStringLiteral("\"\" drugie")), QStringLiteral("drugie"));
    EXPECT_EQ(FirstWord(QStringLiteral("   ")), QString());
    EXPECT_EQ(FirstWord(QString()), QString());
}

TEST(ArchiveFileName, WholeTextWhenSuchAFileExistsElseTheFirstWord)
{
    test::TempDir dir;
    const QString spaced = dir.file(QStringLiteral("archiwum 2005.cab"));
    QFile f(spaced);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(ArchiveFileNameFromText(spaced), spaced);
    EXPECT_EQ(ArchiveFileNameFromText(QLatin1Char('"') + spaced + QLatin1Char('"')), spaced);
    const QString missing = dir.file(QStringLiteral("brak pliku.cab"));
    EXPECT_EQ(ArchiveFileNameFromText(missing), dir.file(QStringLiteral("brak")));
    // A folder is not a file: its text is split like any other.
    EXPECT_EQ(ArchiveFileNameFromText(dir.path() + QStringLiteral(" x")), dir.path());
}

TEST(ArchiveFileName, NeverLongerThan260Characters)
{
    const QString exactly = QStringLiteral("/") + QString(259, QLatin1Char('a'));
    EXPECT_EQ(ArchiveFileNameFromText(exactly + QStringLiteral(" b")), exactly);
    EXPECT_EQ(ArchiveFileNameFromText(exactly + QStringLiteral("a b")), QString());
}

TEST(FilenameEdit, NamesWithBlanksAreWrittenInQuotes)
{
    TFilenameEdit edit;
    edit.setFileName(QStringLiteral("/tmp/a b.cab"));
    EXPECT_EQ(edit.text(), QStringLiteral("\"/tmp/a b.cab\""));
    edit.setFileName(QStringLiteral("/tmp/ab.cab"));
    EXPECT_EQ(edit.text(), QStringLiteral("/tmp/ab.cab"));
}
