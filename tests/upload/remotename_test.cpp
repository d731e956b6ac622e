// The name an upload gets on the server.
#include "upload/remotename.h"

#include <gtest/gtest.h>

#include <regex>

TEST(RemoteName, SenderIdentifierKeepsOnlySafeCharacters)
{
    EXPECT_EQ(qv::SenderIdentifierFrom("biuro-PC_2"), "biuro-PC_2");
    EXPECT_EQ(qv::SenderIdentifierFrom("ksiegowa.firma.local"), "ksiegowafirmalocal");
    EXPECT_EQ(qv::SenderIdentifierFrom("a b/c\\d~e:f*g"), "abcdefg");
    EXPECT_EQ(qv::SenderIdentifierFrom("ks\xc4\x99gowo"), "ksgowo");  // UTF-8 letter dropped whole
    EXPECT_EQ(qv::SenderIdentifierFrom("..."), "host");
    EXPECT_EQ(qv::SenderIdentifierFrom(""), "host");

    const std::string own = qv::SenderIdentifier();
    EXPECT_TRUE(std::regex_match(own, std::regex("[A-Za-z0-9_-]+"))) << own;
}

TEST(RemoteName, DateAndTimeAreZeroPadded)
{
    EXPECT_EQ(qv::RemoteFileName("PC1", {2005, 3, 3, 14, 15, 2}),
              "PC1~2005-03-03_141502.cab");
    EXPECT_EQ(qv::RemoteFileName("x", {2026, 12, 31, 0, 0, 9}),
              "x~2026-12-31_000009.cab");
    EXPECT_EQ(qv::RemoteFileName("x", {999, 1, 1, 23, 59, 59}),
              "x~0999-01-01_235959.cab");
}
