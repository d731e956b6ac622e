// A window's place as the settings file keeps it, read and written without a
// window: the keys and their order, the screen-sized keys, the density, the
// lenient reading of positions, the show command and the layout version.
#include "settings/placement.h"

#include "settings/inifile.h"

#include "SettingsTest.h"

using qv::IniFile;
using qv::PlacementRect;
using qv::ScreenInfo;
using qv::StoredPlacement;
using qv::test::KeysOf;
using qv::test::WriteBytes;

// Found by argument lookup, so in the namespace of the type.
namespace qv {
bool operator==(const PlacementRect &a, const PlacementRect &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
void PrintTo(const PlacementRect &r, std::ostream *os)
{
    *os << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom;
}
}  // namespace qv

namespace {

const ScreenInfo kScreen{1024, 768, 96};
// The log window's design place: 529 x 235 at (417, 262).
const PlacementRect kDesign{417, 262, 946, 497};

class PlacementTest : public qv::test::SettingsTest {
protected:
    std::string file() const { return path("qvarchiwizator.INI"); }
    std::string value(const std::string &key) const
    {
        return IniFile(file()).ReadString("Okno_Statusu", key, "<missing>");
    }
    void writeLogSection(const std::string &body) { WriteBytes(file(), "[Okno_Statusu]\r\n" + body); }
    std::optional<StoredPlacement> read(const ScreenInfo &screen = kScreen, int currentFlags = 0) const
    {
        return qv::ReadPlacement(IniFile(file()), "Okno_Statusu", screen, kDesign, currentFlags);
    }
};

TEST(PlacementKeys, TheScreenSizeJoinsTheKey)
{
    EXPECT_EQ(qv::ScreenKey("NormPos", kScreen), "NormPos(1024x768)");
    EXPECT_EQ(qv::ScreenKey("MinMaxPos", ScreenInfo{1920, 1080, 120}), "MinMaxPos(1920x1080)");
}

TEST_F(PlacementTest, AWriteHoldsEveryKeyInOrder)
{
    IniFile ini(file());
    qv::WritePlacement(ini, "Okno_Statusu", 0, StoredPlacement{0, kDesign, qv::kNoMinMaxPos}, qv::kShowNormal,
                       kScreen, false);
    EXPECT_EQ(KeysOf(file(), "Okno_Statusu"),
              (std::vector<std::string>{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos(1024x768)",
                                        "MinMaxPos", "NormPos(1024x768)", "NormPos", "Visible"}));
    struct Case {
        const char *key, *value;
    };
    for (const Case &c : {Case{"FormVersion", "0"}, Case{"Flags", "0"}, Case{"ShowCmd", "1"},
                          Case{"PixelsPerInch", "96"}, Case{"NormPos(1024x768)", "417,262,946,497"},
                          Case{"NormPos", "417,262,946,497"}, Case{"MinMaxPos(1024x768)", "-1,-1,-1,-1"},
                          Case{"MinMaxPos", "-1,-1,-1,-1"}, Case{"Visible", "0"}})
        EXPECT_EQ(value(c.key), c.value) << c.key;

    // A second write replaces the values in place; a save at the
    // destruction says so in Visible.
    qv::WritePlacement(ini, "Okno_Statusu", 2, StoredPlacement{qv::kRestoreToMaximized, {10, 10, 610, 310}, "1,2,3,4"},
                       qv::kShowMinimized, ScreenInfo{1024, 768, 120}, true);
    EXPECT_EQ(KeysOf(file(), "Okno_Statusu").size(), 9u);
    for (const Case &c : {Case{"FormVersion", "2"}, Case{"Flags", "2"}, Case{"ShowCmd", "2"},
                          Case{"PixelsPerInch", "120"}, Case{"NormPos", "10,10,610,310"},
                          Case{"MinMaxPos(1024x768)", "1,2,3,4"}, Case{"Visible", "1"}})
        EXPECT_EQ(value(c.key), c.value) << c.key;
}

TEST_F(PlacementTest, WhatIsWrittenReadsBack)
{
    IniFile ini(file());
    const StoredPlacement saved{qv::kRestoreToMaximized, {50, 60, 650, 360}, qv::kNoMinMaxPos};
    qv::WritePlacement(ini, "Okno_Statusu", 0, saved, qv::kShowMaximized, kScreen, false);
    const std::optional<StoredPlacement> back = read();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->flags, saved.flags);
    EXPECT_EQ(back->normal, saved.normal);
    EXPECT_EQ(back->minMaxPos, saved.minMaxPos);
    EXPECT_EQ(qv::ReadShowCommand(ini, "Okno_Statusu"), qv::kShowMaximized);
}

TEST_F(PlacementTest, NothingSavedGivesNothing)
{
    EXPECT_FALSE(read()) << "no file";
    writeLogSection("ShowCmd=3\r\nFlags=2\r\n");
    EXPECT_FALSE(read()) << "no position";
    EXPECT_EQ(qv::ReadShowCommand(IniFile(file()), "Okno_Statusu"), 3) << "the state stands on its own";
    EXPECT_EQ(qv::ReadShowCommand(IniFile(file()), "Main"), 0);
}

TEST_F(PlacementTest, ThePositionSavedAtThisScreenSizeWinsOverThePlainOne)
{
    writeLogSection("NormPos(1024x768)=10,20,610,320\r\nNormPos=30,40,630,340\r\n");
    ASSERT_TRUE(read());
    EXPECT_EQ(read()->normal, (PlacementRect{10, 20, 610, 320}));
    // Never saved at this size: the last position, whatever the size.
    writeLogSection("NormPos(12345x678)=10,20,610,320\r\nNormPos=30,40,630,340\r\n");
    ASSERT_TRUE(read());
    EXPECT_EQ(read()->normal, (PlacementRect{30, 40, 630, 340}));
    // MinMaxPos alone counts as a saved placement; NormPos then defaults to
    // the current rectangle word by word.
    writeLogSection("MinMaxPos=-1,-1,-1,-1\r\n");
    ASSERT_TRUE(read());
    EXPECT_EQ(read()->normal, kDesign);
    EXPECT_EQ(read()->minMaxPos, "-1,-1,-1,-1");
}

TEST_F(PlacementTest, AnotherPixelsPerInchGivesNothing)
{
    writeLogSection("PixelsPerInch=120\r\nNormPos=30,40,630,340\r\nShowCmd=3\r\n");
    EXPECT_FALSE(read());
    EXPECT_EQ(qv::ReadShowCommand(IniFile(file()), "Okno_Statusu"), 3)
        << "the state does not depend on the pixels per inch";
    ASSERT_TRUE(read(ScreenInfo{1024, 768, 120}));
    EXPECT_EQ(read(ScreenInfo{1024, 768, 120})->normal, (PlacementRect{30, 40, 630, 340}));
}

TEST_F(PlacementTest, FlagsComeFromTheFileOrTheWindow)
{
    writeLogSection("NormPos=30,40,630,340\r\n");
    EXPECT_EQ(read(kScreen, qv::kRestoreToMaximized)->flags, qv::kRestoreToMaximized);
    writeLogSection("NormPos=30,40,630,340\r\nFlags=0\r\n");
    EXPECT_EQ(read(kScreen, qv::kRestoreToMaximized)->flags, 0);
}

TEST_F(PlacementTest, PositionWordsAreReadLeniently)
{
    const PlacementRect d = kDesign;
    struct Case {
        const char *norm;
        std::optional<PlacementRect> expected;
    };
    for (const Case &c : {
             Case{"10, 20 ,, 610 320", PlacementRect{10, 20, 610, 320}},
             Case{"300,200", PlacementRect{300, 200, d.right, d.bottom}},
             Case{"x,20,1200,320", PlacementRect{d.left, 20, 1200, 320}},
             Case{"600,20,600,320", std::nullopt},  // left not less than right: nothing applied
             Case{"700,20,600,320", std::nullopt},
         }) {
        writeLogSection(std::string("NormPos=") + c.norm + "\r\n");
        const std::optional<StoredPlacement> got = read();
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.norm;
        if (got) {
            EXPECT_EQ(got->normal, *c.expected) << c.norm;
        }
    }
}

TEST_F(PlacementTest, ShowCommandsAreReadAsWritten)
{
    for (int cmd : {0, 1, 2, 3, 6, 10, -3}) {
        writeLogSection("ShowCmd=" + std::to_string(cmd) + "\r\n");
        EXPECT_EQ(qv::ReadShowCommand(IniFile(file()), "Okno_Statusu"), cmd);
    }
}

TEST_F(PlacementTest, ALayoutVersionFitsWhenTheFilesIsTheSameOrNewer)
{
    const IniFile ini(file());
    EXPECT_TRUE(qv::PlacementVersionFits(ini, "Okno_Statusu", 0)) << "a missing version is 0";
    EXPECT_FALSE(qv::PlacementVersionFits(ini, "Okno_Statusu", 1));
    writeLogSection("FormVersion=1\r\n");
    EXPECT_TRUE(qv::PlacementVersionFits(ini, "Okno_Statusu", 0));
    EXPECT_TRUE(qv::PlacementVersionFits(ini, "Okno_Statusu", 1));
    EXPECT_FALSE(qv::PlacementVersionFits(ini, "Okno_Statusu", 2));
}

}  // namespace
