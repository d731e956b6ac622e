// The data folder's lock: one create or restore at a time per data folder
// across processes, nesting within one, a bounded wait, and a clear word
// when the folder stays busy.
#include "archive/DataFolderLock.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "register/CompanyList.h"

#include "CoreTest.h"
#include "ScriptedInteraction.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace qv;
using namespace qv::test;

namespace {

// The main window as far as the lock asks it: the data folder, how long to
// wait, and who hears that a wait began.
class Host : public ArchiveHost {
public:
    ScriptedInteraction scripted;
    TCompanyList list;
    std::string folder;
    int waitMs = 0;
    std::vector<std::string> waits;

    Interaction &ui() override { return scripted; }
    std::string archiveFileName() const override { return {}; }
    void setArchiveFileName(const std::string &) override {}
    std::string dataFolder() const override { return folder; }
    TCompanyList &companies() override { return list; }
    int currentRow() const override { return -1; }
    void setCurrentRow(int) override {}
    void setGridUpdatesEnabled(bool) override {}
    void archiveFileCheck() override {}
    void updateArchiveAction() override {}
    void setCommandEnabled(Command, bool) override {}
    void companyUnmarked() override {}
    void setOperationRunning(bool) override {}
    int dataFolderLockWaitMs() const override { return waitMs; }
    void waitingForDataFolder(const std::string &f, int ms) override
    {
        waits.push_back(f + " " + std::to_string(ms));
    }
};

// Another process's hold on the lock, as far as this one can tell: a lock
// on a handle of its own.
struct OtherHolder {
    FileHandle h;
    explicit OtherHolder(const std::string &folder) : h(OpenLockFile(JoinFsPath(folder, kDataFolderLockName)))
    {
        EXPECT_EQ(TryLockFile(h), FileLockResult::Locked);
    }
    ~OtherHolder() { release(); }
    void release()
    {
        if (h != InvalidFileHandle)
            FileClose(h);
        h = InvalidFileHandle;
    }
};

class LockFixture : public ::testing::Test {
protected:
    ScratchDir temp;
    Host host;
    std::string lockFile() const { return temp / kDataFolderLockName; }
    void SetUp() override { host.folder = temp.path(); }
    // Whether a handle of its own could take the lock this moment.
    FileLockResult othersTry() const
    {
        OwnedHandle other(OpenLockFile(lockFile()));
        return TryLockFile(other.h);
    }
};

}  // namespace

TEST_F(LockFixture, HeldNestedWithinOneProcessAndReleasedWithTheLast)
{
    {
        std::optional<DataFolderLock> outer = LockDataFolder(host);
        ASSERT_TRUE(outer && outer->holdsFile());
        {
            std::optional<DataFolderLock> inner = LockDataFolder(host);
            ASSERT_TRUE(inner && inner->holdsFile());
            std::optional<DataFolderLock> tried = TryLockDataFolder(temp.path());
            ASSERT_TRUE(tried);
            EXPECT_TRUE(tried->holdsFile()) << "a try nests as well";
        }
        // The inner release must not have let go of the outer hold.
        EXPECT_EQ(othersTry(), FileLockResult::Busy);
        EXPECT_FALSE(DataFolderHeldElsewhere(temp.path())) << "this process's own hold is no one else's";
    }
    EXPECT_EQ(othersTry(), FileLockResult::Locked);
    EXPECT_TRUE(host.scripted.messages.empty());

    // An early release lets go at once, and only once.
    std::optional<DataFolderLock> lock = LockDataFolder(host);
    ASSERT_TRUE(lock && lock->holdsFile());
    DataFolderLock moved = std::move(*lock);
    EXPECT_FALSE(lock->holdsFile()) << "the hold moved with the object";
    EXPECT_EQ(othersTry(), FileLockResult::Busy);
    moved.release();
    EXPECT_FALSE(moved.holdsFile());
    EXPECT_EQ(othersTry(), FileLockResult::Locked);
}

TEST_F(LockFixture, ABusyFolderIsToldPlainlyAndTheOperationDoesNotRun)
{
    OtherHolder other(temp.path());
    EXPECT_TRUE(DataFolderHeldElsewhere(temp.path()));
    EXPECT_FALSE(TryLockDataFolder(temp.path()).has_value());
    host.waitMs = 300;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(LockDataFolder(host).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    ASSERT_EQ(host.scripted.messages.size(), 1u);
    EXPECT_EQ(host.scripted.messages[0].text,
              "Katalog danych " + temp.path() +
                  " jest zajęty przez inną operację programu (archiwizację lub "
                  "odtwarzanie).\rSpróbuj ponownie, gdy się zakończy.");
    EXPECT_EQ(host.scripted.messages[0].text, DataFolderBusyMessage(temp.path()));
    EXPECT_EQ(host.scripted.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(host.waits, std::vector<std::string>{temp.path() + " 300"});

    // Without a wait (the window), the answer comes at once and nobody is told of a wait.
    host.waitMs = 0;
    host.waits.clear();
    EXPECT_FALSE(LockDataFolder(host).has_value());
    EXPECT_TRUE(host.waits.empty());
}

TEST_F(LockFixture, AWaiterTakesTheLockOnceTheHolderLetsGo)
{
    OtherHolder other(temp.path());
    host.waitMs = 20000;
    int pumped = 0;
    host.scripted.onProcessEvents = [&] {
        if (++pumped == 3)
            other.release();
    };
    std::optional<DataFolderLock> lock = LockDataFolder(host);
    ASSERT_TRUE(lock && lock->holdsFile());
    EXPECT_EQ(pumped, 3);
    EXPECT_TRUE(host.scripted.messages.empty());
    EXPECT_EQ(host.waits.size(), 1u);
}

TEST_F(LockFixture, WhereNoLockFileCanExistTheOperationGoesOnWithout)
{
    host.folder = temp / "brak";
    std::optional<DataFolderLock> lock = LockDataFolder(host);
    ASSERT_TRUE(lock.has_value());
    EXPECT_FALSE(lock->holdsFile());
    EXPECT_FALSE(PathExists(host.folder));
    EXPECT_TRUE(host.scripted.messages.empty());
    EXPECT_FALSE(DataFolderHeldElsewhere(host.folder));
}

// Something planted under the lock's name is not ours to use: the operation
// says so, with the system's reason, and does not run.
void ExpectRefusedLockFile(Host &host, const std::string &lockFile)
{
    EXPECT_FALSE(LockDataFolder(host).has_value());
    ASSERT_EQ(host.scripted.messages.size(), 1u);
    const std::string lead = "Nie można użyć pliku blokady " + ToNativeSeparators(lockFile) + "\r";
    EXPECT_EQ(host.scripted.messages[0].text.substr(0, lead.size()), lead) << host.scripted.messages[0].text;
    EXPECT_GT(host.scripted.messages[0].text.size(), lead.size()) << "and the system's reason";
}

TEST_F(LockFixture, AFolderPlantedUnderTheLockNameStopsTheOperation)
{
    ASSERT_TRUE(ForceDirectories(lockFile()));
    ExpectRefusedLockFile(host, lockFile());
}

TEST_F(LockFixture, ALinkPlantedUnderTheLockNameIsNeverFollowed)
{
    const std::string target = temp / "gdzie-indziej";
    if (!MakeSymbolicLink(target, lockFile(), false))
        GTEST_SKIP() << "the system makes no symbolic links here (Wine, or Windows without the privilege)";
    ExpectRefusedLockFile(host, lockFile());
    EXPECT_FALSE(PathExists(target)) << "a link is never followed";
}
