// The Windows half of filelock.h: LockFileEx on the first byte of a file
// shared for reading, writing and deletion, so the lock never keeps anyone
// from opening the file, only from locking it.
#ifdef _WIN32

#include "platform/filelock.h"
#include "platform/files_internal.h"

#include <windows.h>

namespace qv {

namespace {

HANDLE openShared(const std::wstring &path, DWORD access, DWORD disposition)
{
    // FILE_FLAG_OPEN_REPARSE_POINT: a link planted under the name is opened
    // as itself, and refused below, instead of being followed.
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

FileHandle OpenLockFile(const std::string &path)
{
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return InvalidFileHandle;
    }
    const std::wstring name = fileimpl::Wide(path);
    HANDLE h = openShared(name, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e != ERROR_ACCESS_DENIED && e != ERROR_WRITE_PROTECT)
            return InvalidFileHandle;
        // A folder (or a link to one) under the name is refused with "access
        // denied" too, which callers would take for a lock file that cannot
        // exist here; it is something else planted there.
        const DWORD attrs = GetFileAttributesW(name.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
            SetLastError(static_cast<DWORD>(osErrorNotRegularFile));
            return InvalidFileHandle;
        }
        h = openShared(name, GENERIC_READ, OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE)
            return InvalidFileHandle;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD refusal = 0;
    if (GetFileType(h) != FILE_TYPE_DISK)
        refusal = static_cast<DWORD>(osErrorNotRegularFile);
    else if (!GetFileInformationByHandle(h, &info))
        refusal = GetLastError();
    else if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        refusal = static_cast<DWORD>(osErrorNotRegularFile);
    if (refusal != 0) {
        CloseHandle(h);
        SetLastError(refusal);
        return InvalidFileHandle;
    }
    return reinterpret_cast<FileHandle>(h);
}

FileLockResult TryLockFile(FileHandle h)
{
    OVERLAPPED at{};
    if (LockFileEx(reinterpret_cast<HANDLE>(h), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return FileLockResult::Locked;
    return GetLastError() == ERROR_LOCK_VIOLATION ? FileLockResult::Busy : FileLockResult::Failed;
}

bool UnlockFile(FileHandle h)
{
    OVERLAPPED at{};
    return UnlockFileEx(reinterpret_cast<HANDLE>(h), 0, 1, 0, &at) != 0;
}

bool LockFileCannotExist(int osError)
{
    return osError == ERROR_FILE_NOT_FOUND || osError == ERROR_PATH_NOT_FOUND || osError == ERROR_ACCESS_DENIED ||
           osError == ERROR_WRITE_PROTECT;
}

}  // namespace qv

#endif
