// The lock file's handle is shared by every holder in this process (a second
// open would not share the lock); the last holder closes it. Waiting polls
// the lock, letting the host's events through between tries, and a Ctrl+C
// ends the wait at once.
#include "archive/DataFolderLock.h"

#include "platform/console.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/pathcase.h"
#include "platform/text.h"

#include <chrono>
#include <functional>
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
std::map<std::string, Held> &heldLocks()
{
    static std::map<std::string, Held> locks;
    return locks;
}

std::string plainCaption() { return ApplicationTitle(); }

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
    if (key_.empty())
        return;
    auto it = heldLocks().find(key_);
    if (it != heldLocks().end() && --it->second.count == 0) {
        UnlockFile(it->second.handle);
        FileClose(it->second.handle);
        heldLocks().erase(it);
    }
    key_.clear();
}

std::string DataFolderBusyMessage(const std::string &dataFolder)
{
    return Format("Katalog danych %1 jest zajęty przez inną operację programu (archiwizację lub "
                  "odtwarzanie).\rSpróbuj ponownie, gdy się zakończy.",
                  {dataFolder});
}

enum class LockAttempt { Taken, Busy, Unusable };

class DataFolderLocker {
public:
    // One try, or tries until waitMs has passed (calling `waiting` once when
    // the wait begins and `between` between tries); on Unusable, `error`
    // says why.
    static LockAttempt attempt(const std::string &folder, int waitMs, DataFolderLock &lock, std::string &key, int &error,
                           const std::function<void()> &waiting, const std::function<void()> &between);
};

LockAttempt DataFolderLocker::attempt(const std::string &folder, int waitMs, DataFolderLock &lock, std::string &key,
                                  int &error, const std::function<void()> &waiting,
                                  const std::function<void()> &between)
{
    const std::string canonical = DirectoryExists(folder) ? ResolvePath(folder) : std::string();
    if (canonical.empty())
        return LockAttempt::Taken;  // no such folder: nothing in it to protect
    key = JoinFsPath(canonical, kDataFolderLockName);

    auto &locks = heldLocks();
    if (auto it = locks.find(key); it != locks.end()) {
        ++it->second.count;
        lock.key_ = key;
        return LockAttempt::Taken;
    }

    const FileHandle h = OpenLockFile(key);
    if (h == InvalidFileHandle) {
        error = LastOSError();
        // Cannot exist here for us: go on without. Anything else (a link or
        // a folder planted under the name) is not ours to use, and the
        // operation does not run without it.
        return LockFileCannotExist(error) ? LockAttempt::Taken : LockAttempt::Unusable;
    }

    const auto started = std::chrono::steady_clock::now();
    const auto waited = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    };
    bool announced = false;
    for (;;) {
        const FileLockResult r = TryLockFile(h);
        if (r == FileLockResult::Locked) {
            locks[key] = Held{h, 1};
            lock.key_ = key;
            return LockAttempt::Taken;
        }
        if (r == FileLockResult::Failed) {
            // A file system without locks (some network shares): the lock
            // only ever advises, and the run must not be lost for want of it.
            FileClose(h);
            return LockAttempt::Taken;
        }
        if (waited() >= waitMs || InterruptRequested())
            break;
        if (!announced && waiting) {
            waiting();
            announced = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        if (between)
            between();
    }
    FileClose(h);
    return LockAttempt::Busy;
}

std::optional<DataFolderLock> LockDataFolder(ArchiveHost &host)
{
    const std::string folder = host.dataFolder();
    const int waitMs = std::max(0, host.dataFolderLockWaitMs());
    DataFolderLock lock;
    std::string key;
    int error = 0;
    switch (DataFolderLocker::attempt(
        folder, waitMs, lock, key, error, [&] { host.waitingForDataFolder(folder, waitMs); },
        [&] { host.ui().processEvents(); })) {
    case LockAttempt::Taken: return lock;
    case LockAttempt::Unusable:
        host.ui().message({Format("Nie można użyć pliku blokady %1\r%2", {ToNativeSeparators(key), SysErrorMessage(error)}),
                           plainCaption(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
        return std::nullopt;
    case LockAttempt::Busy: break;
    }
    host.ui().message({DataFolderBusyMessage(folder), plainCaption(), MsgIcon::None, MsgButtons::Ok, MsgResult::Ok});
    return std::nullopt;
}

std::optional<DataFolderLock> TryLockDataFolder(const std::string &dataFolder)
{
    DataFolderLock lock;
    std::string key;
    int error = 0;
    if (DataFolderLocker::attempt(dataFolder, 0, lock, key, error, {}, {}) != LockAttempt::Taken)
        return std::nullopt;
    return lock;
}

bool DataFolderHeldElsewhere(const std::string &dataFolder)
{
    DataFolderLock lock;
    std::string key;
    int error = 0;
    return DataFolderLocker::attempt(dataFolder, 0, lock, key, error, {}, {}) == LockAttempt::Busy;
}

}  // namespace qv
