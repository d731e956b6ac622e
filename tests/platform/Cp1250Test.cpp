#include "platform/cp1250.h"
#include "platform/errors.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace qv;

TEST(CP1250, PolishLettersBothWays)
{
    const QString polish = QStringLiteral("ąćęłńóśżźĄĆĘŁŃÓŚŻŹ");
    const QByteArray bytes("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\xBF\x9F\xA5\xC6\xCA\xA3\xD1\xD3\x8C\xAF\x8F");
    EXPECT_EQ(ToCP1250(polish), bytes);
    EXPECT_EQ(FromCP1250(bytes), polish);
}

TEST(CP1250, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(ToCP1250(FromCP1250(all)), all);
    EXPECT_EQ(ToCP1250(QStringLiteral("a€日")), QByteArray("a\x80?"));
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
