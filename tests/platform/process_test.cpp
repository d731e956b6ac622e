#include "platform/process.h"

#include "CoreTest.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(Process, TellsARunningProcessFromOneThatHasEnded)
{
    EXPECT_TRUE(ProcessIsAlive(CurrentProcessId()));
    EXPECT_FALSE(ProcessIsAlive(0));
    {
        const qv::test::RunningProcess running;
        EXPECT_TRUE(ProcessIsAlive(running.pid()));
    }
    // Reaped: the number names no process until the system reuses it.
    EXPECT_FALSE(ProcessIsAlive(qv::test::EndedProcessId()));
}
