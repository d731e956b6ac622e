// The file layer's shared part: DOS date-time arithmetic, names, masks and
// letter case, unique names. Everything that calls the system is in
// files_posix.cpp or files_windows.cpp, one of which the build takes.
#include "platform/files.h"

#include "platform/errors.h"
#include "platform/files_internal.h"
#include "platform/text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

namespace qv {

namespace fileimpl {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

void CivilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d)
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

std::mt19937 &RandomEngine()
{
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

std::string UniqueCandidate(const std::string &folder, const std::string &prefix)
{
    std::string dir = folder;
    if (!dir.empty() && !IsPathDelimiter(dir.back()))
        dir += PathDelim;
    char unique[16];
    std::snprintf(unique, sizeof unique, "%08X", static_cast<unsigned>(RandomEngine()()));
    return dir + prefix + unique;
}

}  // namespace fileimpl

using namespace fileimpl;

namespace {

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

}  // namespace

FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds)
{
    return kUnixEpochAsFileTime + seconds * kTicksPerSecond + nanoseconds / 100;
}

std::int64_t FileTimeToUnix(FileTime t) { return FloorDiv(t - kUnixEpochAsFileTime, kTicksPerSecond); }

bool FileTimeToDosDateTime(FileTime local, std::uint16_t &dosDate, std::uint16_t &dosTime)
{
    const std::int64_t secs = FileTimeToUnix(local);
    const std::int64_t days = FloorDiv(secs, 86400);
    const std::int64_t inDay = secs - days * 86400;
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
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
        SetLastOSError(kInvalidArgument);
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
    std::u32string n = DecodeUtf8(name), k = DecodeUtf8(mask);
    for (char32_t &c : n)
        c = FoldCase(c);
    for (char32_t &c : k)
        c = FoldCase(c);
    // Iterative wildcard match with one back-track point.
    std::ptrdiff_t star = -1;
    std::size_t i = 0, j = 0, mark = 0;
    while (i < n.size()) {
        if (j < k.size() && (k[j] == U'?' || k[j] == n[i])) {
            ++i;
            ++j;
        } else if (j < k.size() && k[j] == U'*') {
            star = static_cast<std::ptrdiff_t>(j++);
            mark = i;
        } else if (star >= 0) {
            j = static_cast<std::size_t>(star) + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < k.size() && k[j] == U'*')
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

std::string ExcludeTrailingDelimiter(std::string path)
{
    while (path.size() > 1 && IsPathDelimiter(path.back()))
        path.pop_back();
    return path;
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
        FileSearch search;
        SearchEntry e;
        std::string found;
        const std::string folder = current.empty() ? std::string(".") + PathDelim : current;
        std::string maskPath = folder;
        if (!IsPathDelimiter(maskPath.back()))
            maskPath += PathDelim;
        if (search.First(maskPath + "*", e)) {
            do {
                if (SameTextIgnoringCase(e.name, p)) {
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
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = UniqueCandidate(folder, prefix) + suffix;
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

bool FileFlushAll(const std::vector<std::string> &paths)
{
    // Writeback of every file begins first, so the disk works on all of them
    // while the flushes wait; flushes waiting side by side let a journalling
    // file system commit many files' metadata at once.
    for (const std::string &path : paths)
        StartWriteback(path);
    std::atomic<std::size_t> next{0};
    std::atomic<int> failure{0};
    const auto work = [&] {
        for (std::size_t i; failure.load() == 0 && (i = next++) < paths.size();) {
            if (!FileFlushByName(paths[i])) {
                int none = 0;
                const int error = LastOSError();
                failure.compare_exchange_strong(none, error != 0 ? error : osErrorFileNotFound);
            }
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(paths.size() / 8, 7);
    try {
        while (helpers.size() < wanted)
            helpers.emplace_back(work);
    } catch (const std::system_error &) {
        // fewer helpers, same work
    }
    work();
    for (std::thread &t : helpers)
        t.join();
    if (failure.load() != 0) {
        SetLastOSError(failure.load());
        return false;
    }
    return true;
}

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

bool ReadWholeFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    const FileHandle h = FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting);
    if (h == InvalidFileHandle)
        return false;
    char buffer[65536];
    for (;;) {
        const std::int64_t n = FileRead(h, buffer, sizeof buffer);
        if (n < 0) {
            const int error = LastOSError();
            FileClose(h);
            SetLastOSError(error);
            return false;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return FileClose(h);
}

bool FileCopyNew(const std::string &from, const std::string &to)
{
    std::string bytes;
    if (!ReadWholeFile(from, bytes))
        return false;
    const FileHandle h = FileOpen(to, FileAccess::Write, FileShare::None, FileDisposition::CreateNew);
    if (h == InvalidFileHandle)
        return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        const std::int64_t n = FileWrite(h, bytes.data() + done, chunk);
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    const int error = ok ? 0 : LastOSError();
    ok = FileClose(h) && ok;
    if (!ok) {
        FileDelete(to);
        if (error != 0)
            SetLastOSError(error);
    }
    return ok;
}

}  // namespace qv
