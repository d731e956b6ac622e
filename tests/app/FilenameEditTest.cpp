#include "app/EditFields.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(FilenameEdit, NamesWithBlanksAreWrittenInQuotes)
{
    TFilenameEdit edit;
    edit.setFileName(QStringLiteral("/tmp/a b.cab"));
    EXPECT_EQ(edit.text(), QStringLiteral("\"/tmp/a b.cab\""));
    edit.setFileName(QStringLiteral("/tmp/ab.cab"));
    EXPECT_EQ(edit.text(), QStringLiteral("/tmp/ab.cab"));
}
