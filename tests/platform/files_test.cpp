// The file layer's shared part, the same on every system: DOS date-time
// arithmetic and wildcard masks, whose letter case covers Polish letters.
#include "platform/files.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(FileTimes, DosConversionsAndRange)
{
    FileTime t;
    ASSERT_TRUE(DosDateTimeToFileTime((25 << 9) | (3 << 5) | 3, (14 << 11) | (15 << 5) | 18, t));
    std::uint16_t date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(t, date, time));
    EXPECT_EQ(date, (25 << 9) | (3 << 5) | 3);
    EXPECT_EQ(time, (14 << 11) | (15 << 5) | 18);
    EXPECT_EQ(FileTimeToUnix(t), 1109859336) << "2005-03-03 14:15:36 on the local clock face";

    EXPECT_FALSE(DosDateTimeToFileTime((25 << 9) | (13 << 5) | 3, 0, t)) << "month 13";
    EXPECT_FALSE(DosDateTimeToFileTime((25 << 9) | (3 << 5) | 0, 0, t)) << "day 0";
    EXPECT_FALSE(DosDateTimeToFileTime((25 << 9) | (3 << 5) | 1, 24 << 11, t)) << "hour 24";
    EXPECT_FALSE(FileTimeToDosDateTime(FileTimeFromUnix(315532799), date, time)) << "1979";
    EXPECT_TRUE(FileTimeToDosDateTime(FileTimeFromUnix(315532800), date, time));
    EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
    EXPECT_FALSE(FileTimeToDosDateTime(FileTimeFromUnix(4354819200LL), date, time)) << "2108";
}

TEST(FileMasks, WildcardsIgnoreLetterCaseOfEveryPolishLetter)
{
    struct Case {
        const char *name, *mask;
        bool matches;
    };
    for (const Case &c : std::initializer_list<Case>{
             {"ABC.DBF", "a?c.*", true},
             {"ŻÓŁĆ.TXT", "żó*", true},
             {"zażółć gęślą jaźń.txt", "ZAŻÓŁĆ*JAŹŃ.TXT", true},
             {"ĄĘŚ.DBF", "?ęś.dbf", true},  // '?' is one letter, not one byte
             {"ABC.DBF", "*.TXT", false},
             {"AB", "A?C", false},
             {"A.B.C", "*.C", true},
             {"noext", "*.*", true},
             {"Łódź", "lodz", false},
         })
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}
