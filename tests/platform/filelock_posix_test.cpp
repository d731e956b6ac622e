// File locks on POSIX: released however the holder ends, and a lock file that
// is only ever a regular file of its own.
#include "CoreTest.h"
#include "platform/errors.h"
#include "platform/filelock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
using Handle = qv::test::OwnedHandle;
using qv::test::ScratchDir;

TEST(FileLock, AKilledHolderLeavesNoStaleLock)
{
    ScratchDir dir("qvlock");
    const std::string path = dir / "a.lock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const FileHandle h = OpenLockFile(path);
        const char ok = h != InvalidFileHandle && TryLockFile(h) == FileLockResult::Locked ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    Handle mine(OpenLockFile(path));
    ASSERT_NE(mine.h, InvalidFileHandle);
    EXPECT_EQ(TryLockFile(mine.h), FileLockResult::Busy);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(TryLockFile(mine.h), FileLockResult::Locked);
    EXPECT_TRUE(FileExists(path)) << "the file stays; only the lock went";
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(FileLock, ALinkAFolderOrAFifoUnderTheNameIsRefusedWithoutBlocking)
{
    ScratchDir dir("qvlock");
    // A link is neither followed nor used, also when it leads nowhere: no
    // file appears at its target.
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link.lock").c_str()), 0);
    EXPECT_EQ(OpenLockFile(dir / "link.lock"), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), osErrorNotRegularFile);
    EXPECT_FALSE(PathExists(dir / "target"));
    EXPECT_FALSE(LockFileCannotExist(osErrorNotRegularFile));

    ASSERT_EQ(::mkdir((dir / "folder.lock").c_str(), 0700), 0);
    EXPECT_EQ(OpenLockFile(dir / "folder.lock"), InvalidFileHandle);
    EXPECT_FALSE(LockFileCannotExist(LastOSError()));

    ASSERT_EQ(::mkfifo((dir / "fifo.lock").c_str(), 0600), 0);
    EXPECT_EQ(OpenLockFile(dir / "fifo.lock"), InvalidFileHandle);
    EXPECT_EQ(LastOSError(), osErrorNotRegularFile);
}

TEST(FileLock, InAFolderWeMayNotWriteAnExistingLockFileStillLocks)
{
    ScratchDir dir("qvlock");
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    // An existing lock file in a folder we may not write is still lockable.
    ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0700), 0);
    std::ofstream(dir / "ro/a.lock").close();
    ASSERT_EQ(::chmod((dir / "ro/a.lock").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0500), 0);
    Handle h(OpenLockFile(dir / "ro/a.lock"));
    ASSERT_NE(h.h, InvalidFileHandle);
    EXPECT_EQ(TryLockFile(h.h), FileLockResult::Locked);
    EXPECT_EQ(OpenLockFile(dir / "ro/b.lock"), InvalidFileHandle);
    EXPECT_TRUE(LockFileCannotExist(LastOSError()));
}
