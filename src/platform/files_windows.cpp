// The file layer on Windows: the wide (UTF-16) calls only, so a name with
// Polish letters never passes through the ANSI code page; share modes,
// attributes and times are the system's own.
#include "platform/files.h"

#include "platform/errors.h"
#include "platform/files_internal.h"
#include "platform/text.h"

#include <cstdio>
#include <vector>

#include <windows.h>

namespace qv {

using namespace fileimpl;

const int fileimpl::kInvalidArgument = ERROR_INVALID_PARAMETER;

const int osErrorFileNotFound = ERROR_FILE_NOT_FOUND;
const int osErrorNoMoreFiles = ERROR_NO_MORE_FILES;
const int osErrorFileExists = ERROR_FILE_EXISTS;
const int osErrorAccessDenied = ERROR_ACCESS_DENIED;
const int osErrorNotRegularFile = ERROR_NOT_SUPPORTED;
const int osErrorFileTooLarge = ERROR_FILE_TOO_LARGE;

std::wstring fileimpl::Wide(const std::string &s) { return Utf8ToUtf16(s); }

std::string fileimpl::Narrow(const wchar_t *w) { return w ? Utf16ToUtf8(w) : std::string(); }

namespace {

void fillEntry(const WIN32_FIND_DATAW &fd, SearchEntry &entry)
{
    entry.name = Narrow(fd.cFileName);
    entry.attributes = fd.dwFileAttributes;
    entry.size = (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    entry.regular = !(fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    entry.linkLeadsNowhere = false;
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
    DWORD acc = access == FileAccess::Read     ? GENERIC_READ
                : access == FileAccess::Write  ? GENERIC_WRITE
                : access == FileAccess::Append ? FILE_APPEND_DATA | SYNCHRONIZE
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
    HANDLE h = CreateFileW(Wide(path).c_str(), acc, sh, nullptr, disp, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return InvalidFileHandle;
    // Device names (CON, COM1, NUL) open in any folder; only disk files count.
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_DISK && !(type == FILE_TYPE_CHAR && (hints & fhCharacterDevice))) {
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
    const std::wstring w = Wide(path);
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

void fileimpl::StartWriteback(const std::string &) {}

// NTFS journals its folder entries; MoveFileEx writes a rename through itself.
// What is left is to fail, as POSIX does, where there is no folder to flush.
bool FlushDirectory(const std::string &folder)
{
    const DWORD a = ::GetFileAttributesW(Wide(folder.empty() ? "." : folder).c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

bool FileClose(FileHandle h) { return CloseHandle(reinterpret_cast<HANDLE>(h)) != 0; }

bool FileExists(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string &path) { return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool PathIsLink(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FileDelete(const std::string &path) { return ::DeleteFileW(Wide(path).c_str()) != 0; }

bool FileRename(const std::string &from, const std::string &to)
{
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::int64_t FileSizeOf(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool CopyFilePermissions(const std::string &, const std::string &) { return true; }

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
    if (::CreateDirectoryW(Wide(p).c_str(), nullptr) || (GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(p)))
        return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        SetLastError(ERROR_DIRECTORY);  // a file stands where the folder should: say that, not that it exists
    return false;
}

bool CreateUniqueDirectory(const std::string &folder, const std::string &prefix, std::string &path)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = UniqueCandidate(folder, prefix);
        // It takes the permissions of the folder it is made in, as its siblings do.
        if (::CreateDirectoryW(Wide(candidate).c_str(), nullptr)) {
            path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool DirectoryDelete(const std::string &path) { return ::RemoveDirectoryW(Wide(path).c_str()) != 0; }

bool DirectoryDeleteTree(const std::string &path)
{
    const std::wstring w = Wide(path);
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
            const std::string name = Narrow(fd.cFileName);
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

bool fileimpl::SamePathText(const std::string &a, const std::string &b)
{
    const std::wstring wa = Wide(a), wb = Wide(b);
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
        HANDLE h = CreateFileW(Wide(head).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            std::wstring buf(32768, L'\0');
            const DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            CloseHandle(h);
            if (n == 0 || n >= buf.size())
                return {};
            buf.resize(n);
            std::string out = Narrow(buf.c_str());
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
        if (::GetFileAttributesW(Wide(head).c_str()) != INVALID_FILE_ATTRIBUTES)
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
    return Narrow(buf);
}

std::string ExpandFileName(const std::string &path)
{
    wchar_t buf[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(Wide(path).c_str(), MAX_PATH * 4, buf, nullptr);
    if (n == 0 || n >= MAX_PATH * 4)
        return path;
    return Narrow(buf);
}

std::uint32_t FileGetAttributes(const std::string &path)
{
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    return a == INVALID_FILE_ATTRIBUTES ? InvalidFileAttributes : static_cast<std::uint32_t>(a);
}

bool FileSetAttributes(const std::string &path, std::uint32_t attrs)
{
    return ::SetFileAttributesW(Wide(path).c_str(), attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs) != 0;
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
    HANDLE h = FindFirstFileW(Wide(pathAndMask).c_str(), &fd);
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
    return Narrow(buf);
}

}  // namespace qv
