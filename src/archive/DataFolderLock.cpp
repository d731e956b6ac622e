// The lock file's handle is shared by every holder in this process (a second
// open would not share the lock); the last holder closes it. Waiting polls
// the lock, letting the host's events through between tries, and a Ctrl+C
// ends the wait at once.
#include "archive/DataFolderLock.h"

#include "platform/console.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/pathcase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <chrono>
#include <map>
#include <thread>

namespace qv {

namespace {

// How often a waiting run looks again: short against the wait, long enough
// not to keep a core busy.
constexpr int kPollMs = 100;

struct Held {
    FileHandle handle = InvalidFileHandle;
    int count = 0;
};

// Locks this process holds, by lock file; nested takers share the handle,
// since a second open of the file would not share its lock.
std::map<QString, Held> &heldLocks()
{
    static std::map<QString, Held> locks;
    return locks;
}

QString plainCaption() { return ApplicationTitle(); }

}  // namespace

DataFolderLock::~DataFolderLock() { release(); }

DataFolderLock::DataFolderLock(DataFolderLock &&other) noexcept : key_(std::move(other.key_)) { other.key_.clear(); }

DataFolderLock &DataFolderLock::operator=(DataFolderLock &&other) noexcept
{
    if (this != &other) {
        release();
        key_ = std::move(other.key_);
        other.key_.clear();
    }
    return *this;
}

void DataFolderLock::release()
{
    if (key_.isEmpty())
        return;
    auto it = heldLocks().find(key_);
    if (it != heldLocks().end() && --it->second.count == 0) {
        UnlockFile(it->second.handle);
        FileClose(it->second.handle);
        heldLocks().erase(it);
    }
    key_.clear();
}

QString DataFolderBusyMessage(const QString &dataFolder)
{
    return QStringLiteral("Katalog danych %1 jest zajęty przez inną operację programu (archiwizację lub "
                          "odtwarzanie).\rSpróbuj ponownie, gdy się zakończy.")
        .arg(dataFolder);
}

std::optional<DataFolderLock> LockDataFolder(ArchiveHost &host)
{
    const QString folder = host.dataFolder();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    DataFolderLock lock;
    if (canonical.isEmpty())
        return lock;  // no such folder: nothing in it to protect
    const QString key = JoinFsPath(canonical, QLatin1String(kDataFolderLockName));

    auto &locks = heldLocks();
    if (auto it = locks.find(key); it != locks.end()) {
        ++it->second.count;
        lock.key_ = key;
        return lock;
    }

    const FileHandle h = OpenLockFile(key.toStdString());
    if (h == InvalidFileHandle) {
        const int error = LastOSError();
        // Cannot exist here for us: go on without.
        if (LockFileCannotExist(error))
            return lock;
        // Anything else (a link or a folder planted under the name) is not
        // ours to use, and the operation does not run without it.
        host.ui().message(host.window(), {QStringLiteral("Nie można użyć pliku blokady %1\r%2")
                                              .arg(QDir::toNativeSeparators(key),
                                                   QString::fromStdString(SysErrorMessage(error))),
                                          plainCaption(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return std::nullopt;
    }

    const int waitMs = std::max(0, host.dataFolderLockWaitMs());
    QElapsedTimer waited;
    waited.start();
    bool announced = false;
    for (;;) {
        const FileLockResult r = TryLockFile(h);
        if (r == FileLockResult::Locked) {
            locks[key] = Held{h, 1};
            lock.key_ = key;
            return lock;
        }
        if (r == FileLockResult::Failed) {
            // A file system without locks (some network shares): the lock
            // only ever advises, and the run must not be lost for want of it.
            FileClose(h);
            return lock;
        }
        if (waited.elapsed() >= waitMs || InterruptRequested())
            break;
        if (!announced) {
            host.waitingForDataFolder(folder, waitMs);
            announced = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        host.ui().processEvents();
    }
    FileClose(h);
    host.ui().message(host.window(), {DataFolderBusyMessage(folder), plainCaption(), MsgIcon::None, MsgButtons::Ok,
                                      MsgResult::Ok});
    return std::nullopt;
}

}  // namespace qv
