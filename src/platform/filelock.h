// Advisory locks on whole files, to keep two processes of the program from
// working on the same data at once.
//
// The lock belongs to the open file (flock on POSIX, LockFileEx on Windows),
// so the system drops it when the holder ends however it ends: a killed run
// never leaves a stale lock behind, and a lock file can stay where it is.
// A second open of the same file in the same process does not share the lock
// with the first; callers that nest keep one handle per file.
#pragma once

#include "platform/files.h"

#include <string>

namespace qv {

enum class FileLockResult {
    Locked,  // the lock is ours
    Busy,    // someone else holds it
    Failed,  // the system refused (LastOSError() says why)
};

// Opens a lock file for locking: created when missing, only ever a regular
// file (a link or any other kind of entry under that name is refused), never
// blocking. Where the file cannot be created or written, an existing one is
// opened for reading, which is enough to lock it. InvalidFileHandle on
// failure, with the reason in LastOSError().
FileHandle OpenLockFile(const std::string &path);

// Tries once to take the exclusive lock of an open file.
FileLockResult TryLockFile(FileHandle h);

// Gives the lock back; closing the handle does the same.
bool UnlockFile(FileHandle h);

// True for the errors of OpenLockFile that mean the lock file cannot exist
// there for this user (no such folder, no right to create, a read-only
// volume), as opposed to a real fault.
bool LockFileCannotExist(int osError);

}  // namespace qv
