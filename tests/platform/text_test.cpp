// UTF-8 text of the core: Windows-1250 both ways, strict UTF-8, and letter
// case of names, which must pair every capital of Windows-1250 with its small
// letter as Windows does; plus the OS error message.
#include "platform/errors.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>

using namespace qv;

namespace {

std::string cp1250Byte(int b) { return std::string(1, static_cast<char>(b)); }

}  // namespace

TEST(CP1250, PolishLettersBothWays)
{
    const std::string polish = "ąćęłńóśżźĄĆĘŁŃÓŚŻŹ";
    const std::string bytes = "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\xBF\x9F\xA5\xC6\xCA\xA3\xD1\xD3\x8C\xAF\x8F";
    EXPECT_EQ(Utf8ToCp1250(polish), bytes);
    EXPECT_EQ(Cp1250ToUtf8(bytes), polish);
}

TEST(CP1250, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_TRUE(IsValidUtf8(Cp1250ToUtf8(all)));
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(all)), all);
    EXPECT_EQ(Utf8ToCp1250("a€日\U0001F600"), "a\x80??");
    // Unassigned bytes keep their C1 code; broken UTF-8 becomes '?'.
    EXPECT_EQ(Cp1250ToUtf8("\x81\x98"), "\xC2\x81\xC2\x98");
    EXPECT_EQ(Utf8ToCp1250("x\xC5y\xFF"), "x?y?");
}

TEST(Utf8, StrictValidation)
{
    for (const char *good : {"", "abc", "Zażółć", "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    for (const char *bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC5", "a\x80", "\xFE"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_EQ(DecodeUtf8("a\xC5"), (std::u32string{U'a', 0xDCC5}));
}

// Every capital of Windows-1250 with its small letter, by byte: the code
// page's own pairs, independent of the Unicode ranges the folding uses.
TEST(LetterCase, EveryWindows1250CapitalMatchesItsSmallLetter)
{
    std::vector<std::pair<int, int>> pairs = {{0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F},
                                              {0xA3, 0xB3}, {0xA5, 0xB9}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xBC, 0xBE}};
    for (int b = 0xC0; b <= 0xDE; ++b)
        if (b != 0xD7)
            pairs.emplace_back(b, b + 0x20);
    for (int b = 'A'; b <= 'Z'; ++b)
        pairs.emplace_back(b, b + 0x20);
    for (const auto &[upper, lower] : pairs) {
        const std::string u = Cp1250ToUtf8(cp1250Byte(upper)), l = Cp1250ToUtf8(cp1250Byte(lower));
        EXPECT_TRUE(SameTextIgnoringCase(u, l)) << std::hex << upper << " " << lower;
        EXPECT_TRUE(SameTextIgnoringCase(l, u)) << std::hex << upper << " " << lower;
    }
    // No two different letters of the code page fold together.
    for (int a = 0x41; a < 256; ++a)
        for (int b = a + 1; b < 256; ++b) {
            const bool paired = std::find(pairs.begin(), pairs.end(), std::make_pair(a, b)) != pairs.end();
            if (!paired && SameTextIgnoringCase(Cp1250ToUtf8(cp1250Byte(a)), Cp1250ToUtf8(cp1250Byte(b))))
                ADD_FAILURE() << std::hex << a << " and " << b << " fold together";
        }
}

TEST(LetterCase, NamesCompareWholeAndBrokenBytesOnlyMatchThemselves)
{
    struct Case {
        const char *a, *b;
        bool same;
    };
    for (const Case &c : std::initializer_list<Case>{
             {"ZAŻÓŁĆ GĘŚLĄ JAŹŃ.TXT", "zażółć gęślą jaźń.txt", true},
             {"Firma1", "FIRMA1", true},
             {"Ÿ", "ÿ", true},
             {"ΑΩ", "αω", true},
             {"ПРИВЕТ Ё", "привет ё", true},
             {"ß", "SS", false},  // no simple capital: Windows keeps them apart too
             {"ı", "I", false},
             {"FIRMA1", "FIRMA10", false},
             {"a\xC5", "a\xC5", true},
             {"a\xC5", "a\xC4", false},
             {"a\xC5", "a\xEF\xBF\xBD", false},
         })
        EXPECT_EQ(SameTextIgnoringCase(c.a, c.b), c.same) << c.a << " / " << c.b;
}

// What steers a terminal or breaks a log line is shown, never obeyed; every
// other character, Polish letters included, stays as it is.
TEST(PrintableName, EscapesControlsAndLineBreakersOnly)
{
    struct Case {
        const char *in;
        const char *shown;
    };
    for (const Case &c : std::initializer_list<Case>{
             {"FIRMA1\\KSIĘGA.DBF", "FIRMA1\\KSIĘGA.DBF"},
             {"\x1b[2J\x1b]0;x\x07", "<1B>[2J<1B>]0;x<07>"},
             {"A\rB\nC\tD", "A<0D>B<0A>C<09>D"},
             {"\x7f\xc2\x9b", "<7F><9B>"},                           // DEL, and CSI as a C1 control
             {"abc\xe2\x80\xaegpj.exe", "abc<U+202E>gpj.exe"},       // right-to-left override
             {"x\xe2\x80\xa8y", "x<U+2028>y"},                        // line separator
             {"\xff\xfe", "<FF><FE>"},                                 // not UTF-8: the bytes
         })
        EXPECT_EQ(PrintableName(c.in), c.shown) << c.in;
}

TEST(OSError, MessageCarriesCodeAndSystemText)
{
    const EOSError e(ENOENT);
    EXPECT_EQ(std::string(e.what()), "System Error.  Code: " + std::to_string(ENOENT) + ".\r\n" +
                                         SysErrorMessage(ENOENT));
    EXPECT_FALSE(SysErrorMessage(ENOENT).empty());
    try {
        RaiseOSError(0);
        FAIL() << "no exception";
    } catch (const EOSError &) {
        FAIL() << "code 0 is no OS error";
    } catch (const Exception &ex) {
        EXPECT_STREQ(ex.what(), "A call to an OS function failed");
    }
}
