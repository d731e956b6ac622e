// The program from the command line where only Windows behaves its own way.
#include "CommandLineFixture.h"

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

// The Windows build has no window yet: started without arguments (a click, a
// scheduled task that forgot an option) it says so in Polish, pointing to
// the command line, and ends with status 2. With its error output caught,
// the text goes there rather than into a box no one would close.
TEST_F(CommandLine, WithoutArgumentsItSaysTheWindowIsNotThereAndEndsWithStatusTwo)
{
    const Result r = run({});
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errLines(),
              (std::vector<std::string>{"Okno programu qvArchiwizator nie jest jeszcze dostępne w tej wersji dla Windows.",
                                        "Program działa z wiersza poleceń: qvarchiwizator.exe --help"}));
    EXPECT_EQ(r.out, "");
}
