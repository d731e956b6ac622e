// The file layer: every file-system call of the program goes through here.
//
// Paths are UTF-8 and use the platform's separator. Failures return the
// documented failure value and leave the OS error code in LastOSError()
// (errno on POSIX, GetLastError() on Windows), never throw.
//
// Only regular files are opened: a FIFO, socket or device is refused at once
// (osErrorNotRegularFile) instead of blocking the program in open() or in
// its first read.
//
// POSIX notes:
// - Share modes do not exist; the Share argument is accepted and ignored.
// - Read-only is "no write permission bits". Hidden, system and archive are
//   kept in the extended attribute "user.DOSATTRIB" where the file system
//   supports it; a name starting with "." is always hidden, and a file
//   without the attribute reports archive.
// - There is no settable creation time; setting it is accepted and dropped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

using FileHandle = std::intptr_t;
constexpr FileHandle InvalidFileHandle = -1;

// Append: every write goes to the end, whoever else appends meanwhile (logs).
enum class FileAccess { Read, Write, ReadWrite, Append };
enum class FileShare { None, Read, ReadWrite };
enum class FileDisposition {
    CreateNew,         // create; fail if it exists
    CreateAlways,      // create, or empty an existing file
    TruncateExisting,  // empty an existing file; fail if missing
    OpenAlways,        // open, or create a missing file
    OpenExisting,      // open; fail if missing
};

// Hints and extras for FileOpen (bit set).
enum : unsigned {
    fhNone = 0,
    fhSequential = 0x01,
    fhRandom = 0x02,
    fhTemporary = 0x04,      // short-lived file attribute
    fhDeleteOnClose = 0x08,
    // A character device is taken too (/dev/null, a terminal, NUL, CON): for
    // a log the user names, never for data.
    fhCharacterDevice = 0x10,
};

// DOS attribute bits as the program uses them.
enum : std::uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSystem = 0x04,
    faDirectory = 0x10,
    faArchive = 0x20,
    faNormal = 0x80,
};
constexpr std::uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

// OS error codes the callers test for.
extern const int osErrorFileNotFound;
extern const int osErrorNoMoreFiles;
extern const int osErrorFileExists;
extern const int osErrorAccessDenied;
extern const int osErrorNotRegularFile;  // a FIFO, socket, device or other special file
extern const int osErrorFileTooLarge;

constexpr char PathDelim =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// ---- open files ----
FileHandle FileOpen(const std::string &path, FileAccess access, FileShare share, FileDisposition disposition,
                    unsigned hints = fhNone);
// Bytes transferred, or -1.
std::int64_t FileRead(FileHandle h, void *buffer, std::uint32_t count);
std::int64_t FileWrite(FileHandle h, const void *buffer, std::uint32_t count);
// origin: 0 start, 1 current, 2 end. New position, or -1.
std::int64_t FileSeek(FileHandle h, std::int64_t distance, int origin);
bool FileClose(FileHandle h);
bool FileTruncateHere(FileHandle h);
// Writes the file's data through to the disk (fsync, FlushFileBuffers).
bool FileFlush(FileHandle h);
// The same for a closed file, by name; a read-only file is flushed too.
bool FileFlushByName(const std::string &path);
// The same for many closed files at once: only these files, whatever else
// the system has yet to write, on several threads where there are many (the
// waits for the disk overlap). False with the first failure's reason.
bool FileFlushAll(const std::vector<std::string> &paths);

// ---- names and folders ----
bool FileExists(const std::string &path);       // an existing non-folder
bool DirectoryExists(const std::string &path);
bool PathExists(const std::string &path);       // file or folder
// A symbolic link, or on Windows any reparse point (a junction too).
bool PathIsLink(const std::string &path);
bool FileDelete(const std::string &path);
// Replaces an existing target.
bool FileRename(const std::string &from, const std::string &to);
// A copy of a file's bytes under a new name; false (and no file) when that
// name is taken.
bool FileCopyNew(const std::string &from, const std::string &to);
// The size of a file in bytes; -1 when it cannot be told.
std::int64_t FileSizeOf(const std::string &path);
// A whole file's bytes, read with full sharing; false with the reason in
// LastOSError() (osErrorFileNotFound for a missing one).
bool ReadWholeFile(const std::string &path, std::string &bytes);
// Gives `to` the access rights of `from` (POSIX permission bits); a no-op
// where files inherit their folder's rights (Windows).
bool CopyFilePermissions(const std::string &from, const std::string &to);
// Writes a folder's entries (names created, renamed or removed in it) through
// to the disk, so that a rename survives a crash. A no-op where the system
// does this itself.
bool FlushDirectory(const std::string &folder);
// Creates the folder and every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string &path);
// Creates a new folder named prefix + unique part inside folder (POSIX: open
// to this user only; Windows: with the permissions it inherits); path
// receives its full name.
bool CreateUniqueDirectory(const std::string &folder, const std::string &prefix, std::string &path);
// Removes an empty folder.
bool DirectoryDelete(const std::string &path);
// Removes a folder with everything in it; true when it is gone (also when it
// never was). Links inside are removed, never followed.
bool DirectoryDeleteTree(const std::string &path);
std::string CurrentDirectory();
// Absolute form of a path (relative ones against the current folder); no
// symbolic links are resolved and the file need not exist.
std::string ExpandFileName(const std::string &path);
// Absolute form of a path with "." and ".." folded and every link in the part
// that exists followed; the part that does not exist yet is kept as written.
// Empty when that cannot be told (a link leading nowhere, no access).
std::string ResolvePath(const std::string &path);
// True when path, resolved, is folder (resolved) or lies below it. Letter case
// counts where the file system's does.
bool PathLiesInside(const std::string &path, const std::string &folder);
// Folder part including its trailing separator ("" when none) and name part.
std::string ExtractFilePath(const std::string &path);
// The path without separators at its end (a root stays as it is).
std::string ExcludeTrailingDelimiter(std::string path);
std::string ExtractFileName(const std::string &path);
bool IsPathDelimiter(char c);

// ---- attributes and times ----
std::uint32_t FileGetAttributes(const std::string &path);  // InvalidFileAttributes on failure
bool FileSetAttributes(const std::string &path, std::uint32_t attrs);

// Time stamps as 100 ns units since 1601-01-01 (the Windows FILETIME scale),
// universal unless the name says local.
using FileTime = std::int64_t;
bool FileGetTimes(FileHandle h, FileTime *creation, FileTime *lastAccess, FileTime *lastWrite);
// nullptr leaves that time unchanged.
bool FileSetTimes(FileHandle h, const FileTime *creation, const FileTime *lastAccess, const FileTime *lastWrite);
bool FileTimeToLocalFileTime(FileTime utc, FileTime &local);
bool LocalFileTimeToFileTime(FileTime local, FileTime &utc);
// False outside 1980-01-01 .. 2107-12-31 (no DOS form).
bool FileTimeToDosDateTime(FileTime local, std::uint16_t &dosDate, std::uint16_t &dosTime);
bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime &local);
FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0);
std::int64_t FileTimeToUnix(FileTime t);

// ---- folder search ----
struct SearchEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    // A file FileOpen will open: not a folder, not a FIFO, socket or device
    // (a symbolic link counts as what it points to).
    bool regular = false;
    // A symbolic link whose target does not exist (never on Windows).
    bool linkLeadsNowhere = false;
};

// Walks a folder for names matching a mask with "*" and "?" (letter case
// ignored, "*.*" matching every name), in the file system's own order.
// First: false when the search cannot start; NothingMatched() then tells a
// readable folder without a match from a real failure. Next: false with
// osErrorNoMoreFiles at the end, any other code on a failure.
class FileSearch {
public:
    FileSearch() = default;
    ~FileSearch();
    FileSearch(const FileSearch &) = delete;
    FileSearch &operator=(const FileSearch &) = delete;

    bool First(const std::string &pathAndMask, SearchEntry &entry);
    bool Next(SearchEntry &entry);
    void Close();
    bool NothingMatched() const { return nothingMatched_; }

private:
    bool nothingMatched_ = false;
    void *handle_ = nullptr;
    std::string folder_;
    std::string mask_;
};

bool MatchesMask(const std::string &name, const std::string &mask);

// ---- temporary files ----
std::string TempDirectory();  // with a trailing separator
// Creates a new empty file named prefix + unique part + suffix in folder and
// returns it opened for reading and writing; path receives its full name.
FileHandle CreateUniqueFile(const std::string &folder, const std::string &prefix, const std::string &suffix,
                            std::string &path);

// ---- letter case ----
// An existing path whose components equal those of path ignoring letter case
// (the exact path first); empty when there is none.
std::string FindPathIgnoringCase(const std::string &path);

}  // namespace qv
