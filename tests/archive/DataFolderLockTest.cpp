// The data folder's lock: one create or restore at a time per data folder
// across processes, nesting within one, a bounded wait, and a clear word
// when the folder stays busy.
#include "ScriptedInteraction.h"
#include "TempDir.h"
#include "archive/DataFolderLock.h"
#include "platform/filelock.h"
#include "register/CompanyList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qv;
using namespace qv::test;

namespace {

class Host : public ArchiveHost {
public:
    ScriptedInteraction scripted;
    TCompanyList list;
    QString folder;
    int waitMs = 0;
    QStringList waits;

    Interaction &ui() override { return scripted; }
    QWidget *window() override { return nullptr; }
    QString archiveFileName() const override { return QString(); }
    void setArchiveFileName(const QString &) override {}
    QString dataFolder() const override { return folder; }
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
    void waitingForDataFolder(const QString &f, int ms) override { waits << QStringLiteral("%1 %2").arg(f).arg(ms); }
};

// Another process's hold on the lock, as far as this one can tell: a lock
// on a handle of its own.
struct OtherHolder {
    FileHandle h;
    explicit OtherHolder(const QString &folder)
        : h(OpenLockFile(QDir(folder).filePath(QLatin1String(kDataFolderLockName)).toStdString()))
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
    TempDir temp;
    Host host;
    void SetUp() override { host.folder = temp.path(); }
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
        }
        // The inner release must not have let go of the outer hold.
        const FileHandle other = OpenLockFile(temp.file(QLatin1String(kDataFolderLockName)).toStdString());
        EXPECT_EQ(TryLockFile(other), FileLockResult::Busy);
        FileClose(other);
    }
    const FileHandle other = OpenLockFile(temp.file(QLatin1String(kDataFolderLockName)).toStdString());
    EXPECT_EQ(TryLockFile(other), FileLockResult::Locked);
    FileClose(other);
    EXPECT_TRUE(host.scripted.messages.empty());
}

TEST_F(LockFixture, ABusyFolderIsToldPlainlyAndTheOperationDoesNotRun)
{
    OtherHolder other(temp.path());
    host.waitMs = 300;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(LockDataFolder(host).has_value());
    EXPECT_GE(timer.elapsed(), 300);
    ASSERT_EQ(host.scripted.messages.size(), 1u);
    EXPECT_EQ(host.scripted.messages[0].text,
              QStringLiteral("Katalog danych %1 jest zajęty przez inną operację programu (archiwizację lub "
                             "odtwarzanie).\rSpróbuj ponownie, gdy się zakończy.")
                  .arg(temp.path()));
    EXPECT_EQ(host.scripted.messages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(host.waits, QStringList{QStringLiteral("%1 300").arg(temp.path())});

    // Without a wait (the window), the answer comes at once and nobody is told of a wait.
    host.waitMs = 0;
    host.waits.clear();
    EXPECT_FALSE(LockDataFolder(host).has_value());
    EXPECT_TRUE(host.waits.isEmpty());
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
    EXPECT_EQ(host.waits.size(), 1);
}

TEST_F(LockFixture, WhereNoLockFileCanExistTheOperationGoesOnWithout)
{
    host.folder = temp.file(QStringLiteral("brak"));
    std::optional<DataFolderLock> lock = LockDataFolder(host);
    ASSERT_TRUE(lock.has_value());
    EXPECT_FALSE(lock->holdsFile());
    EXPECT_FALSE(QFileInfo::exists(host.folder));
    EXPECT_TRUE(host.scripted.messages.empty());
}

TEST_F(LockFixture, SomethingElsePlantedUnderTheLockNameStopsTheOperation)
{
    const QString target = temp.file(QStringLiteral("gdzie-indziej"));
    ASSERT_TRUE(QFile::link(target, temp.file(QLatin1String(kDataFolderLockName))));
    EXPECT_FALSE(LockDataFolder(host).has_value());
    EXPECT_FALSE(QFileInfo::exists(target)) << "a link is never followed";
    ASSERT_EQ(host.scripted.messages.size(), 1u);
    EXPECT_TRUE(host.scripted.messages[0].text.startsWith(
        QStringLiteral("Nie można użyć pliku blokady %1\r").arg(temp.file(QLatin1String(kDataFolderLockName)))))
        << host.scripted.messages[0].text.toStdString();
}
