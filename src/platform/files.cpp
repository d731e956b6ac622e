#include "platform/files.h"

#include "platform/errors.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace qv {

namespace {

constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601
constexpr std::int64_t kTicksPerSecond = 10000000LL;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::mt19937 &randomEngine()
{
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

}  // namespace

FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds)
{
    return kUnixEpochAsFileTime + seconds * kTicksPerSecond + nanoseconds / 100;
}

std::int64_t FileTimeToUnix(FileTime t) { return floorDiv(t - kUnixEpochAsFileTime, kTicksPerSecond); }

bool FileTimeToDosDateTime(FileTime local, std::uint16_t &dosDate, std::uint16_t &dosTime)
{
    const std::int64_t secs = FileTimeToUnix(local);
    const std::int64_t days = floorDiv(secs, 86400);
    const std::int64_t inDay = secs - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    if (y < 1980 || y > 2107)
        return false;
    const unsigned hh = static_cast<unsigned>(inDay / 3600), mm = static_cast<unsigned>(inDay / 60 % 60),
                   ss = static_cast<unsigned>(inDay % 60);
    dosDate = static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
    dosTime = static_cast<std::uint16_t>((hh << 11) | (mm << 5) | (ss / 2));
    return true;
}

bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime &local)
{
    const unsigned d = dosDate & 0x1F, m = (dosDate >> 5) & 0x0F;
    const std::int64_t y = 1980 + (dosDate >> 9);
    const unsigned ss = (dosTime & 0x1F) * 2, mm = (dosTime >> 5) & 0x3F, hh = dosTime >> 11;
    if (d < 1 || d > 31 || m < 1 || m > 12 || hh > 23 || mm > 59 || ss > 59) {
        SetLastOSError(EINVAL);
        return false;
    }
    const std::int64_t secs = daysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss;
    local = FileTimeFromUnix(secs);
    return true;
}

bool MatchesMask(const std::string &name, const std::string &mask)
{
    if (mask == "*" || mask == "*.*")
        return true;
    const QString n = QString::fromUtf8(name).toCaseFolded();
    const QString k = QString::fromUtf8(mask).toCaseFolded();
    // Iterative wildcard match with one back-track point.
    qsizetype i = 0, j = 0, star = -1, mark = 0;
    while (i < n.size()) {
        if (j < k.size() && (k[j] == u'?' || k[j] == n[i])) {
            ++i;
            ++j;
        } else if (j < k.size() && k[j] == u'*') {
            star = j++;
            mark = i;
        } else if (star >= 0) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < k.size() && k[j] == u'*')
        ++j;
    return j == k.size();
}

bool IsPathDelimiter(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

std::string ExtractFilePath(const std::string &path)
{
    for (std::size_t i = path.size(); i > 0; --i) {
        const char c = path[i - 1];
#ifdef _WIN32
        if (c == ':')
            return path.substr(0, i);
#endif
        if (IsPathDelimiter(c))
            return path.substr(0, i);
    }
    return {};
}

std::string ExtractFileName(const std::string &path) { return path.substr(ExtractFilePath(path).size()); }

std::string FindPathIgnoringCase(const std::string &path)
{
    if (path.empty())
        return {};
    if (PathExists(path))
        return path;
    std::vector<std::string> parts;
    std::string current;
    std::size_t start = 0;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') {
        current = path.substr(0, 2);
        start = 2;
    }
#endif
    if (start < path.size() && IsPathDelimiter(path[start])) {
        current += PathDelim;
        ++start;
    }
    std::string part;
    for (std::size_t i = start; i <= path.size(); ++i) {
        if (i == path.size() || IsPathDelimiter(path[i])) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += path[i];
        }
    }
    for (const std::string &p : parts) {
        std::string exact = current;
        if (!exact.empty() && !IsPathDelimiter(exact.back()) && exact.back() != ':')
            exact += PathDelim;
        exact += p;
        if (PathExists(exact)) {
            current = exact;
            continue;
        }
        // Look for a single entry equal ignoring case; the first one found wins.
        const QString wanted = QString::fromUtf8(p);
        FileSearch search;
        SearchEntry e;
        std::string found;
        const std::string folder = current.empty() ? std::string(".") + PathDelim : current;
        std::string maskPath = folder;
        if (!IsPathDelimiter(maskPath.back()))
            maskPath += PathDelim;
        if (search.First(maskPath + "*", e)) {
            do {
                if (QString::fromUtf8(e.name).compare(wanted, Qt::CaseInsensitive) == 0) {
                    found = e.name;
                    break;
                }
            } while (search.Next(e));
        }
        if (found.empty())
            return {};
        std::string next = current;
        if (!next.empty() && !IsPathDelimiter(next.back()) && next.back() != ':')
            next += PathDelim;
        current = next + found;
    }
    return current;
}

FileHandle CreateUniqueFile(const std::string &folder, const std::string &prefix, const std::string &suffix,
                            std::string &path)
{
    std::string dir = folder;
    if (!dir.empty() && !IsPathDelimiter(dir.back()))
        dir += PathDelim;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%08X", static_cast<unsigned>(randomEngine()()));
        const std::string candidate = dir + prefix + unique + suffix;
        const FileHandle h = FileOpen(candidate, FileAccess::ReadWrite, FileShare::Read, FileDisposition::CreateNew);
        if (h != InvalidFileHandle) {
            path = candidate;
            return h;
        }
        if (LastOSError() != osErrorFileExists)
            return InvalidFileHandle;
    }
    return InvalidFileHandle;
}

// Path texts equal as the file system compares names.
static bool SamePathText(const std::string &a, const std::string &b);

bool PathLiesInside(const std::string &path, const std::string &folder)
{
    const std::string p = ResolvePath(path);
    std::string f = ResolvePath(folder);
    if (p.empty() || f.empty())
        return false;
    if (!IsPathDelimiter(f.back()))
        f += PathDelim;
    if (p.size() + 1 == f.size())
        return SamePathText(p, f.substr(0, p.size()));
    return p.size() >= f.size() && SamePathText(p.substr(0, f.size()), f);
}

// =====================================================================
#ifndef _WIN32

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
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
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
    else if (!S_ISREG(st.st_mode))
        refusal = osErrorNotRegularFile;
    if (refusal != 0) {
        ::close(fd);
        errno = refusal;
        return InvalidFileHandle;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    // Callers treat 0 as "no file"; keep clear of the standard streams.
    if (fd < 3) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        const int e = errno;
        ::close(fd);
        if (moved < 0) {
            errno = e;
            return InvalidFileHandle;
        }
        fd = moved;
    }
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

bool FileFlushByName(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    const int e = errno;
    ::close(fd);
    errno = e;
    return r == 0;
}

bool FileFlushAll(const std::vector<std::string> &paths)
{
#ifdef __linux__
    std::map<dev_t, std::string> fileSystems;
    for (const std::string &path : paths) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            return false;
        fileSystems.emplace(st.st_dev, path);
    }
    for (const auto &[device, path] : fileSystems) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return false;
        const int r = ::syncfs(fd);
        const int e = errno;
        ::close(fd);
        if (r != 0) {
            errno = e;
            return false;
        }
    }
    return true;
#else
    for (const std::string &path : paths)
        if (!FileFlushByName(path))
            return false;
    return true;
#endif
}

bool FlushDirectory(const std::string &folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
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
    return false;
}

bool CreateUniqueDirectory(const std::string &folder, const std::string &prefix, std::string &path)
{
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%08X", static_cast<unsigned>(randomEngine()()));
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

static bool SamePathText(const std::string &a, const std::string &b) { return a == b; }

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
        if (errno != ENOENT)
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
            ts.tv_sec = static_cast<time_t>(floorDiv(rel, kTicksPerSecond));
            ts.tv_nsec = static_cast<long>((rel - floorDiv(rel, kTicksPerSecond) * kTicksPerSecond) * 100);
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
    const std::int64_t days = floorDiv(secs, 86400);
    const std::int64_t inDay = secs - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
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
        if (entry.attributes == InvalidFileAttributes)
            continue;  // vanished between the listing and the look
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

// =====================================================================
#else  // _WIN32

const int osErrorFileNotFound = ERROR_FILE_NOT_FOUND;
const int osErrorNoMoreFiles = ERROR_NO_MORE_FILES;
const int osErrorFileExists = ERROR_FILE_EXISTS;
const int osErrorAccessDenied = ERROR_ACCESS_DENIED;
const int osErrorNotRegularFile = ERROR_NOT_SUPPORTED;
const int osErrorFileTooLarge = ERROR_FILE_TOO_LARGE;

namespace {

std::wstring wide(const std::string &s)
{
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const wchar_t *w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string s(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

void fillEntry(const WIN32_FIND_DATAW &fd, SearchEntry &entry)
{
    entry.name = narrow(fd.cFileName);
    entry.attributes = fd.dwFileAttributes;
    entry.size = (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    entry.regular = !(fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

FileTime fromFT(const FILETIME &ft)
{
    return static_cast<FileTime>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

FILETIME toFT(FileTime t)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(t) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(t) >> 32);
    return ft;
}

}  // namespace

FileHandle FileOpen(const std::string &path, FileAccess access, FileShare share, FileDisposition disposition,
                    unsigned hints)
{
    DWORD acc = access == FileAccess::Read    ? GENERIC_READ
                : access == FileAccess::Write ? GENERIC_WRITE
                                              : GENERIC_READ | GENERIC_WRITE;
    DWORD sh = share == FileShare::None ? 0 : share == FileShare::Read ? FILE_SHARE_READ
                                                                       : FILE_SHARE_READ | FILE_SHARE_WRITE;
    DWORD disp = OPEN_EXISTING;
    switch (disposition) {
    case FileDisposition::CreateNew: disp = CREATE_NEW; break;
    case FileDisposition::CreateAlways: disp = CREATE_ALWAYS; break;
    case FileDisposition::TruncateExisting: disp = TRUNCATE_EXISTING; break;
    case FileDisposition::OpenAlways: disp = OPEN_ALWAYS; break;
    case FileDisposition::OpenExisting: disp = OPEN_EXISTING; break;
    }
    DWORD flags = (hints & fhTemporary) ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL;
    if (hints & fhSequential)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    if (hints & fhRandom)
        flags |= FILE_FLAG_RANDOM_ACCESS;
    if (hints & fhDeleteOnClose) {
        flags |= FILE_FLAG_DELETE_ON_CLOSE;
        sh |= FILE_SHARE_DELETE;
    }
    HANDLE h = CreateFileW(wide(path).c_str(), acc, sh, nullptr, disp, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return InvalidFileHandle;
    // Device names (CON, COM1, NUL) open in any folder; only disk files count.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        SetLastError(static_cast<DWORD>(osErrorNotRegularFile));
        return InvalidFileHandle;
    }
    return reinterpret_cast<FileHandle>(h);
}

std::int64_t FileRead(FileHandle h, void *buffer, std::uint32_t count)
{
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(h), buffer, count, &n, nullptr))
        return -1;
    return n;
}

std::int64_t FileWrite(FileHandle h, const void *buffer, std::uint32_t count)
{
    DWORD n = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(h), buffer, count, &n, nullptr))
        return -1;
    return n;
}

std::int64_t FileSeek(FileHandle h, std::int64_t distance, int origin)
{
    LARGE_INTEGER d, out;
    d.QuadPart = distance;
    const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(h), d, &out, method))
        return -1;
    return out.QuadPart;
}

bool FileTruncateHere(FileHandle h) { return SetEndOfFile(reinterpret_cast<HANDLE>(h)) != 0; }

bool FileFlush(FileHandle h) { return FlushFileBuffers(reinterpret_cast<HANDLE>(h)) != 0; }

bool FileFlushByName(const std::string &path)
{
    const std::wstring w = wide(path);
    const DWORD attrs = ::GetFileAttributesW(w.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return false;
    // Flushing needs a handle open for writing, which a read-only file refuses.
    const bool readOnly = (attrs & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) {
        const DWORD writable = attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (!::SetFileAttributesW(w.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL))
            return false;
    }
    HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
    const DWORD e = GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (readOnly)
        ::SetFileAttributesW(w.c_str(), attrs);
    SetLastError(e);
    return ok;
}

bool FileFlushAll(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths)
        if (!FileFlushByName(path))
            return false;
    return true;
}

// NTFS journals its folder entries; MoveFileEx writes a rename through itself.
bool FlushDirectory(const std::string &) { return true; }

bool FileClose(FileHandle h) { return CloseHandle(reinterpret_cast<HANDLE>(h)) != 0; }

bool FileExists(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string &path) { return ::GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool PathIsLink(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FileDelete(const std::string &path) { return ::DeleteFileW(wide(path).c_str()) != 0; }

bool FileRename(const std::string &from, const std::string &to)
{
    return ::MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ForceDirectories(const std::string &path)
{
    std::string p = path;
    while (p.size() > 3 && IsPathDelimiter(p.back()))
        p.pop_back();
    if (p.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (DirectoryExists(p))
        return true;
    std::string parent = ExtractFilePath(p);
    if (!parent.empty() && parent != p && !(parent.size() <= 3 && parent.find(':') != std::string::npos) &&
        !ForceDirectories(parent))
        return false;
    return ::CreateDirectoryW(wide(p).c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CreateUniqueDirectory(const std::string &folder, const std::string &prefix, std::string &path)
{
    std::string dir = folder;
    if (!dir.empty() && !IsPathDelimiter(dir.back()))
        dir += PathDelim;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%08X", static_cast<unsigned>(randomEngine()()));
        const std::string candidate = dir + prefix + unique;
        // It takes the permissions of the folder it is made in, as its siblings do.
        if (::CreateDirectoryW(wide(candidate).c_str(), nullptr)) {
            path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool DirectoryDelete(const std::string &path) { return ::RemoveDirectoryW(wide(path).c_str()) != 0; }

bool DirectoryDeleteTree(const std::string &path)
{
    const std::wstring w = wide(path);
    const DWORD attrs = ::GetFileAttributesW(w.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
    }
    if (attrs & FILE_ATTRIBUTE_READONLY) {
        const DWORD writable = attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
        ::SetFileAttributesW(w.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL);
    }
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY))
        return ::DeleteFileW(w.c_str()) != 0;
    // A junction or folder link: remove the link itself, never what it leads to.
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT)
        return ::RemoveDirectoryW(w.c_str()) != 0;
    std::vector<std::string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((w + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = narrow(fd.cFileName);
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    bool ok = true;
    for (const std::string &name : names)
        ok = DirectoryDeleteTree(path + "\\" + name) && ok;
    return ::RemoveDirectoryW(w.c_str()) != 0 && ok;
}

static bool SamePathText(const std::string &a, const std::string &b)
{
    const std::wstring wa = wide(a), wb = wide(b);
    return ::CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::string ResolvePath(const std::string &path)
{
    std::string head = ExpandFileName(path);
    while (head.size() > 3 && IsPathDelimiter(head.back()))
        head.pop_back();
    std::string rest;
    for (;;) {
        HANDLE h = CreateFileW(wide(head).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            std::wstring buf(32768, L'\0');
            const DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            CloseHandle(h);
            if (n == 0 || n >= buf.size())
                return {};
            buf.resize(n);
            std::string out = narrow(buf.c_str());
            if (out.rfind("\\\\?\\UNC\\", 0) == 0)
                out = "\\\\" + out.substr(8);
            else if (out.rfind("\\\\?\\", 0) == 0)
                out = out.substr(4);
            if (!rest.empty())
                out += (IsPathDelimiter(out.back()) ? "" : "\\") + rest;
            return out;
        }
        const DWORD e = GetLastError();
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND)
            return {};
        // Missing, or a link that leads nowhere: only the first may be walked past.
        if (::GetFileAttributesW(wide(head).c_str()) != INVALID_FILE_ATTRIBUTES)
            return {};
        const std::size_t cut = head.find_last_of("\\/");
        if (cut == std::string::npos || head.size() <= 3)
            return {};
        rest = rest.empty() ? head.substr(cut + 1) : head.substr(cut + 1) + "\\" + rest;
        head = head.substr(0, cut);
        if (head.size() == 2 && head[1] == ':')
            head += '\\';
    }
}

std::string CurrentDirectory()
{
    wchar_t buf[MAX_PATH * 4];
    if (!GetCurrentDirectoryW(MAX_PATH * 4, buf))
        return {};
    return narrow(buf);
}

std::string ExpandFileName(const std::string &path)
{
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(wide(path).c_str(), MAX_PATH * 4, buf, nullptr);
    if (n == 0 || n >= MAX_PATH * 4)
        return path;
    return narrow(buf);
}

std::uint32_t FileGetAttributes(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(wide(path).c_str());
    return a == INVALID_FILE_ATTRIBUTES ? InvalidFileAttributes : static_cast<std::uint32_t>(a);
}

bool FileSetAttributes(const std::string &path, std::uint32_t attrs)
{
    return ::SetFileAttributesW(wide(path).c_str(), attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs) != 0;
}

bool FileGetTimes(FileHandle h, FileTime *creation, FileTime *lastAccess, FileTime *lastWrite)
{
    FILETIME c, a, w;
    if (!GetFileTime(reinterpret_cast<HANDLE>(h), &c, &a, &w))
        return false;
    if (creation)
        *creation = fromFT(c);
    if (lastAccess)
        *lastAccess = fromFT(a);
    if (lastWrite)
        *lastWrite = fromFT(w);
    return true;
}

bool FileSetTimes(FileHandle h, const FileTime *creation, const FileTime *lastAccess, const FileTime *lastWrite)
{
    FILETIME c, a, w;
    if (creation)
        c = toFT(*creation);
    if (lastAccess)
        a = toFT(*lastAccess);
    if (lastWrite)
        w = toFT(*lastWrite);
    return SetFileTime(reinterpret_cast<HANDLE>(h), creation ? &c : nullptr, lastAccess ? &a : nullptr,
                       lastWrite ? &w : nullptr) != 0;
}

bool FileTimeToLocalFileTime(FileTime utc, FileTime &local)
{
    const FILETIME in = toFT(utc);
    FILETIME out;
    if (!::FileTimeToLocalFileTime(&in, &out))
        return false;
    local = fromFT(out);
    return true;
}

bool LocalFileTimeToFileTime(FileTime local, FileTime &utc)
{
    const FILETIME in = toFT(local);
    FILETIME out;
    if (!::LocalFileTimeToFileTime(&in, &out))
        return false;
    utc = fromFT(out);
    return true;
}

FileSearch::~FileSearch() { Close(); }

void FileSearch::Close()
{
    if (handle_)
        FindClose(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool FileSearch::First(const std::string &pathAndMask, SearchEntry &entry)
{
    Close();
    nothingMatched_ = false;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(wide(pathAndMask).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        nothingMatched_ = GetLastError() == ERROR_FILE_NOT_FOUND;
        return false;
    }
    handle_ = h;
    fillEntry(fd, entry);
    return true;
}

bool FileSearch::Next(SearchEntry &entry)
{
    WIN32_FIND_DATAW fd;
    if (!handle_ || !FindNextFileW(static_cast<HANDLE>(handle_), &fd))
        return false;
    fillEntry(fd, entry);
    return true;
}

std::string TempDirectory()
{
    wchar_t buf[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH)
        return {};
    return narrow(buf);
}

#endif

}  // namespace qv
