// File locks: one holder at a time, and a lock file only where one can be.
#include "CoreTest.h"
#include "platform/errors.h"
#include "platform/filelock.h"

#include <gtest/gtest.h>

#include <string>

using namespace qv;
using Handle = qv::test::OwnedHandle;
using qv::test::ScratchDir;

TEST(FileLock, OneHolderAtATimeUntilItUnlocksOrCloses)
{
    ScratchDir dir("qvlock");
    const std::string path = dir / "a.lock";
    Handle first(OpenLockFile(path));
    ASSERT_NE(first.h, InvalidFileHandle) << SysErrorMessage(LastOSError());
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(TryLockFile(first.h), FileLockResult::Locked);

    // A second open, even in the same process, does not share the lock.
    Handle second(OpenLockFile(path));
    ASSERT_NE(second.h, InvalidFileHandle);
    EXPECT_EQ(TryLockFile(second.h), FileLockResult::Busy);
    EXPECT_TRUE(UnlockFile(first.h));
    EXPECT_EQ(TryLockFile(second.h), FileLockResult::Locked);
    EXPECT_EQ(TryLockFile(first.h), FileLockResult::Busy);

    FileClose(second.h);
    second.h = InvalidFileHandle;
    EXPECT_EQ(TryLockFile(first.h), FileLockResult::Locked);
}

TEST(FileLock, NoLockFileInAMissingFolder)
{
    ScratchDir dir("qvlock");
    EXPECT_EQ(OpenLockFile(dir / ("missing" + std::string(1, PathDelim) + "a.lock")), InvalidFileHandle);
    EXPECT_TRUE(LockFileCannotExist(LastOSError()));
}
