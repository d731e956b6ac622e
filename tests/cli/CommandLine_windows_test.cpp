// The program from the command line where only Windows behaves its own way.
#include "CommandLineFixture.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace qv;
using namespace qv::test;

// Started without arguments the program opens its window; where none can
// open (here: Wine without a display) it says so in Polish, pointing to the
// command line, and ends with status 2 instead of waiting for nothing. With
// its error output caught, the text goes there rather than into a box no one
// would close.
TEST_F(CommandLine, WithoutArgumentsWhereNoWindowCanOpenItSaysSoAndEndsWithStatusTwo)
{
    const HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (probe) {
        DestroyWindow(probe);
        GTEST_SKIP() << "windows can open here: the program would open its own";
    }
    const Result r = run({});
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> lines = r.errLines();
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0].rfind("Nie można otworzyć okna programu", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "Bez okna program wykonuje polecenia wiersza poleceń: qvarchiwizator.exe --help");
    EXPECT_EQ(r.out, "");
}
