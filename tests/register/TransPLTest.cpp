#include "register/qvTransPL.h"

#include <gtest/gtest.h>

#include <string>

using namespace qv;

namespace {
std::string bytes(std::initializer_list<unsigned char> list)
{
    std::string out;
    for (unsigned char c : list)
        out.push_back(static_cast<char>(c));
    return out;
}

// Every Polish letter in table order, in each code page that has them.
const std::string kMazovia = bytes({0x86, 0x8D, 0x91, 0x92, 0xA4, 0xA2, 0x9E, 0xA7, 0xA6,
                                    0x8F, 0x95, 0x90, 0x9C, 0xA5, 0xA3, 0x98, 0xA1, 0xA0});
const std::string kCP852 = bytes({0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xBE, 0xAB,
                                  0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0xBD, 0x8D});
const std::string kISO = bytes({0xB1, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0xB6, 0xBF, 0xBC,
                                0xA1, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0xA6, 0xAF, 0xAC});
const std::string kWin = bytes({0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0xBF, 0x9F,
                                0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0xAF, 0x8F});
}  // namespace

TEST(ConvertPL, ConvertsEveryLetterBetweenTheFourEightBitCodePages)
{
    const std::string rows[] = {kMazovia, kCP852, kISO, kWin};
    const TPLCodePage pages[] = {plMazovia, plCP852, plISO88592, plCP1250};
    for (int s = 0; s < 4; ++s)
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(ConvertPL(rows[s], pages[s], pages[t]), rows[t]) << "from " << int(pages[s]) << " to "
                                                                        << int(pages[t]);
    EXPECT_EQ(ConvertPL(kCP852, plCP852, plAscii), std::string("acelnoszzACELNOSZZ"));
}

TEST(ConvertPL, KnownExamples)
{
    const std::string ace = bytes({0xA5, 0x86, 0xA9});
    EXPECT_EQ(ConvertPL(ace, plCP852, plCP1250), bytes({0xB9, 0xE6, 0xEA}));
    EXPECT_EQ(ConvertPL(ace, plCP852, plMarks), bytes({0x2C, 0x61, 0x27, 0x63, 0x2C, 0x65}));
    EXPECT_EQ(ConvertPL(ace, plCP852, plAscii), std::string("ace"));
    EXPECT_EQ(ConvertPLToWin1250(ace, plCP852), bytes({0xB9, 0xE6, 0xEA}));
}

TEST(ConvertPL, MarksFormPutsTheMarkBeforeTheBaseLetter)
{
    EXPECT_EQ(ConvertPL(kWin, plCP1250, plMarks), std::string(",a'c,e/l'n'o's'z`z,A'C,E/L'N'O'S-Z'Z"));
    // Other characters pass through and the text grows by one per letter.
    EXPECT_EQ(ConvertPL(std::string("x") + kWin.substr(0, 1) + "1", plCP1250, plMarks), std::string("x,a1"));
}

TEST(ConvertPL, LeavesEverythingOutsideTheTableUnchanged)
{
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (kMazovia.find(static_cast<char>(b)) == std::string::npos)
            all.push_back(static_cast<char>(b));
    EXPECT_EQ(ConvertPL(all, plMazovia, plCP1250), all);
    const std::string mixed = std::string("Firma 123 ") + kMazovia.substr(3, 1) + std::string("\x80\xFF", 2);
    const std::string converted = ConvertPLToWin1250(mixed, plMazovia);
    ASSERT_EQ(converted.size(), 13u);
    EXPECT_EQ(converted.substr(0, 10), "Firma 123 ");
    EXPECT_EQ(static_cast<unsigned char>(converted[10]), 0xB3);  // ł
    EXPECT_EQ(converted.substr(11), std::string("\x80\xFF", 2));
}

TEST(ConvertPL, SameSourceAndTargetOrSourceWithoutLettersReturnsInput)
{
    EXPECT_EQ(ConvertPL(kCP852, plCP852, plCP852), kCP852);
    EXPECT_EQ(ConvertPL(kMazovia, plAscii, plCP1250), kMazovia);
    EXPECT_EQ(ConvertPL(kMazovia, plMarks, plCP1250), kMazovia);
    EXPECT_EQ(ConvertPL(std::string(), plMazovia, plMarks), std::string());
}

TEST(DetectPLCodePage, FirstDistinguishingByteDecides)
{
    TPLCodePage cp = plCP852;
    DetectPLCodePage(bytes({'a', 0x92, 0x88}), cp);  // ł in Mazovia comes first
    EXPECT_EQ(cp, plMazovia);
    DetectPLCodePage(bytes({'x', 0x98, 0x92}), cp);  // 0x98 is Ś in Mazovia but in the CP852 set
    EXPECT_EQ(cp, plCP852);
    cp = plMazovia;
    DetectPLCodePage(bytes({0x86, 'b'}), cp);  // ą in Mazovia, ć in CP852: tells nothing
    EXPECT_EQ(cp, plMazovia);
    DetectPLCodePage(std::string(), cp);
    EXPECT_EQ(cp, plMazovia);
}

TEST(DetectPLCodePage, EachSetSwitchesToItsCodePage)
{
    for (unsigned char b : {0x90, 0x91, 0x92, 0x95, 0x9C, 0x9E, 0xA0, 0xA1, 0xA3}) {
        TPLCodePage cp = plCP852;
        DetectPLCodePage(bytes({b}), cp);
        EXPECT_EQ(cp, plMazovia) << int(b);
    }
    for (unsigned char b : {0x88, 0x97, 0x98, 0x9D, 0xA8, 0xA9, 0xAB, 0xBE, 0xC6, 0xE0, 0xE3, 0xE4}) {
        TPLCodePage cp = plMazovia;
        DetectPLCodePage(bytes({b}), cp);
        EXPECT_EQ(cp, plCP852) << int(b);
    }
}
