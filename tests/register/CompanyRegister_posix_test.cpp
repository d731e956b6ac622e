// Reading the register where only a POSIX system can make a read fail on cue.
#include "register/CompanyRegister.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(CompanyRegister, AReadFailureIsReportedWithTheSystemsReason)
{
#ifndef __linux__
    GTEST_SKIP() << "needs Linux's /proc/self/mem";
#endif
    // Reading this process's memory from address 0 fails at once; a file
    // that the system lists as regular and then refuses to read is what a
    // failing disk or a network share that went away looks like.
    RegisterLoad load = LoadCompanyRegister("/proc/self/mem");
    EXPECT_TRUE(load.opened);
    EXPECT_NE(load.error, 0);
    EXPECT_TRUE(load.rows.empty());
}
