// The POSIX half of filelock.h: flock(2) on a file opened without following
// links and without blocking.
#ifndef _WIN32

#include "platform/filelock.h"

#include "platform/errors.h"
#include "platform/files_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

int openNoFollow(const std::string &path, int flags)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

FileHandle OpenLockFile(const std::string &path)
{
    if (path.empty()) {
        errno = ENOENT;
        return InvalidFileHandle;
    }
    int fd = openNoFollow(path, O_RDWR | O_CREAT);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = openNoFollow(path, O_RDONLY);
    if (fd < 0) {
        // O_NOFOLLOW reports a link as ELOOP; say what it is instead.
        if (errno == ELOOP)
            errno = osErrorNotRegularFile;
        return InvalidFileHandle;
    }
    struct stat st;
    int refusal = 0;
    if (::fstat(fd, &st) != 0)
        refusal = errno;
    else if (!S_ISREG(st.st_mode))
        refusal = S_ISDIR(st.st_mode) ? EISDIR : osErrorNotRegularFile;
    if (refusal != 0) {
        ::close(fd);
        errno = refusal;
        return InvalidFileHandle;
    }
    fd = fileimpl::KeepClearOfStandardStreams(fd);
    if (fd < 0)
        return InvalidFileHandle;
    return static_cast<FileHandle>(fd);
}

FileLockResult TryLockFile(FileHandle h)
{
    int rc;
    do {
        rc = ::flock(static_cast<int>(h), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return FileLockResult::Locked;
    return errno == EWOULDBLOCK ? FileLockResult::Busy : FileLockResult::Failed;
}

bool UnlockFile(FileHandle h) { return ::flock(static_cast<int>(h), LOCK_UN) == 0; }

bool LockFileCannotExist(int osError)
{
    return osError == ENOENT || osError == ENOTDIR || osError == EACCES || osError == EPERM || osError == EROFS;
}

}  // namespace qv

#endif
