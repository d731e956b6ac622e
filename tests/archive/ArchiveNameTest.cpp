// The generated archive name, and which archives --keep may remove: only
// cabinets under exactly the generated form, oldest first, never the one just
// made nor one named after a time still to come.
#include "../cabinet/comp_rawcab.h"
#include "archive/ArchiveName.h"
#include "platform/files.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::ScratchDir;
using qv::test::WriteBytes;

namespace {

struct NameCase {
    const char *name;
    bool generated;
};

class GeneratedForm : public ::testing::TestWithParam<NameCase> {};

// A small real cabinet: what --keep may take for an archive.
void cabinet(const std::string &path) { WriteBytes(path, cabtest::buildRawCabinet({{"FIRMA1\\A.DBF", "dane"}})); }

const LocalDateTime kNow{2005, 3, 5, 3, 0, 42};

std::vector<std::string> names(const std::vector<std::string> &paths)
{
    std::vector<std::string> out;
    for (const std::string &p : paths)
        out.push_back(ExtractFileName(p));
    return out;
}

using Names = std::vector<std::string>;

}  // namespace

TEST_P(GeneratedForm, OnlyTheGeneratorsOwnFormCounts)
{
    EXPECT_EQ(IsGeneratedArchiveName(GetParam().name), GetParam().generated) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, GeneratedForm,
    ::testing::Values(NameCase{"Arch2005-03-03_1415.cab", true}, NameCase{"Arch2026-12-31_2359.cab", true},
                      NameCase{"Arch2004-02-29_0000.cab", true}, NameCase{"Arch2000-02-29_0000.cab", true},
                      NameCase{"Arch1900-02-29_0000.cab", false}, NameCase{"Arch2005-02-29_0000.cab", false},
                      NameCase{"arch2005-03-03_1415.cab", false}, NameCase{"Arch2005-03-03_1415.CAB", false},
                      NameCase{"Arch2005-03-03_1415.cab.bak", false}, NameCase{"Arch2005-03-03_1415 (1).cab", false},
                      NameCase{"Arch2005-3-03_1415.cab", false}, NameCase{"Arch2005-13-03_1415.cab", false},
                      NameCase{"Arch2005-02-30_1415.cab", false}, NameCase{"Arch2005-03-03_2460.cab", false},
                      NameCase{"Arch2005-03-03_2400.cab", false}, NameCase{"Arch2005-03-00_1415.cab", false},
                      NameCase{"xArch2005-03-03_1415.cab", false}, NameCase{"Archiwum.cab", false},
                      NameCase{"Arch2005-03-03_1415.cab\n", false}, NameCase{"Arch2005-03-03_+415.cab", false}));

TEST(GeneratedName, IsTheDataFolderArchDateAndTime)
{
    const std::string folder = test::kWindows ? "C:\\dane\\LDG_2005" : "/dane/LDG_2005";
    const std::string expected = folder + PathDelim + "Arch2006-11-30_0905.cab";
    EXPECT_EQ(GeneratedArchiveName(folder, LocalDateTime{2006, 11, 30, 9, 5, 0}), expected);
    EXPECT_EQ(GeneratedArchiveName(folder + PathDelim, LocalDateTime{2006, 11, 30, 9, 5, 0}), expected)
        << "a folder's own separator is kept, not doubled";
    EXPECT_TRUE(IsGeneratedArchiveName(ExtractFileName(GeneratedArchiveName(folder, LocalNow()))));
}

TEST(KeepNewest, RemovesTheOldestGeneratedArchivesBeyondNAndNothingElse)
{
    ScratchDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2004-12-31_2359.cab", "Arch2005-03-04_0000.cab",
                          "Arch2005-01-10_0800.cab", "Arch2005-03-05_0300.cab"})
        cabinet(dir / n);
    // Not of the form, not a plain file, or not a cabinet: never touched.
    for (const char *n : {"Arch2003-01-01_0000.cab.bak", "arch2003-01-01_0000.cab", "Archiwum.cab",
                          "Arch2003-01-01_0000.CAB"})
        cabinet(dir / n);
    WriteBytes(dir / "notatki.txt", "x");
    WriteBytes(dir / "Arch2000-01-01_0000.cab", "notatki użytkownika pod taką nazwą");
    ASSERT_TRUE(ForceDirectories(dir / "Arch2002-01-01_0000.cab"));
    // A link to a real cabinet is still no archive of ours. Where the system
    // makes no links (Wine), the rest holds all the same.
    const bool linked = test::MakeSymbolicLink(dir / "Archiwum.cab", dir / "Arch2001-01-01_0000.cab", false);

    const std::string current = dir / "Arch2005-03-05_0300.cab";
    const auto beyond = [&](int keep) { return names(FindGeneratedArchives(dir.path(), keep, current, kNow).beyond); };
    EXPECT_EQ(beyond(2), (Names{"Arch2004-12-31_2359.cab", "Arch2005-01-10_0800.cab", "Arch2005-03-03_1415.cab"}))
        << (linked ? "with" : "without") << " a link";
    EXPECT_EQ(beyond(1), (Names{"Arch2004-12-31_2359.cab", "Arch2005-01-10_0800.cab", "Arch2005-03-03_1415.cab",
                                "Arch2005-03-04_0000.cab"}));
    EXPECT_TRUE(beyond(5).empty());
    EXPECT_TRUE(beyond(50).empty());
    EXPECT_EQ(beyond(0).size(), 4u) << "the archive just made is kept even when nothing is to be";
    EXPECT_TRUE(FindGeneratedArchives(dir / "brak", 0, current, kNow).beyond.empty()) << "a missing folder";
}

TEST(KeepNewest, TheArchiveJustMadeIsKeptWhateverItsNameSays)
{
    // A clock set back: the new archive's stamp is the oldest of all.
    ScratchDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab", "Arch2001-01-01_0100.cab"})
        cabinet(dir / n);
    const std::string current = dir / "Arch2001-01-01_0100.cab";
    const auto beyond = [&](int keep, const std::string &made) {
        return names(FindGeneratedArchives(dir.path(), keep, made, kNow).beyond);
    };
    EXPECT_EQ(beyond(2, current), Names{"Arch2005-03-03_1415.cab"});
    EXPECT_EQ(beyond(1, current), (Names{"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab"}));
}

TEST(KeepNewest, TheArchiveJustMadeIsKnownThroughALinkToItsFolder)
{
    ScratchDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab", "Arch2001-01-01_0100.cab"})
        cabinet(dir / n);
    const auto beyond = [&](int keep, const std::string &made) {
        return names(FindGeneratedArchives(dir.path(), keep, made, kNow).beyond);
    };
    if (!test::MakeSymbolicLink(dir.path(), dir / "przez-link", true))
        GTEST_SKIP() << "the system makes no symbolic links here (Wine, or Windows without the privilege)";
    // The same file named through a link to its folder is still the one just made.
    EXPECT_EQ(beyond(1, dir / "przez-link" + PathDelim + "Arch2001-01-01_0100.cab"),
              (Names{"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab"}));
}

TEST(KeepNewest, ANameDatedAfterNowNeitherCountsNorGoes)
{
    // Made once with a clock set years ahead: counted, it would keep the
    // real archives out for good; removed, it might be the only good copy.
    ScratchDir dir;
    for (const char *n : {"Arch2005-03-03_1415.cab", "Arch2005-03-04_0000.cab", "Arch2005-03-05_0300.cab",
                          "Arch2005-03-05_0301.cab", "Arch2031-01-01_0000.cab"})
        cabinet(dir / n);
    const GeneratedArchives found = FindGeneratedArchives(dir.path(), 2, dir / "Arch2005-03-04_0000.cab", kNow);
    EXPECT_EQ(names(found.beyond), Names{"Arch2005-03-03_1415.cab"}) << "this minute's counts, later ones not";
    EXPECT_EQ(names(found.future), (Names{"Arch2005-03-05_0301.cab", "Arch2031-01-01_0000.cab"}));
}
