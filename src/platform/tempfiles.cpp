// Own temporary names and the sweep of leftovers. A name is ours only when it
// matches the whole pattern; a file of this process's own number counts as a
// leftover only when it is older than the process (a number reused after a
// restart, as in a container where the program always gets the same one).
#include "platform/tempfiles.h"

#include "platform/process.h"

#include <chrono>
#include <vector>

namespace qv {

namespace {

constexpr char kMark[] = ".qv";
constexpr char kSuffix[] = ".tmp";
constexpr std::size_t kUniqueDigits = 8;  // CreateUniqueFile's part
// File systems that keep times to two seconds (FAT) round a time down.
constexpr FileTime kTimeSlack = 2 * 10000000LL;

FileTime now()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    return FileTimeFromUnix(ns / 1000000000, ns % 1000000000);
}

const FileTime gProcessStarted = now();

std::string inFolder(const std::string &folder, const std::string &name)
{
    return IsPathDelimiter(folder.back()) ? folder + name : folder + PathDelim + name;
}

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool olderThanThisProcess(const std::string &path)
{
    const FileHandle h = FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting);
    if (h == InvalidFileHandle)
        return false;
    FileTime written = 0;
    const bool known = FileGetTimes(h, nullptr, nullptr, &written);
    FileClose(h);
    return known && written + kTimeSlack < gProcessStarted;
}

}  // namespace

FileHandle CreateOwnTempFile(const std::string &folder, const std::string &lead, std::string &path)
{
    const std::string prefix = lead + kMark + std::to_string(CurrentProcessId()) + "-";
    return CreateUniqueFile(folder, prefix, kSuffix, path);
}

std::uint32_t OwnTempFileMaker(const std::string &name)
{
    const std::size_t suffix = sizeof kSuffix - 1;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return 0;
    std::size_t end = name.size() - suffix;  // one past the unique part
    if (end < kUniqueDigits + 1)
        return 0;
    for (std::size_t i = end - kUniqueDigits; i < end; ++i)
        if (!isUpperHex(name[i]))
            return 0;
    end -= kUniqueDigits;
    if (name[end - 1] != '-')
        return 0;
    const std::size_t digitsEnd = end - 1;
    std::size_t digitsStart = digitsEnd;
    while (digitsStart > 0 && name[digitsStart - 1] >= '0' && name[digitsStart - 1] <= '9')
        --digitsStart;
    if (digitsStart == digitsEnd || digitsEnd - digitsStart > 10)
        return 0;
    const std::size_t markLen = sizeof kMark - 1;
    if (digitsStart < markLen || name.compare(digitsStart - markLen, markLen, kMark) != 0)
        return 0;
    const std::string lead = name.substr(0, digitsStart - markLen);
    if (lead != "stc" && (lead.empty() || lead[0] != '~'))
        return 0;
    const std::uint64_t pid = std::stoull(name.substr(digitsStart, digitsEnd - digitsStart));
    if (pid == 0 || pid > 0xFFFFFFFFull)
        return 0;
    return static_cast<std::uint32_t>(pid);
}

int RemoveStaleTempFiles(const std::string &folder)
{
    if (folder.empty())
        return 0;
    // Names first, removals after: a folder is not changed while it is read.
    std::vector<std::string> stale;
    {
        FileSearch search;
        SearchEntry e;
        if (search.First(inFolder(folder, std::string("*") + kSuffix), e)) {
            do {
                const std::uint32_t maker = e.regular ? OwnTempFileMaker(e.name) : 0;
                if (maker == 0)
                    continue;
                const std::string path = inFolder(folder, e.name);
                const bool ended = maker == CurrentProcessId() ? olderThanThisProcess(path) : !ProcessIsAlive(maker);
                if (ended)
                    stale.push_back(path);
            } while (search.Next(e));
        }
    }
    int removed = 0;
    for (const std::string &path : stale)
        removed += FileDelete(path) ? 1 : 0;
    return removed;
}

}  // namespace qv
