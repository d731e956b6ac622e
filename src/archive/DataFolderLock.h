// One operation at a time on a data folder. Creating an archive reads the
// company folders and restoring writes them; two of these at once (a
// scheduled run of the command line while someone restores in the window,
// or two scheduled runs) could archive a half-restored company or race for
// the same archive. Both take the lock file "qvarchiwizator.lock" in the data
// folder first, held through the platform's file locks, which the system
// drops when a process ends however it ends: the file itself stays and means
// nothing while no one holds it.
//
// The lock nests within one process (the command line holds it across
// "create, then remove old archives", and the create takes it again inside).
// Where the lock file cannot exist for this user (the data folder is missing,
// read-only or not ours to write), the operation goes on without it: it
// cannot change that folder then, and another user's run is not ours to stop.
#pragma once

#include "archive/ArchiveHost.h"

#include <optional>
#include <string>

namespace qv {

inline constexpr char kDataFolderLockName[] = "qvarchiwizator.lock";

class DataFolderLock {
public:
    DataFolderLock() = default;
    ~DataFolderLock();
    DataFolderLock(DataFolderLock &&other) noexcept;
    DataFolderLock &operator=(DataFolderLock &&other) noexcept;
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    // True when the lock file is locked by this process (false when the
    // operation goes on without a lock file).
    bool holdsFile() const { return !key_.empty(); }

    // Gives the lock back before the end of the holder's scope.
    void release();

private:
    friend class DataFolderLocker;
    std::string key_;
};

// The message given when another operation holds the data folder.
std::string DataFolderBusyMessage(const std::string &dataFolder);

// Takes the lock of host.dataFolder() for an operation, waiting up to
// host.dataFolderLockWaitMs() (polling, with the host's events let through).
// When another operation still holds it, tells the user with a plain message
// and returns nothing: the operation must not run.
std::optional<DataFolderLock> LockDataFolder(ArchiveHost &host);

// Takes the lock of a data folder if it is free this moment, saying nothing;
// nothing when another operation holds it (or its lock file is unusable).
std::optional<DataFolderLock> TryLockDataFolder(const std::string &dataFolder);

// True when another process holds the data folder's lock this moment.
bool DataFolderHeldElsewhere(const std::string &dataFolder);

}  // namespace qv
