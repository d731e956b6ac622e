// The program from the command line where only a POSIX system can set the
// scene: a display that is not there, a file size limit.
#include "CommandLineFixture.h"

#include "platform/errors.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace qv;
using namespace qv::test;

// Started without arguments where no window can open (a service, a cron job
// that forgot an option): a Polish sentence and status 2, not Qt's abort.
// This is also the check that the tests' environment has no display.
TEST_F(CommandLine, WithoutArgumentsAndWithoutADisplayItSaysSoAndEndsWithStatusTwo)
{
    for (const char *display : {"", ":97"}) {
        ChildOptions options;
        options.environment = HeadlessEnvironment(temp.path());
        if (*display)
            options.environment.set("DISPLAY", display);  // no X server there
        const RunResult r = RunProgram(program(), {}, options, 30000);
        ASSERT_TRUE(r.started && !r.timedOut) << r.startError;
        EXPECT_FALSE(r.crashed) << display;
        EXPECT_EQ(r.status, 2) << display;
        EXPECT_EQ(r.err.rfind("Nie można otworzyć okna programu: brak dostępnego ekranu", 0), 0u)
            << display << ": " << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
}

// A temporary folder that takes no more: the log names that folder, not the
// company file being read when it filled.
TEST_F(CommandLine, AFullTemporaryFolderIsNamedAsSuch)
{
    writeRandomFile(company("FIRMA1") + "/DUZY.DAT", 4, 11);
    // No file may grow past 1 MiB: the first to try is the work file of the
    // compression, in the temporary folder.
    ChildOptions options;
    options.environment = HeadlessEnvironment(temp.path());
    const RunResult r = RunProgram("sh",
                                   {"-c", "trap '' XFSZ; ulimit -f 1024; exec \"$0\" \"$@\"", program(), "--archive",
                                    "--companies", "FIRMA1", "--data", dataFolder(), "--output", archive()},
                                   options, 60000);
    ASSERT_TRUE(r.started && !r.timedOut) << r.startError;
    EXPECT_EQ(r.status, 1);
    std::string reason = SysErrorMessage(EFBIG);
    std::erase(reason, '.');
    EXPECT_NE(r.out.find("-!- Błąd pliku tymczasowego w katalogu " + file("tmp") + ": " + reason + " -!- "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Błąd pliku " + company("FIRMA1")), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(archive()));
}
