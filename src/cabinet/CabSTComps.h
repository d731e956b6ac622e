// The cabinet writer and reader components, their exception and the file
// callbacks they hand to the cabinet library.
//
// Paths on disk are UTF-8 with the platform's separator; names inside a
// cabinet always use "\".
#pragma once

#include "cabinet/CabIntf.h"
#include "platform/errors.h"
#include "platform/files.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qv {

// ---------------------------------------------------------------- errors

class ESTCabinet : public Exception {
public:
    ESTCabinet(const cab::ERF &erf, bool isFCI);
    // detail, when not empty, follows the code in brackets: what the library
    // refused, such as the compression method of a folder.
    ESTCabinet(const cab::ERF &erf, bool isFCI, const std::string &detail);
    // A refusal of the component itself, shown as text [0xCODE] and, with an
    // OS code, the system's message.
    ESTCabinet(const std::string &text, int errorCode, int systemErrorCode, bool isFCI);

    int ErrorCode() const { return errorCode_; }
    int SystemErrorCode() const { return systemErrorCode_; }
    bool HasError() const { return hasError_; }
    bool IsFCI() const { return isFCI_; }
    // The source file whose adding failed, when the failure is that file's;
    // empty otherwise.
    const std::string &FileName() const { return fileName_; }
    void SetFileName(const std::string &name) { fileName_ = name; }

    static std::string ComposeMessage(const std::string &text, int errorCode, bool hasError, int systemErrorCode,
                                      const std::string &detail = {});

private:
    int errorCode_;
    int systemErrorCode_;
    bool hasError_;
    bool isFCI_;
    std::string fileName_;
};

void CheckFCI(bool ok, const cab::ERF &erf);
void CheckFDI(bool ok, cab::ERF &erf);
// The same, naming the compression method of a folder the reader context
// refused.
void CheckFDI(bool ok, cab::ERF &erf, cab::HFDI context);
// A refusal of the components' own callbacks explains a failed library call
// better than the library's generic error: it is raised first, and forgotten.
void RaisePending(std::optional<ESTCabinet> &pending);

// The last non-zero OS error met by a reader-variant file callback.
extern thread_local int LastFDIIOError;

// Joins paths with exactly one separator between non-empty parts.
std::string JoinPathWith(char delim, std::initializer_list<std::string> parts);
// Paths of the file system: where "/" is a delimiter too (Windows), a part
// ending or beginning with it counts as delimited.
std::string JoinPath(std::initializer_list<std::string> parts);
// Names inside a cabinet, which know only "\".
inline std::string JoinCabName(std::initializer_list<std::string> parts) { return JoinPathWith('\\', parts); }

// ---------------------------------------------------------------- callbacks

void *CabAlloc(cab::ULONG cb);
void CabFree(void *memory);
// Writer variants: the OS error of a failure goes to *err.
cab::INT_PTR CabOpen(char *pszFile, int oflag, int pmode, int *err, void *pv);
cab::UINT CabRead(cab::INT_PTR hf, void *memory, cab::UINT cb, int *err, void *pv);
cab::UINT CabWrite(cab::INT_PTR hf, void *memory, cab::UINT cb, int *err, void *pv);
int CabClose(cab::INT_PTR hf, int *err, void *pv);
cab::LONG CabSeek(cab::INT_PTR hf, cab::LONG dist, int seektype, int *err, void *pv);
int CabDelete(char *pszFile, int *err, void *pv);
cab::BOOL CabGetTempFile(char *pszTempName, int cbTempName, void *pv);
cab::INT_PTR CabGetOpenInfo(char *pszName, cab::USHORT *pdate, cab::USHORT *ptime, cab::USHORT *pattribs, int *err,
                            void *pv);
// Reader variants: the OS error of a failure goes to LastFDIIOError.
cab::INT_PTR CabOpen(char *pszFile, int oflag, int pmode);
cab::UINT CabRead(cab::INT_PTR hf, void *pv, cab::UINT cb);
cab::UINT CabWrite(cab::INT_PTR hf, void *pv, cab::UINT cb);
int CabClose(cab::INT_PTR hf);
cab::LONG CabSeek(cab::INT_PTR hf, cab::LONG dist, int seektype);
// Sets an extracted file's times and attributes; failures are not reported.
void CabSetFileInfo(const std::string &name, cab::USHORT date, cab::USHORT time, cab::USHORT attribs);

// ---------------------------------------------------------------- writer

enum TSTCabCompressionType : std::uint8_t { cctNone, cctMsZip, cctLzx };
using TSTCabLzxLevel = std::uint8_t;  // 15..21

class TSTCabWriter;

using TSTCabWriterFilePlacedEvent = std::function<void(TSTCabWriter &Sender, const cab::CCAB &aCCab,
                                                       const std::string &aFileName, std::int32_t aFileSize,
                                                       bool aContinuation, bool &anAbort)>;
using TSTCabWriterGetNextCabinetEvent =
    std::function<void(TSTCabWriter &Sender, cab::CCAB &aCCab, std::uint32_t aPrevCabSize, bool &anAbort)>;
using TSTCabWriterFileStatusEvent = std::function<void(TSTCabWriter &Sender, std::uint32_t aCompressedBlockSize,
                                                       std::uint32_t anUncompressedBlockSize, bool &anAbort)>;
using TSTCabWriterFolderStatusEvent =
    std::function<void(TSTCabWriter &Sender, std::uint32_t aCopiedSize, std::uint32_t aTotalSize, bool &anAbort)>;
using TSTCabWriterCabinetStatusEvent =
    std::function<void(TSTCabWriter &Sender, std::uint32_t aPrevEstimatedSize, std::uint32_t anActualSize,
                       std::uint32_t &aDesiredSize, bool &anAbort)>;
using TSTCabWriterProgressEvent = std::function<void(TSTCabWriter &Sender, bool &anAbort)>;
using TSTCabWriterBeforeFileAddEvent =
    std::function<void(TSTCabWriter &Sender, const std::string &aFileName, bool &aSkip)>;

// Why AddFiles left a folder entry out.
enum TSTCabSkipReason {
    csrNotRegularFile,  // a FIFO, socket or device: opening it could block for good
    csrBrokenLink,      // a symbolic link to nothing
};
using TSTCabWriterFileSkippedEvent =
    std::function<void(TSTCabWriter &Sender, const std::string &aFileName, TSTCabSkipReason aReason)>;

// A cabinet of the set just completed, still under its temporary name.
struct TSTCabCompletedCabinet {
    std::string FileName;      // where it goes
    std::string TempFileName;  // where it is now, complete and flushed to disk
};
using TSTCabWriterCabinetsCompleteEvent = std::function<void(
    TSTCabWriter &Sender, const std::vector<TSTCabCompletedCabinet> &aCabinets, bool &anAbort)>;

class TSTCabWriter {
public:
    TSTCabWriter();
    ~TSTCabWriter();
    TSTCabWriter(const TSTCabWriter &) = delete;
    TSTCabWriter &operator=(const TSTCabWriter &) = delete;

    std::uint32_t CabinetSizeThreshold = 0;
    std::uint32_t CabinetFileCountThreshold = 0;
    std::uint32_t FolderSizeThreshold = 0;
    std::uint32_t FolderFileCountThreshold = 0;
    std::uint32_t ReservePerCabinetSize = 0;
    std::uint32_t ReservePerFolderSize = 0;
    std::uint32_t ReservePerDataSize = 0;
    std::uint16_t SetID = 0;
    std::string CabinetNameTemplate;
    std::string CabinetPathTemplate;
    std::string DiskLabelTemplate;

    TSTCabCompressionType CompressionType() const { return compressionType_; }
    void SetCompressionType(TSTCabCompressionType value);
    TSTCabLzxLevel CompressionLzxLevel() const { return lzxLevel_; }
    void SetCompressionLzxLevel(TSTCabLzxLevel value);
    cab::TCOMP CompressionCode() const { return compressionCode_; }

    TSTCabWriterFilePlacedEvent OnFilePlaced;
    TSTCabWriterGetNextCabinetEvent OnGetNextCabinet;
    TSTCabWriterFileStatusEvent OnFileStatus;
    TSTCabWriterFolderStatusEvent OnFolderStatus;
    TSTCabWriterCabinetStatusEvent OnCabinetStatus;
    TSTCabWriterProgressEvent OnProgress;
    TSTCabWriterBeforeFileAddEvent OnBeforeFileAdd;
    // AddFiles met an entry that is neither a folder nor a regular file.
    TSTCabWriterFileSkippedEvent OnFileSkipped;
    // The set is complete (FlushCabinet with false, Close with true), in
    // order, before any of its cabinets replaces a file: the place to read
    // it back. anAbort, or an exception, discards the whole set and leaves
    // every earlier file as it was.
    TSTCabWriterCabinetsCompleteEvent OnCabinetsComplete;
    // Runs the steps that wait on the disk (flushing a finished cabinet,
    // renaming the set into place); the owner may run them on another thread
    // while its windows stay alive. Unset: they run in place.
    std::function<void(const std::function<void()> &aWork)> OnBlockingCall;

    void Open(const std::string &aCabFileName);
    void AddFile(const std::string &aSrcFileName, const std::string &aFileNameInCab, bool anExecute = false);
    void AddFiles(const std::string &aFileMask, const std::string &aCabDir, bool aRecursive);
    void FlushFolder();
    void FlushCabinet(bool aGetNextCab);
    void NextCabinet() { FlushCabinet(true); }
    void Close(bool aFlush);

    bool IsOpen() const { return context_ != nullptr; }
    const cab::CCAB &CCab() const { return ccab_; }
    std::uint32_t FilesInCabinet() const { return filesInCabinet_; }
    std::uint32_t FilesInFolder() const { return filesInFolder_; }

    // Names from the templates.
    std::string CabinetFileName(int n) const;
    std::string CabinetFolder(int n) const;
    std::string DiskLabel(int n) const;

private:
    struct CabTemp {
        std::string target;  // full path of the cabinet
        std::string temp;    // where it is written until the set is complete
        FileHandle handle = InvalidFileHandle;
    };

    void requireOpen() const;
    void checkFCI(bool ok);
    void walk(const std::string &folder, const std::string &mask, const std::string &prefix, bool recursive);
    void releaseContext();
    void discardTemps();
    void discardCabinetTemps();
    void finishSet();
    void commitTemps();
    void blocking(const std::function<void()> &work);
    bool isCabinetTarget(const std::string &fullPath) const;
    CabTemp *tempByTarget(const std::string &fullPath);
    CabTemp *tempByHandle(FileHandle h);
    void setPending(const ESTCabinet &e);

    static int cbFilePlaced(cab::PCCAB pccab, char *pszFile, cab::LONG cbFile, cab::BOOL fContinuation, void *pv);
    static cab::BOOL cbGetNextCabinet(cab::PCCAB pccab, cab::ULONG cbPrevCab, void *pv);
    static cab::LONG cbStatus(cab::UINT typeStatus, cab::ULONG cb1, cab::ULONG cb2, void *pv);
    static cab::INT_PTR cbOpen(char *pszFile, int oflag, int pmode, int *err, void *pv);
    static int cbClose(cab::INT_PTR hf, int *err, void *pv);
    static int cbDelete(char *pszFile, int *err, void *pv);
    static cab::BOOL cbGetTempFile(char *pszTempName, int cbTempName, void *pv);

    cab::HFCI context_ = nullptr;
    std::string cabFileName_;
    cab::TCOMP compressionCode_ = 0;
    cab::ERF erf_{};
    cab::CCAB ccab_{};
    std::uint32_t filesInCabinet_ = 0;
    std::uint32_t filesInFolder_ = 0;
    std::int32_t progressCountdown_ = 0;
    TSTCabCompressionType compressionType_ = cctLzx;
    TSTCabLzxLevel lzxLevel_ = 21;

    std::vector<std::string> targets_;    // cabinet paths of this run
    std::vector<CabTemp> cabTemps_;       // cabinets not yet renamed into place
    std::vector<std::string> committed_;  // cabinets renamed into place in this run
    std::vector<std::string> engineTemps_;
    std::optional<ESTCabinet> pending_;
};

// ---------------------------------------------------------------- reader

// croSkipUnreadableFolders: ExtractFiles and TestCabinet leave out the files
// of folders whose method the reader cannot decode (Quantum, unknown ones),
// reporting each to OnFileSkipped, and go on with the others; without it such
// a folder fails the run where its first file is met.
enum TSTCabReaderOption { croExecuteOnExtract, croDontOverwriteReadOnlyFiles, croSkipUnreadableFolders };
using TSTCabReaderOptions = std::set<TSTCabReaderOption>;

class TSTCabReader;
class UnreadableFiles;

// What TestCabinet read back.
struct TSTCabTestResult {
    std::uint32_t Cabinets = 0;  // cabinets of the set read
    std::uint32_t Files = 0;     // files read whole, each counted once
    std::uint64_t Bytes = 0;     // their bytes
};
using TSTCabReaderTestFileEvent = std::function<void(TSTCabReader &Sender, const std::string &aFileName,
                                                     std::int32_t aFileSize, bool &anAbort)>;

using TSTCabReaderCabinetInfoEvent =
    std::function<void(TSTCabReader &Sender, const std::string &aNextCabName, const std::string &aNextDiskName,
                       const std::string &aCabPath, std::uint16_t aSetID, std::uint16_t aCabNo, bool &anAbort)>;
using TSTCabReaderCopyFileEvent = std::function<void(
    TSTCabReader &Sender, const std::string &aSrcFileName, std::int32_t anUncompressedSize, std::uint16_t aDate,
    std::uint16_t aTime, std::uint16_t anAttrs, std::uint16_t aFolderNo, std::string &aDstFullFileName,
    bool &anAbort)>;
using TSTCabReaderCopyPartialFileEvent =
    std::function<void(TSTCabReader &Sender, const std::string &aSrcFileName, const std::string &aStartCabName,
                       const std::string &aStartDiskName, const std::string &aDstFullFileName, bool &anAbort)>;
using TSTCabReaderCloseFileEvent =
    std::function<void(TSTCabReader &Sender, const std::string &aSrcFileName, std::uint16_t aDate,
                       std::uint16_t aTime, std::uint16_t anAttrs, std::uint16_t aFolderNo, bool &anExec,
                       const std::string &aDstFullFileName, bool &anAbort)>;
using TSTCabReaderNextCabinetEvent =
    std::function<void(TSTCabReader &Sender, const std::string &aCabName, const std::string &aDiskName,
                       std::string &aCabPath, cab::FDIERROR anError, bool &anAbort)>;
using TSTCabReaderUnrecognizedNotifyEvent =
    std::function<void(TSTCabReader &Sender, cab::FDINOTIFICATIONTYPE aNotifyType, cab::FDINOTIFICATION &aNotify,
                       std::int32_t &aResult)>;
// A file left out under croSkipUnreadableFolders, with its folder's method.
using TSTCabReaderFileSkippedEvent = std::function<void(TSTCabReader &Sender, const std::string &aFileName,
                                                        std::int32_t aFileSize, cab::TCOMP aMethod)>;
using TSTCabReaderEnumFileEvent =
    std::function<void(TSTCabReader &Sender, const std::string &aFileName, std::int32_t anUncompressedSize,
                       std::uint16_t aFolderNo, std::uint16_t aDate, std::uint16_t aTime, std::uint16_t anAttrs,
                       bool &anAbort)>;

// Every kReaderProgressBytes written to an extracted file: the bytes of it
// written so far.
using TSTCabReaderProgressEvent =
    std::function<void(TSTCabReader &Sender, std::int64_t aWrittenOfFile, bool &anAbort)>;

using TSTCabReaderEnumFolderEvent = std::function<void(TSTCabReader &Sender, std::uint16_t aFolderNo,
                                                       cab::TCOMP aTypeCompress, std::uint16_t aDataBlocks,
                                                       bool &anAbort)>;

class TSTCabReader {
public:
    TSTCabReader();
    ~TSTCabReader();
    TSTCabReader(const TSTCabReader &) = delete;
    TSTCabReader &operator=(const TSTCabReader &) = delete;

    TSTCabReaderOptions Options;
    TSTCabReaderCabinetInfoEvent OnCabinetInfo;
    TSTCabReaderCopyFileEvent OnCopyFile;
    TSTCabReaderCopyPartialFileEvent OnCopyPartialFile;
    TSTCabReaderCloseFileEvent OnCloseFile;
    TSTCabReaderNextCabinetEvent OnNextCabinet;
    TSTCabReaderUnrecognizedNotifyEvent OnUnrecognizedNotify;
    // Keeps a caller's windows alive inside a large file; 1 MiB is a few
    // milliseconds of writing, and little enough that a call costs nothing.
    static constexpr std::int64_t kReaderProgressBytes = 1 << 20;
    TSTCabReaderProgressEvent OnProgress;
    TSTCabReaderFileSkippedEvent OnFileSkipped;

    bool IsCabinet(const std::string &aCabFileName, cab::FDICABINETINFO &aInfo);
    // Extracts the whole set aCabFileName belongs to, from its first cabinet
    // (FirstCabinetOfSet) through its last, whichever part was named; every
    // part must be there, a missing one is named ("Cabinet set incomplete:
    // S1.CAB not found"). With aSingleCabinet, only the files that begin in
    // aCabFileName (and their continuations); those begun in an earlier part
    // are reported to OnCopyPartialFile.
    void ExtractFiles(const std::string &aCabFileName, const std::string &aDestDir, bool aSingleCabinet);
    // The first cabinet of the set aCabFileName belongs to: the previous
    // cabinets its header names, in turn, each looked for in the folder of
    // the one naming it. Raises ESTCabinet naming a part that is missing or
    // that does not name the next one back, and when the links loop.
    static std::string FirstCabinetOfSet(const std::string &aCabFileName);
    // Calls back once per file entry of this one cabinet, entries of files
    // continued from or into other parts of its set included; false when the
    // file is not a cabinet.
    bool EnumerateFiles(const std::string &aCabFileName, const TSTCabReaderEnumFileEvent &aCallback);
    // Calls back once per folder entry of one cabinet with its index,
    // typeCompress and number of data blocks; false when the file is not a
    // cabinet.
    bool EnumerateFolders(const std::string &aCabFileName, const TSTCabReaderEnumFolderEvent &aCallback);

    // Reads a cabinet's whole set back and writes nothing: every data block
    // is checked against its checksum and decompressed, and every file must
    // come out at its stated size. Starts at the set's first cabinet and
    // needs every part, as ExtractFiles does; aOnFile hears of each file
    // once, when its last byte has been read. Raises ESTCabinet at the first
    // fault.
    TSTCabTestResult TestCabinet(const std::string &aCabFileName, const TSTCabReaderTestFileEvent &aOnFile = {});
    // The same for a set whose cabinets are not yet under the names they
    // carry: aCabFiles[i] is read where the set names its (i+1)-th cabinet,
    // and the set must end with the last of them.
    TSTCabTestResult TestCabinetSet(const std::vector<std::string> &aCabFiles,
                                    const TSTCabReaderTestFileEvent &aOnFile = {});

    // True for a name inside a cabinet that must never reach the disk as it
    // stands: absolute, with a drive, or with a "." or ".." component.
    static bool IsUnsafeEntryName(const std::string &name);

    // Under croSkipUnreadableFolders: true, once reported to OnFileSkipped,
    // for a file whose copy the library announces and whose folder cannot
    // be read. For ExtractFiles and TestCabinet.
    bool SkipsUnreadable(const cab::FDINOTIFICATION &aCopyFile);

private:
    struct OpenEntry {
        std::string name;  // inside the cabinet
        std::string dest;
        std::string temp;
        FileHandle handle = InvalidFileHandle;
    };

    void ensureContext();
    void findUnreadable(const std::string &firstCabinet);
    void checkFDI(bool ok);
    void discardOpen();
    cab::INT_PTR notify(cab::FDINOTIFICATIONTYPE fdint, cab::PFDINOTIFICATION pfdin);
    cab::INT_PTR copyFile(cab::PFDINOTIFICATION pfdin);
    cab::INT_PTR closeFile(cab::PFDINOTIFICATION pfdin);
    cab::INT_PTR nextCabinet(cab::PFDINOTIFICATION pfdin);
    static cab::INT_PTR cbNotify(cab::FDINOTIFICATIONTYPE fdint, cab::PFDINOTIFICATION pfdin);
    static cab::UINT cbWrite(cab::INT_PTR hf, void *pv, cab::UINT cb);

    cab::HFDI context_ = nullptr;
    std::string cabFileName_;
    std::string destDir_;
    std::string extractRoot_;  // destDir_ in absolute form: no destination leaves it
    std::string announcedNext_;
    std::string requestedNext_;
    bool nextRequested_ = false;
    cab::ERF erf_{};
    std::vector<OpenEntry> open_;  // FileNameList and DestNameList, with the temporary names
    std::int64_t writtenOfFile_ = 0;
    std::int64_t nextProgress_ = 0;
    std::optional<ESTCabinet> pending_;
    std::shared_ptr<UnreadableFiles> unreadable_;  // found before a walk under croSkipUnreadableFolders
};

// Name bytes as stored in a cabinet, as UTF-8: flagged UTF-8 names stand,
// others are Windows-1250.
std::string CabNameToUtf8(const char *raw, bool isUtf8);

}  // namespace qv
