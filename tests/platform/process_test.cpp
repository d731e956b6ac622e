#include "platform/process.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace qv;

TEST(Process, TellsARunningProcessFromOneThatHasEnded)
{
    EXPECT_TRUE(ProcessIsAlive(CurrentProcessId()));
    EXPECT_FALSE(ProcessIsAlive(0));

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    // Reaped: the number names no process until the system reuses it.
    EXPECT_FALSE(ProcessIsAlive(static_cast<std::uint32_t>(child)));
}
