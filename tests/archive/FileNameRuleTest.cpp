// The rule that turns the archive-file field's text into a file name.
#include "CoreTest.h"
#include "archive/ArchiveName.h"

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

TEST(FirstWord, BlanksControlsAndQuotes)
{
    EXPECT_EQ(FirstWord("  a.cab b.cab"), "a.cab");
    EXPECT_EQ(FirstWord("\t\x01x.cab\ny"), "x.cab");
    EXPECT_EQ(FirstWord("\"C:\\Moje Archiwa\\a b.cab\" reszta"), "C:\\Moje Archiwa\\a b.cab");
    EXPECT_EQ(FirstWord("C:\\\"Moje Archiwa\"\\x.cab y"), "C:\\Moje Archiwa\\x.cab");
    EXPECT_EQ(FirstWord("\"\" drugie"), "drugie");
    EXPECT_EQ(FirstWord("   "), "");
    EXPECT_EQ(FirstWord(""), "");
}

TEST(ArchiveFileName, WholeTextWhenSuchAFileExistsElseTheFirstWord)
{
    ScratchDir dir;
    const std::string spaced = dir / "archiwum 2005.cab";
    WriteBytes(spaced, "");
    EXPECT_EQ(ArchiveFileNameFromText(spaced), spaced);
    EXPECT_EQ(ArchiveFileNameFromText('"' + spaced + '"'), spaced);
    const std::string missing = dir / "brak pliku.cab";
    EXPECT_EQ(ArchiveFileNameFromText(missing), dir / "brak");
    // A folder is not a file: its text is split like any other.
    EXPECT_EQ(ArchiveFileNameFromText(dir.path() + " x"), dir.path());
}

TEST(ArchiveFileName, NeverLongerThan260Characters)
{
    const std::string exactly = "/" + std::string(259, 'a');
    EXPECT_EQ(ArchiveFileNameFromText(exactly + " b"), exactly);
    EXPECT_EQ(ArchiveFileNameFromText(exactly + "a b"), "");
    // Characters, not bytes: 259 Polish letters after the slash still fit.
    std::string polish = "/";
    for (int i = 0; i < 259; ++i)
        polish += "ł";
    EXPECT_EQ(ArchiveFileNameFromText(polish + " b"), polish);
}
