// The file layer on POSIX systems: open(2) and friends, with the DOS
// attributes kept in an extended attribute (files.h tells how).
#include "platform/files.h"

#include "platform/errors.h"
#include "platform/files_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace qv {

using namespace fileimpl;

const int fileimpl::kInvalidArgument = EINVAL;

const int osErrorFileNotFound = ENOENT;
const int osErrorNoMoreFiles = ENODATA;
const int osErrorFileExists = EEXIST;
const int osErrorAccessDenied = EACCES;
// What open() itself answers for a socket or a device without a driver.
const int osErrorNotRegularFile = ENXIO;
const int osErrorFileTooLarge = EFBIG;

namespace {

const char kDosAttrName[] = "user.DOSATTRIB";
constexpr std::uint32_t kXattrBits = faHidden | faSystem | faArchive;

std::mutex g_deleteOnCloseLock;
std::map<int, std::string> g_deleteOnClose;

// Reads our extended attribute; false when the file has none or the file
// system keeps none.
bool readDosXattr(const std::string &path, std::uint32_t &bits)
{
    char buf[32];
    const ssize_t n = ::getxattr(path.c_str(), kDosAttrName, buf, sizeof buf - 1);
    if (n <= 0)
        return false;
    buf[n] = 0;
    char *end = nullptr;
    const unsigned long v = std::strtoul(buf, &end, 0);
    if (end == buf)
        return false;
    bits = static_cast<std::uint32_t>(v) & kXattrBits;
    return true;
}

bool xattrUnsupported(int e) { return e == ENOTSUP || e == EOPNOTSUPP || e == ENOSYS; }

}  // namespace

FileHandle FileOpen(const std::string &path, FileAccess access, FileShare, FileDisposition disposition,
                    unsigned hints)
{
    int flags = O_CLOEXEC;
    switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Write: flags |= O_WRONLY; break;
    case FileAccess::ReadWrite: flags |= O_RDWR; break;
    case FileAccess::Append: flags |= O_WRONLY | O_APPEND; break;
    }
    switch (disposition) {
    case FileDisposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case FileDisposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case FileDisposition::TruncateExisting: flags |= O_TRUNC; break;
    case FileDisposition::OpenAlways: flags |= O_CREAT; break;
    case FileDisposition::OpenExisting: break;
    }
    if (path.empty()) {
        errno = ENOENT;
        return InvalidFileHandle;
    }
    // A device is not even opened (opening some has effects of its own). The
    // name may change between the look and the open, so the open does not
    // block either: without O_NONBLOCK a FIFO with no writer blocks open()
    // for good. The flag goes again once the file is known to be regular.
    const auto acceptedDevice = [hints](const struct stat &st) {
        return (hints & fhCharacterDevice) && S_ISCHR(st.st_mode);
    };
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !acceptedDevice(st)) {
        errno = osErrorNotRegularFile;
        return InvalidFileHandle;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return InvalidFileHandle;
    int refusal = 0;
    if (::fstat(fd, &st) != 0)
        refusal = errno;
    else if (S_ISDIR(st.st_mode))
        refusal = EISDIR;
    else if (!S_ISREG(st.st_mode) && !acceptedDevice(st))
        refusal = osErrorNotRegularFile;
    if (refusal != 0) {
        ::close(fd);
        errno = refusal;
        return InvalidFileHandle;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    fd = KeepClearOfStandardStreams(fd);
    if (fd < 0)
        return InvalidFileHandle;
    if (hints & fhSequential)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (hints & fhRandom)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    if (hints & fhDeleteOnClose) {
        std::lock_guard<std::mutex> lock(g_deleteOnCloseLock);
        g_deleteOnClose[fd] = ExpandFileName(path);
    }
    return fd;
}

std::int64_t FileRead(FileHandle h, void *buffer, std::uint32_t count)
{
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(static_cast<int>(h), static_cast<char *>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::int64_t FileWrite(FileHandle h, const void *buffer, std::uint32_t count)
{
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(static_cast<int>(h), static_cast<const char *>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::int64_t FileSeek(FileHandle h, std::int64_t distance, int origin)
{
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) {
        errno = EINVAL;
        return -1;
    }
    const off_t r = ::lseek(static_cast<int>(h), static_cast<off_t>(distance), whence);
    return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool FileFlush(FileHandle h)
{
    int r;
    do {
        r = ::fsync(static_cast<int>(h));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

namespace {

int fsyncRetrying(int fd)
{
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    return r;
}

}  // namespace

bool FileFlushByName(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    const int r = fsyncRetrying(fd);
    const int e = errno;
    ::close(fd);
    errno = e;
    return r == 0;
}

void fileimpl::StartWriteback(const std::string &path)
{
#ifdef __linux__
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
#else
    (void)path;
#endif
}

bool FlushDirectory(const std::string &folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int r = fsyncRetrying(fd);
    // Some file systems cannot sync a folder; their renames are as durable as they get.
    const bool ok = r == 0 || errno == EINVAL || errno == EROFS;
    const int e = errno;
    ::close(fd);
    errno = e;
    return ok;
}

bool FileTruncateHere(FileHandle h)
{
    const off_t pos = ::lseek(static_cast<int>(h), 0, SEEK_CUR);
    return pos >= 0 && ::ftruncate(static_cast<int>(h), pos) == 0;
}

bool FileClose(FileHandle h)
{
    std::string doomed;
    {
        std::lock_guard<std::mutex> lock(g_deleteOnCloseLock);
        auto it = g_deleteOnClose.find(static_cast<int>(h));
        if (it != g_deleteOnClose.end()) {
            doomed = it->second;
            g_deleteOnClose.erase(it);
        }
    }
    const bool ok = ::close(static_cast<int>(h)) == 0;
    const int e = errno;
    if (!doomed.empty())
        ::unlink(doomed.c_str());
    errno = e;
    return ok;
}

bool FileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool PathIsLink(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool FileDelete(const std::string &path) { return ::unlink(path.c_str()) == 0; }

bool FileRename(const std::string &from, const std::string &to) { return ::rename(from.c_str(), to.c_str()) == 0; }

std::int64_t FileSizeOf(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool CopyFilePermissions(const std::string &from, const std::string &to)
{
    struct stat st;
    return ::stat(from.c_str(), &st) == 0 && ::chmod(to.c_str(), st.st_mode & 07777) == 0;
}

bool ForceDirectories(const std::string &path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty()) {
        errno = ENOENT;
        return false;
    }
    if (DirectoryExists(p))
        return true;
    const std::string parent = ExtractFilePath(p);
    if (!parent.empty() && parent != p && !ForceDirectories(parent))
        return false;
    if (::mkdir(p.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(p)))
        return true;
    if (errno == EEXIST)
        errno = ENOTDIR;  // a file stands where the folder should: say that, not that it exists
    return false;
}

bool CreateUniqueDirectory(const std::string &folder, const std::string &prefix, std::string &path)
{
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%08X", static_cast<unsigned>(RandomEngine()()));
        const std::string candidate = dir + prefix + unique;
        if (::mkdir(candidate.c_str(), 0700) == 0) {
            path = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool DirectoryDelete(const std::string &path) { return ::rmdir(path.c_str()) == 0; }

bool DirectoryDeleteTree(const std::string &path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.c_str()) == 0;
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(path.c_str())) {
        while (const struct dirent *d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    bool ok = true;
    for (const std::string &name : names)
        ok = DirectoryDeleteTree(path + "/" + name) && ok;
    return ::rmdir(path.c_str()) == 0 && ok;
}

bool fileimpl::SamePathText(const std::string &a, const std::string &b) { return a == b; }

int fileimpl::KeepClearOfStandardStreams(int fd)
{
    if (fd >= 3)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int e = errno;
    ::close(fd);
    errno = e;
    return moved;
}

std::string ResolvePath(const std::string &path)
{
    std::string head = ExpandFileName(path);
    while (head.size() > 1 && head.back() == '/')
        head.pop_back();
    std::string rest;
    for (;;) {
        if (char *real = ::realpath(head.c_str(), nullptr)) {
            std::string out = real;
            std::free(real);
            if (!rest.empty())
                out += (out.back() == '/' ? "" : "/") + rest;
            return out;
        }
        // A name too long for the file system cannot exist, so cannot be a
        // link either: it is kept as written, as a missing one is.
        if (errno != ENOENT && errno != ENAMETOOLONG)
            return {};
        // Missing, or a link that leads nowhere: only the first may be walked past.
        struct stat st;
        if (::lstat(head.c_str(), &st) == 0)
            return {};
        const std::size_t slash = head.find_last_of('/');
        if (slash == std::string::npos || head == "/")
            return {};
        rest = rest.empty() ? head.substr(slash + 1) : head.substr(slash + 1) + "/" + rest;
        head = slash == 0 ? std::string("/") : head.substr(0, slash);
    }
}

std::string CurrentDirectory()
{
    std::string buf(4096, '\0');
    if (!::getcwd(buf.data(), buf.size()))
        return {};
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

std::string ExpandFileName(const std::string &path)
{
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::string cwd = CurrentDirectory();
        if (!cwd.empty() && cwd.back() != '/')
            cwd += '/';
        full = cwd + full;
    }
    // Fold "." and ".." lexically, keeping a trailing separator.
    const bool trailing = full.size() > 1 && full.back() == '/';
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i <= full.size(); ++i) {
        if (i == full.size() || full[i] == '/') {
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += full[i];
        }
    }
    std::string out;
    for (const std::string &p : parts)
        out += "/" + p;
    if (out.empty())
        return "/";
    if (trailing)
        out += '/';
    return out;
}

std::uint32_t FileGetAttributes(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return InvalidFileAttributes;
    std::uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode))
        attrs |= faDirectory;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attrs |= faReadOnly;
    std::uint32_t bits = 0;
    if (readDosXattr(path, bits))
        attrs |= bits;
    else if (!S_ISDIR(st.st_mode))
        attrs |= faArchive;
    const std::string name = ExtractFileName(path);
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attrs |= faHidden;
    if (attrs == 0)
        attrs = faNormal;
    return attrs;
}

bool FileSetAttributes(const std::string &path, std::uint32_t attrs)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    const bool readOnly = attrs & faReadOnly;
    auto setXattr = [&]() {
        char value[16];
        std::snprintf(value, sizeof value, "0x%X", attrs & kXattrBits);
        if (::setxattr(path.c_str(), kDosAttrName, value, std::char_traits<char>::length(value), 0) == 0)
            return true;
        return xattrUnsupported(errno);  // nowhere to keep them: read-only alone is kept
    };
    // Writing the extended attribute needs write permission, so it goes in
    // before the write bits are taken away and after they come back.
    if (readOnly) {
        if (!setXattr())
            return false;
        const mode_t mode = st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH) & 07777;
        return ::chmod(path.c_str(), mode) == 0;
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 &&
        ::chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777) != 0)
        return false;
    return setXattr();
}

bool FileGetTimes(FileHandle h, FileTime *creation, FileTime *lastAccess, FileTime *lastWrite)
{
    struct stat st;
    if (::fstat(static_cast<int>(h), &st) != 0)
        return false;
    // No portable birth time: the last write stands in for creation.
    if (creation)
        *creation = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    if (lastAccess)
        *lastAccess = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    if (lastWrite)
        *lastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

bool FileSetTimes(FileHandle h, const FileTime *, const FileTime *lastAccess, const FileTime *lastWrite)
{
    auto toSpec = [](const FileTime *t) {
        struct timespec ts;
        if (!t) {
            ts.tv_sec = 0;
            ts.tv_nsec = UTIME_OMIT;
        } else {
            const std::int64_t rel = *t - kUnixEpochAsFileTime;
            ts.tv_sec = static_cast<time_t>(FloorDiv(rel, kTicksPerSecond));
            ts.tv_nsec = static_cast<long>((rel - FloorDiv(rel, kTicksPerSecond) * kTicksPerSecond) * 100);
        }
        return ts;
    };
    const struct timespec times[2] = {toSpec(lastAccess), toSpec(lastWrite)};
    return ::futimens(static_cast<int>(h), times) == 0;
}

bool FileTimeToLocalFileTime(FileTime utc, FileTime &local)
{
    const time_t secs = static_cast<time_t>(FileTimeToUnix(utc));
    struct tm tmv;
    if (!::localtime_r(&secs, &tmv)) {
        errno = EOVERFLOW;
        return false;
    }
    local = utc + static_cast<std::int64_t>(tmv.tm_gmtoff) * kTicksPerSecond;
    return true;
}

bool LocalFileTimeToFileTime(FileTime local, FileTime &utc)
{
    const std::int64_t secs = FileTimeToUnix(local);
    const std::int64_t rest = local - FileTimeFromUnix(secs);
    const std::int64_t days = FloorDiv(secs, 86400);
    const std::int64_t inDay = secs - days * 86400;
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    struct tm tmv = {};
    tmv.tm_year = static_cast<int>(y - 1900);
    tmv.tm_mon = static_cast<int>(m) - 1;
    tmv.tm_mday = static_cast<int>(d);
    tmv.tm_hour = static_cast<int>(inDay / 3600);
    tmv.tm_min = static_cast<int>(inDay / 60 % 60);
    tmv.tm_sec = static_cast<int>(inDay % 60);
    tmv.tm_isdst = -1;
    errno = 0;
    const time_t t = ::mktime(&tmv);
    if (t == static_cast<time_t>(-1) && errno != 0)
        return false;
    utc = FileTimeFromUnix(t) + rest;
    return true;
}

FileSearch::~FileSearch() { Close(); }

void FileSearch::Close()
{
    if (handle_)
        ::closedir(static_cast<DIR *>(handle_));
    handle_ = nullptr;
}

bool FileSearch::First(const std::string &pathAndMask, SearchEntry &entry)
{
    Close();
    nothingMatched_ = false;
    folder_ = ExtractFilePath(pathAndMask);
    mask_ = pathAndMask.substr(folder_.size());
    DIR *dir = ::opendir(folder_.empty() ? "." : folder_.c_str());
    if (!dir)
        return false;
    handle_ = dir;
    if (Next(entry))
        return true;
    const int e = errno;
    Close();
    if (e == osErrorNoMoreFiles) {
        nothingMatched_ = true;
        errno = osErrorFileNotFound;
    } else {
        errno = e;
    }
    return false;
}

bool FileSearch::Next(SearchEntry &entry)
{
    DIR *dir = static_cast<DIR *>(handle_);
    if (!dir) {
        errno = EBADF;
        return false;
    }
    for (;;) {
        errno = 0;
        const struct dirent *d = ::readdir(dir);
        if (!d) {
            if (errno == 0)
                errno = osErrorNoMoreFiles;
            return false;
        }
        const std::string name = d->d_name;
        if (!MatchesMask(name, mask_))
            continue;
        const std::string full = folder_ + name;
        entry.name = name;
        entry.attributes = FileGetAttributes(full);
        entry.linkLeadsNowhere = false;
        if (entry.attributes == InvalidFileAttributes) {
            // Either it vanished between the listing and the look, or it is a
            // link to nothing, which the caller should hear of.
            struct stat lst;
            if (::lstat(full.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode))
                continue;
            entry.attributes = 0;
            entry.size = 0;
            entry.regular = false;
            entry.linkLeadsNowhere = true;
            return true;
        }
        struct stat st;
        const bool known = ::stat(full.c_str(), &st) == 0;
        entry.size = known ? static_cast<std::uint64_t>(st.st_size) : 0;
        entry.regular = known && S_ISREG(st.st_mode);
        return true;
    }
}

std::string TempDirectory()
{
    const char *env = std::getenv("TMPDIR");
    std::string dir = env && *env ? env : "/tmp";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

}  // namespace qv
