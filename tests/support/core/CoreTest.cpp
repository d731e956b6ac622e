#include "CoreTest.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qv::test {

namespace {

void listInto(const std::string &folder, const std::string &prefix, std::vector<std::string> &out)
{
    std::vector<std::string> names;
    {
        FileSearch search;
        SearchEntry e;
        if (search.First(folder + PathDelim + "*", e)) {
            do {
                if (e.name != "." && e.name != "..")
                    names.push_back(e.name);
            } while (search.Next(e));
        }
    }
    for (const std::string &name : names) {
        const std::string full = folder + PathDelim + name;
        out.push_back(prefix + name);
        if (DirectoryExists(full) && !PathIsLink(full))
            listInto(full, prefix + name + "/", out);
    }
}

void makeWritable(const std::string &path)
{
    const std::uint32_t attrs = FileGetAttributes(path);
    if (attrs == InvalidFileAttributes || PathIsLink(path))
        return;
    if (attrs & faReadOnly)
        FileSetAttributes(path, attrs & ~static_cast<std::uint32_t>(faReadOnly | faDirectory));
    if (!(attrs & faDirectory))
        return;
    std::vector<std::string> inside;
    listInto(path, "", inside);
    for (const std::string &rel : inside) {
        std::string native = rel;
        std::replace(native.begin(), native.end(), '/', PathDelim);
        const std::string full = path + PathDelim + native;
        const std::uint32_t a = FileGetAttributes(full);
        if (a != InvalidFileAttributes && (a & faReadOnly) && !PathIsLink(full))
            FileSetAttributes(full, a & ~static_cast<std::uint32_t>(faReadOnly | faDirectory));
    }
}

}  // namespace

ScratchDir::ScratchDir(const std::string &lead)
{
    std::string folder = TempDirectory();
    while (folder.size() > 1 && IsPathDelimiter(folder.back()))
        folder.pop_back();
    if (!CreateUniqueDirectory(folder, lead + ".", path_))
        throw std::runtime_error("cannot make a scratch folder in " + folder);
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void RemoveTree(const std::string &path)
{
    makeWritable(path);
    DirectoryDeleteTree(path);
}

void WriteBytes(const std::string &path, const std::string &data)
{
    const std::string folder = ExtractFilePath(path);
    if (!folder.empty())
        ForceDirectories(folder);
    const FileHandle h = FileOpen(path, FileAccess::Write, FileShare::Read, FileDisposition::CreateAlways);
    if (h == InvalidFileHandle)
        throw std::runtime_error("cannot write " + path);
    std::size_t done = 0;
    while (done < data.size()) {
        const std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::size_t>(data.size() - done, 1u << 20));
        if (FileWrite(h, data.data() + done, chunk) != chunk) {
            FileClose(h);
            throw std::runtime_error("cannot write " + path);
        }
        done += chunk;
    }
    FileClose(h);
}

std::string ReadBytes(const std::string &path)
{
    const FileHandle h = FileOpen(path, FileAccess::Read, FileShare::ReadWrite, FileDisposition::OpenExisting);
    if (h == InvalidFileHandle)
        return "<missing " + path + ">";
    std::string out;
    char buf[65536];
    for (;;) {
        const std::int64_t n = FileRead(h, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    FileClose(h);
    return out;
}

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> TextFileLines(const std::string &bytes)
{
    std::vector<std::string> lines = SplitLines(bytes);
    for (std::string &line : lines) {
        const bool crlf = !line.empty() && line.back() == '\r';
        EXPECT_EQ(crlf, kWindows) << "the line end of: " << line;
        if (crlf)
            line.pop_back();
    }
    return lines;
}

std::vector<std::string> FilesIn(const std::string &folder, const std::string &mask)
{
    std::vector<std::string> names;
    FileSearch search;
    SearchEntry e;
    if (search.First(folder + PathDelim + mask, e)) {
        do {
            if (!(e.attributes & faDirectory))
                names.push_back(e.name);
        } while (search.Next(e));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ListTree(const std::string &root)
{
    std::vector<std::string> out;
    listInto(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

#ifdef _WIN32

namespace {
// cmd.exe, which every Windows (and Wine) has, created suspended: it runs no
// instruction until resumed or ended.
PROCESS_INFORMATION startSuspended()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    std::wstring line = L"cmd.exe /c exit 0";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot start cmd.exe");
    CloseHandle(pi.hThread);
    return pi;
}
}  // namespace

namespace {
std::string runOnce(const std::wstring &line, int &status)
{
    status = -1;
    FILE *p = ::_wpopen(line.c_str(), L"rb");
    if (!p)
        return {};
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        for (std::size_t i = 0; i < n; ++i)
            if (buf[i] != '\r')  // cmd's line ends, as sh's
                out += buf[i];
    status = ::_pclose(p);
    return out;
}
}  // namespace

std::string RunCaptured(const std::string &command, int &status)
{
    // cmd /c strips the outer quotes of a line that begins with one.
    const std::wstring wide = Utf8ToUtf16("\"" + command + " 2>&1\"");
    // Wine's cmd now and then fails to start a program that is there, on a
    // busy machine ("Can't recognize ... as an internal or external
    // command", 9009): the program never ran, so that alone is tried again.
    constexpr int kNotStarted = 9009;
    std::string out = runOnce(wide, status);
    for (int retry = 0; retry < 2 && status == kNotStarted && UnderWine() &&
                        out.find("Can't recognize") != std::string::npos;
         ++retry) {
        Sleep(500);
        out = runOnce(wide, status);
    }
    return out;
}

bool MakeSymbolicLink(const std::string &target, const std::string &link, bool folder)
{
    // A link's target is kept as written, unnormalised: "\\" only.
    std::string to = target;
    std::replace(to.begin(), to.end(), '/', '\\');
    const DWORD kind = folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
    // Developer mode lets anyone make links with this flag; systems before
    // Windows 10 1703 refuse the flag itself, so once more without it.
    if (!CreateSymbolicLinkW(Utf8ToUtf16(link).c_str(), Utf8ToUtf16(to).c_str(), kind | 0x2) &&
        !CreateSymbolicLinkW(Utf8ToUtf16(link).c_str(), Utf8ToUtf16(to).c_str(), kind))
        return false;
    // Wine answers yes and makes nothing.
    return PathIsLink(link);
}

bool UnderWine()
{
    // Wine's ntdll names its version; Windows' does not.
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool UnderWineAsRoot()
{
    // Wine takes the Unix user's name for the Windows one.
    wchar_t name[256];
    DWORD size = 256;
    return UnderWine() && GetUserNameW(name, &size) && std::wstring(name) == L"root";
}

std::string ThisProgramPath()
{
    wchar_t self[4096];
    const DWORD len = GetModuleFileNameW(nullptr, self, 4096);
    return Utf16ToUtf8(std::wstring_view(self, len));
}

std::uint32_t EndedProcessId()
{
    const PROCESS_INFORMATION pi = startSuspended();
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    return pi.dwProcessId;
}

RunningProcess::RunningProcess()
{
    const PROCESS_INFORMATION pi = startSuspended();
    pid_ = pi.dwProcessId;
    handle_ = pi.hProcess;
}

RunningProcess::~RunningProcess()
{
    TerminateProcess(static_cast<HANDLE>(handle_), 0);
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle_));
}

#else

std::uint32_t EndedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<std::uint32_t>(child);
}

RunningProcess::RunningProcess()
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    if (child < 0)
        throw std::runtime_error("cannot fork");
    pid_ = static_cast<std::uint32_t>(child);
}

RunningProcess::~RunningProcess()
{
    ::kill(static_cast<pid_t>(pid_), SIGKILL);
    int status = 0;
    ::waitpid(static_cast<pid_t>(pid_), &status, 0);
}

#endif

#ifndef _WIN32
bool MakeSymbolicLink(const std::string &target, const std::string &link, bool)
{
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool UnderWine() { return false; }
bool UnderWineAsRoot() { return false; }
#endif

std::uint32_t AttributesAsRead(std::uint32_t bits) { return UnderWine() ? bits | faArchive : bits; }

void SetLastWriteTime(const std::string &path, FileTime utc)
{
    const FileHandle h = FileOpen(path, FileAccess::Write, FileShare::ReadWrite, FileDisposition::OpenExisting);
    const bool ok = h != InvalidFileHandle && FileSetTimes(h, nullptr, nullptr, &utc);
    if (h != InvalidFileHandle)
        FileClose(h);
    if (!ok)
        throw std::runtime_error("cannot set the time of " + path);
}

}  // namespace qv::test
