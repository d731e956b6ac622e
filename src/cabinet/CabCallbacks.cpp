// ESTCabinet, the checks, JoinPath and the file callbacks shared by the
// writer and the reader.
#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"
#include "cabinet/cabformat.h"
#include "platform/tempfiles.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv {

thread_local int LastFDIIOError = 0;

// ---------------------------------------------------------------- ESTCabinet

namespace {

std::string hex4(int code)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(code));
    return buf;
}

std::string trimmedSystemMessage(int code)
{
    std::string m = SysErrorMessage(code);
    while (!m.empty()) {
        const unsigned char c = static_cast<unsigned char>(m.back());
        if (c == ' ' || c == '.' || c < 0x20 || c == 0x7F)
            m.pop_back();
        else
            break;
    }
    return m;
}

}  // namespace

std::string ESTCabinet::ComposeMessage(const std::string &text, int errorCode, bool hasError, int systemErrorCode,
                                       const std::string &detail)
{
    std::string msg = text + " [0x" + hex4(errorCode) + "]";
    if (!detail.empty())
        msg += " (" + detail + ")";
    if (hasError && systemErrorCode != 0)
        msg += ".\r\n" + trimmedSystemMessage(systemErrorCode) + " [0x" + hex4(systemErrorCode) + "].";
    return msg;
}

namespace {
std::string erfMessage(const cab::ERF &erf, bool isFCI, const std::string &detail = {})
{
    if (!erf.fError)
        return isFCI ? "FCI error" : "FDI error";
    return ESTCabinet::ComposeMessage(isFCI ? FCIErrorText(erf.erfOper) : FDIErrorText(erf.erfOper), erf.erfOper,
                                      true, erf.erfType, detail);
}
}  // namespace

ESTCabinet::ESTCabinet(const cab::ERF &erf, bool isFCI)
    : Exception(erfMessage(erf, isFCI)), errorCode_(erf.erfOper), systemErrorCode_(erf.erfType),
      hasError_(erf.fError != 0), isFCI_(isFCI)
{
}

ESTCabinet::ESTCabinet(const cab::ERF &erf, bool isFCI, const std::string &detail)
    : Exception(erfMessage(erf, isFCI, detail)), errorCode_(erf.erfOper), systemErrorCode_(erf.erfType),
      hasError_(erf.fError != 0), isFCI_(isFCI)
{
}

ESTCabinet::ESTCabinet(const std::string &text, int errorCode, int systemErrorCode, bool isFCI)
    : Exception(ComposeMessage(text, errorCode, true, systemErrorCode)), errorCode_(errorCode),
      systemErrorCode_(systemErrorCode), hasError_(true), isFCI_(isFCI)
{
}

void CheckFCI(bool ok, const cab::ERF &erf)
{
    if (!ok)
        throw ESTCabinet(erf, true);
}

void RaisePending(std::optional<ESTCabinet> &pending)
{
    if (!pending)
        return;
    ESTCabinet e = *pending;
    pending.reset();
    throw e;
}

void CheckFDI(bool ok, cab::ERF &erf)
{
    if (ok)
        return;
    erf.erfType = LastFDIIOError;
    throw ESTCabinet(erf, false);
}

void CheckFDI(bool ok, cab::ERF &erf, cab::HFDI context)
{
    if (ok)
        return;
    erf.erfType = LastFDIIOError;
    cab::TCOMP refused = 0;
    if (erf.fError && erf.erfOper == cab::FDIERROR_BAD_COMPR_TYPE && context &&
        CabIntf::FDIGetRefusedCompression(context, &refused))
        throw ESTCabinet(erf, false, CompressionRefusalText(refused));
    throw ESTCabinet(erf, false);
}

// ---------------------------------------------------------------- JoinPath

namespace {

template <typename IsDelim>
std::string joinParts(char delim, IsDelim isDelim, std::initializer_list<std::string> parts)
{
    std::string result;
    bool first = true;
    for (const std::string &part : parts) {
        if (part.empty())
            continue;
        if (first) {
            result = part;
            first = false;
            continue;
        }
        const bool endsWith = !result.empty() && isDelim(result.back());
        const bool beginsWith = isDelim(part.front());
        if (endsWith && beginsWith)
            result.pop_back();
        else if (!endsWith && !beginsWith)
            result += delim;
        result += part;
    }
    return result;
}

}  // namespace

std::string JoinPathWith(char delim, std::initializer_list<std::string> parts)
{
    return joinParts(delim, [delim](char c) { return c == delim; }, parts);
}

std::string JoinPath(std::initializer_list<std::string> parts)
{
    return joinParts(PathDelim, [](char c) { return IsPathDelimiter(c); }, parts);
}

// ---------------------------------------------------------------- names

std::string CabNameToUtf8(const char *raw, bool isUtf8)
{
    if (!raw)
        return {};
    const std::size_t n = std::strlen(raw);
    if (isUtf8)
        return std::string(raw, n);
    bool ascii = true;
    for (std::size_t i = 0; i < n && ascii; ++i)
        ascii = static_cast<unsigned char>(raw[i]) < 0x80;
    if (ascii)
        return std::string(raw, n);
    return Cp1250ToUtf8(std::string_view(raw, n));
}

// ---------------------------------------------------------------- callbacks

void *CabAlloc(cab::ULONG cb) { return std::malloc(cb ? cb : 1); }

void CabFree(void *memory) { std::free(memory); }

namespace {

// Maps the C run-time open flags onto the file layer; on failure the OS
// code is left in *err and -1 returned.
cab::INT_PTR openMapped(const char *name, int oflag, int &err)
{
    using namespace cab;
    const int mode = oflag & 3;
    const FileAccess access = mode == 0 ? FileAccess::Read : mode == 1 ? FileAccess::Write : FileAccess::ReadWrite;
    FileDisposition disp;
    if ((oflag & _O_EXCL) && (oflag & _O_CREAT))
        disp = FileDisposition::CreateNew;
    else if ((oflag & _O_TRUNC) && (oflag & _O_CREAT))
        disp = FileDisposition::CreateAlways;
    else if (oflag & _O_TRUNC)
        disp = FileDisposition::TruncateExisting;
    else if (oflag & _O_CREAT)
        disp = FileDisposition::OpenAlways;
    else
        disp = FileDisposition::OpenExisting;
    unsigned hints = fhNone;
    if ((oflag & _O_SHORT_LIVED) && (oflag & _O_CREAT))
        hints |= fhTemporary;
    if (oflag & _O_RANDOM)
        hints |= fhRandom;
    if (oflag & _O_SEQUENTIAL)
        hints |= fhSequential;
    if ((oflag & _O_TEMPORARY) && (oflag & _O_CREAT))
        hints |= fhDeleteOnClose;
    const FileHandle h = FileOpen(name ? name : "", access, FileShare::Read, disp, hints);
    if (h == InvalidFileHandle) {
        err = LastOSError();
        return -1;
    }
    if ((oflag & _O_APPEND) && FileSeek(h, 0, 2) < 0) {
        err = LastOSError();
        FileClose(h);
        return -1;
    }
    err = 0;
    return h;
}

cab::LONG seekMapped(cab::INT_PTR hf, cab::LONG dist, int seektype, int &err)
{
    const std::int64_t pos = FileSeek(hf, dist, seektype);
    if (pos < 0) {
        err = LastOSError();
        return -1;
    }
    if (pos > 0x7FFFFFFF) {
        err = EOVERFLOW;
        return -1;
    }
    err = 0;
    return static_cast<cab::LONG>(pos);
}

void noteFDI(int err)
{
    if (err != 0)
        LastFDIIOError = err;
}

}  // namespace

cab::INT_PTR CabOpen(char *pszFile, int oflag, int, int *err, void *)
{
    int e = 0;
    const cab::INT_PTR h = openMapped(pszFile, oflag, e);
    if (h == -1 && err)
        *err = e;
    return h;
}

cab::UINT CabRead(cab::INT_PTR hf, void *memory, cab::UINT cb, int *err, void *)
{
    const std::int64_t n = FileRead(hf, memory, cb);
    if (n < 0) {
        if (err)
            *err = LastOSError();
        return static_cast<cab::UINT>(-1);
    }
    return static_cast<cab::UINT>(n);
}

cab::UINT CabWrite(cab::INT_PTR hf, void *memory, cab::UINT cb, int *err, void *)
{
    const std::int64_t n = FileWrite(hf, memory, cb);
    if (n < 0) {
        if (err)
            *err = LastOSError();
        return static_cast<cab::UINT>(-1);
    }
    return static_cast<cab::UINT>(n);
}

int CabClose(cab::INT_PTR hf, int *err, void *)
{
    if (FileClose(hf))
        return 0;
    if (err)
        *err = LastOSError();
    return -1;
}

cab::LONG CabSeek(cab::INT_PTR hf, cab::LONG dist, int seektype, int *err, void *)
{
    int e = 0;
    const cab::LONG pos = seekMapped(hf, dist, seektype, e);
    if (pos < 0 && err)
        *err = e;
    return pos;
}

int CabDelete(char *pszFile, int *err, void *)
{
    if (FileDelete(pszFile ? pszFile : ""))
        return 0;
    if (err)
        *err = LastOSError();
    return -1;
}

cab::BOOL CabGetTempFile(char *pszTempName, int cbTempName, void *)
{
    const std::string dir = TempDirectory();
    if (dir.empty() || dir.size() > 260)
        return 0;
    std::string path;
    // Named with this process's number, so that a later run can remove it
    // should this one be killed.
    const FileHandle h = CreateOwnTempFile(dir, "stc", path);
    if (h == InvalidFileHandle)
        return 0;
    FileClose(h);
    if (path.size() >= static_cast<std::size_t>(cbTempName > 0 ? cbTempName : 0)) {
        FileDelete(path);
        return 0;
    }
    std::memcpy(pszTempName, path.c_str(), path.size() + 1);
    // The library creates it again through the open callback.
    FileDelete(path);
    return 1;
}

cab::INT_PTR CabGetOpenInfo(char *pszName, cab::USHORT *pdate, cab::USHORT *ptime, cab::USHORT *pattribs, int *err,
                            void *pv)
{
    const std::string name = pszName ? pszName : "";
    const FileHandle h = FileOpen(name, FileAccess::Read, FileShare::Read, FileDisposition::OpenExisting, fhSequential);
    if (h == InvalidFileHandle) {
        if (err)
            *err = LastOSError();
        return -1;
    }
    FileTime lastWrite = 0;
    const std::uint32_t attrs = FileGetAttributes(name);
    const std::int64_t size = FileSeek(h, 0, 2);
    if (!FileGetTimes(h, nullptr, nullptr, &lastWrite) || attrs == InvalidFileAttributes || size < 0) {
        if (err)
            *err = LastOSError();
        FileClose(h);
        return -1;
    }
    // The format cannot hold it; said here, the refusal carries a reason the
    // user can read instead of the library's bare format limit.
    if (size > cab::detail::kMaxFileSize) {
        if (err)
            *err = osErrorFileTooLarge;
        FileClose(h);
        return -1;
    }
    FileTime local = lastWrite;
    std::uint16_t date = 0, time = 0;
    if (!FileTimeToLocalFileTime(lastWrite, local) || !FileTimeToDosDateTime(local, date, time)) {
        // No DOS form: the nearest end of the DOS range.
        if (FileTimeToUnix(local) < 315532800) {  // before 1980-01-01
            date = (0 << 9) | (1 << 5) | 1;
            time = 0;
        } else {
            date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
            time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
        }
    }
    if (pdate)
        *pdate = date;
    if (ptime)
        *ptime = time;
    if (pattribs)
        *pattribs = static_cast<cab::USHORT>(attrs & 0x27);
    FileClose(h);
    return CabOpen(pszName, cab::_O_BINARY, 0, err, pv);
}

cab::INT_PTR CabOpen(char *pszFile, int oflag, int)
{
    int e = 0;
    const cab::INT_PTR h = openMapped(pszFile, oflag, e);
    if (h == -1)
        noteFDI(e);
    return h;
}

cab::UINT CabRead(cab::INT_PTR hf, void *pv, cab::UINT cb)
{
    const std::int64_t n = FileRead(hf, pv, cb);
    if (n < 0) {
        noteFDI(LastOSError());
        return static_cast<cab::UINT>(-1);
    }
    return static_cast<cab::UINT>(n);
}

cab::UINT CabWrite(cab::INT_PTR hf, void *pv, cab::UINT cb)
{
    const std::int64_t n = FileWrite(hf, pv, cb);
    if (n < 0) {
        noteFDI(LastOSError());
        return static_cast<cab::UINT>(-1);
    }
    return static_cast<cab::UINT>(n);
}

int CabClose(cab::INT_PTR hf)
{
    if (FileClose(hf))
        return 0;
    noteFDI(LastOSError());
    return -1;
}

cab::LONG CabSeek(cab::INT_PTR hf, cab::LONG dist, int seektype)
{
    int e = 0;
    const cab::LONG pos = seekMapped(hf, dist, seektype, e);
    if (pos < 0)
        noteFDI(e);
    return pos;
}

void CabSetFileInfo(const std::string &name, cab::USHORT date, cab::USHORT time, cab::USHORT attribs)
{
    const FileHandle h =
        FileOpen(name, FileAccess::ReadWrite, FileShare::Read, FileDisposition::OpenExisting, fhSequential);
    if (h == InvalidFileHandle)
        return;
    FileTime local, utc;
    if (DosDateTimeToFileTime(date, time, local) && LocalFileTimeToFileTime(local, utc))
        FileSetTimes(h, &utc, nullptr, &utc);
    FileClose(h);
    FileSetAttributes(name, attribs & 0x27u);
}

}  // namespace qv
