// TSTCabWriter: builds a cabinet, or a set of them, through the library.
//
// Every cabinet is written under a temporary name beside its target and
// flushed to disk as it is closed. The cabinets of a set stay under those
// names until the whole set is complete; then OnCabinetsComplete may read
// them back, and only after that are they renamed over their targets,
// together, and the folder entries flushed. A failed, stopped or refused run
// thus never costs the archive that was there before, and a set on disk is
// never part old and part new because a later cabinet failed.
#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"
#include "platform/tempfiles.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qv {

namespace {

constexpr std::uint32_t kMaxSize = 2147483647u;

std::string replaceStar(const std::string &tmpl, int n)
{
    std::string out;
    const std::string num = std::to_string(n);
    for (char c : tmpl) {
        if (c == '*')
            out += num;
        else
            out += c;
    }
    return out;
}

// Copies into a 256-byte descriptor field; false when it does not fit.
bool putField(char (&field)[256], const std::string &value)
{
    if (value.size() > 255 || value.find('\0') != std::string::npos)
        return false;
    std::memcpy(field, value.c_str(), value.size() + 1);
    return true;
}

std::string withTrailingDelim(std::string folder)
{
    if (!folder.empty() && !IsPathDelimiter(folder.back()))
        folder += PathDelim;
    return folder;
}

// Letter case aside (Polish letters too), then byte order.
bool nameOrderLess(const std::string &a, const std::string &b)
{
    const std::u32string x = DecodeUtf8(a), y = DecodeUtf8(b);
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t cx = FoldCase(x[i]), cy = FoldCase(y[i]);
        if (cx != cy)
            return cx < cy;
    }
    return x.size() != y.size() ? x.size() < y.size() : a < b;
}

bool samePath(const std::string &a, const std::string &b)
{
#ifdef _WIN32
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y)); });
#else
    return a == b;
#endif
}

}  // namespace

TSTCabWriter::TSTCabWriter() { SetCompressionType(cctLzx); }

TSTCabWriter::~TSTCabWriter()
{
    try {
        Close(false);
    } catch (...) {
        // A destructor cannot report; the context is released regardless.
    }
    discardTemps();
}

void TSTCabWriter::SetCompressionType(TSTCabCompressionType value)
{
    compressionType_ = value;
    switch (compressionType_) {
    case cctNone: compressionCode_ = cab::tcompTYPE_NONE; break;
    case cctMsZip: compressionCode_ = cab::tcompTYPE_MSZIP; break;
    case cctLzx: compressionCode_ = static_cast<cab::TCOMP>(lzxLevel_ * 256 + 3); break;
    default: compressionCode_ = cab::tcompBAD; break;
    }
}

void TSTCabWriter::SetCompressionLzxLevel(TSTCabLzxLevel value)
{
    lzxLevel_ = value;
    SetCompressionType(compressionType_);
}

std::string TSTCabWriter::CabinetFileName(int n) const
{
    if (!CabinetNameTemplate.empty())
        return replaceStar(CabinetNameTemplate, n);
    const std::string first = ExtractFileName(cabFileName_);
    const std::size_t dot = first.rfind('.');
    const std::string tmpl = dot == std::string::npos ? first + "*" : first.substr(0, dot) + "*" + first.substr(dot);
    return replaceStar(tmpl, n);
}

std::string TSTCabWriter::CabinetFolder(int n) const
{
    const std::string folder =
        CabinetPathTemplate.empty() ? ExtractFilePath(cabFileName_) : replaceStar(CabinetPathTemplate, n);
    return withTrailingDelim(folder);
}

std::string TSTCabWriter::DiskLabel(int n) const
{
    return replaceStar(DiskLabelTemplate.empty() ? std::string("Disk*") : DiskLabelTemplate, n);
}

void TSTCabWriter::requireOpen() const
{
    if (!context_)
        throw ESTCabinet(sCabWriterClosed, cab::FCIERR_NONE, 0, true);
}

void TSTCabWriter::setPending(const ESTCabinet &e)
{
    if (!pending_)
        pending_ = e;
}

void TSTCabWriter::checkFCI(bool ok)
{
    RaisePending(pending_);
    CheckFCI(ok, erf_);
}

void TSTCabWriter::Open(const std::string &aCabFileName)
{
    Close(false);
    cabFileName_ = ExpandFileName(aCabFileName);
    erf_ = {};
    ccab_ = {};
    pending_.reset();
    targets_.clear();
    committed_.clear();
    ccab_.cb = CabinetSizeThreshold ? CabinetSizeThreshold : kMaxSize;
    ccab_.cbFolderThresh = FolderSizeThreshold ? FolderSizeThreshold : kMaxSize;
    ccab_.cbReserveCFHeader = ReservePerCabinetSize;
    ccab_.cbReserveCFFolder = ReservePerFolderSize;
    ccab_.cbReserveCFData = ReservePerDataSize;
    ccab_.iDisk = 1;
    ccab_.setID = SetID;
    const std::string label = DiskLabel(1), name = ExtractFileName(cabFileName_),
                      folder = ExtractFilePath(cabFileName_);
    if (!putField(ccab_.szDisk, label))
        throw ESTCabinet(FormatText(sCabNameTooLong, label), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true);
    if (name.empty() || !putField(ccab_.szCab, name))
        throw ESTCabinet(FormatText(sCabNameTooLong, name), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true);
    if (!putField(ccab_.szCabPath, folder))
        throw ESTCabinet(FormatText(sCabNameTooLong, folder), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true);

    if (OnGetNextCabinet) {
        bool abort = false;
        OnGetNextCabinet(*this, ccab_, 0, abort);
        if (abort)
            return;
    }
    ccab_.szDisk[255] = ccab_.szCab[255] = ccab_.szCabPath[255] = 0;
    const std::string cabFolder = withTrailingDelim(ccab_.szCabPath);
    if (!putField(ccab_.szCabPath, cabFolder))
        throw ESTCabinet(FormatText(sCabNameTooLong, cabFolder), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true);
    if (!ForceDirectories(cabFolder))
        RaiseLastOSError();
    // The existing cabinet stays until its replacement is complete.
    targets_.push_back(ExpandFileName(JoinPath({cabFolder, ccab_.szCab})));

    filesInCabinet_ = filesInFolder_ = 0;
    progressCountdown_ = 0;
    context_ = CabIntf::FCICreate(&erf_, cbFilePlaced, CabAlloc, CabFree, cbOpen, CabRead, CabWrite, cbClose,
                                  CabSeek, cbDelete, cbGetTempFile, &ccab_, this);
    if (!context_)
        discardTemps();
    checkFCI(context_ != nullptr);
}

void TSTCabWriter::AddFile(const std::string &aSrcFileName, const std::string &aFileNameInCab, bool anExecute)
{
    requireOpen();
    if (OnBeforeFileAdd) {
        bool skip = false;
        OnBeforeFileAdd(*this, aSrcFileName, skip);
        if (skip)
            return;
    }
    if (CabinetFileCountThreshold != 0 && filesInCabinet_ >= CabinetFileCountThreshold)
        NextCabinet();
    else if (FolderFileCountThreshold != 0 && filesInFolder_ >= FolderFileCountThreshold)
        FlushFolder();

    std::string name = aFileNameInCab;
    if (!name.empty() && name[0] == '\\')
        name.erase(0, 1);
    if (name.size() > 255 || name.find('\0') != std::string::npos) {
        ESTCabinet e(FormatText(sCabNameTooLong, name), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true);
        e.SetFileName(aSrcFileName);
        throw e;
    }
    std::string src = aSrcFileName;
    pending_.reset();
    const cab::BOOL ok = CabIntf::FCIAddFile(context_, src.data(), name.data(), anExecute ? 1 : 0,
                                             cbGetNextCabinet, cbStatus, CabGetOpenInfo, compressionCode_);
    try {
        checkFCI(ok != 0);
    } catch (ESTCabinet &e) {
        // The caller can then say which file failed. A STOP is nobody's
        // fault, and a full temporary folder or cabinet is not the file's.
        const int code = e.ErrorCode();
        if (code == cab::FCIERR_OPEN_SRC || code == cab::FCIERR_READ_SRC || code == cab::FCIERR_CAB_FORMAT_LIMIT)
            e.SetFileName(aSrcFileName);
        throw;
    }
    ++filesInCabinet_;
    ++filesInFolder_;
}

void TSTCabWriter::AddFiles(const std::string &aFileMask, const std::string &aCabDir, bool aRecursive)
{
    requireOpen();
    const std::string folder = ExtractFilePath(aFileMask);
    walk(folder, aFileMask.substr(folder.size()), aCabDir, aRecursive);
}

// Each folder's files go in in name order (letter case aside, then byte
// order), whatever order the file system lists them in: the same folder
// always gives the same cabinet, and files of one kind tend to sit side by
// side, which LZX's 2 MiB window turns into size. Measured on a flat folder
// of 63 MB of binaries, documents, translations and headers: LZX 0.825 x our
// MSZIP size in name order against 0.877 in the order the file system gave.
void TSTCabWriter::walk(const std::string &folder, const std::string &mask, const std::string &prefix,
                        bool recursive)
{
    auto listed = [&](const std::string &pattern) {
        std::vector<SearchEntry> entries;
        FileSearch search;
        SearchEntry e;
        if (search.First(JoinPath({folder, pattern}), e)) {
            do
                entries.push_back(e);
            while (search.Next(e));
            if (LastOSError() != osErrorNoMoreFiles)
                RaiseLastOSError();
        } else if (!search.NothingMatched()) {
            RaiseLastOSError();
        }
        std::sort(entries.begin(), entries.end(),
                  [](const SearchEntry &a, const SearchEntry &b) { return nameOrderLess(a.name, b.name); });
        return entries;
    };
    for (const SearchEntry &e : listed(mask)) {
        if (e.attributes & faDirectory)
            continue;
        const std::string source = JoinPath({folder, e.name});
        if (!e.regular) {
            if (OnFileSkipped)
                OnFileSkipped(*this, source, e.linkLeadsNowhere ? csrBrokenLink : csrNotRegularFile);
            continue;
        }
        AddFile(source, JoinCabName({prefix, e.name}), false);
    }
    if (!recursive)
        return;
    for (const SearchEntry &e : listed("*"))
        if ((e.attributes & faDirectory) && e.name != "." && e.name != "..")
            walk(JoinPath({folder, e.name}), mask, JoinCabName({prefix, e.name}), true);
}

void TSTCabWriter::FlushFolder()
{
    requireOpen();
    pending_.reset();
    checkFCI(CabIntf::FCIFlushFolder(context_, cbGetNextCabinet, cbStatus) != 0);
    filesInFolder_ = 0;
}

void TSTCabWriter::FlushCabinet(bool aGetNextCab)
{
    requireOpen();
    pending_.reset();
    checkFCI(CabIntf::FCIFlushCabinet(context_, aGetNextCab ? 1 : 0, cbGetNextCabinet, cbStatus) != 0);
    filesInCabinet_ = filesInFolder_ = 0;
    if (!aGetNextCab)
        finishSet();
}

void TSTCabWriter::Close(bool aFlush)
{
    if (!context_)
        return;
    if (aFlush)
        FlushCabinet(false);
    releaseContext();
}

void TSTCabWriter::releaseContext()
{
    const cab::HFCI ctx = context_;
    context_ = nullptr;
    const bool ok = CabIntf::FCIDestroy(ctx) != 0;
    discardTemps();
    CheckFCI(ok, erf_);
}

// Whatever is left unfinished goes: open cabinet files are closed, and no
// temporary name survives the context.
void TSTCabWriter::discardTemps()
{
    discardCabinetTemps();
    for (const std::string &t : engineTemps_)
        if (FileExists(t))
            FileDelete(t);
    engineTemps_.clear();
}

void TSTCabWriter::discardCabinetTemps()
{
    for (CabTemp &t : cabTemps_) {
        if (t.handle != InvalidFileHandle)
            FileClose(t.handle);
        FileDelete(t.temp);
    }
    cabTemps_.clear();
}

bool TSTCabWriter::isCabinetTarget(const std::string &fullPath) const
{
    for (const std::string &t : targets_)
        if (samePath(t, fullPath))
            return true;
    return false;
}

TSTCabWriter::CabTemp *TSTCabWriter::tempByTarget(const std::string &fullPath)
{
    for (CabTemp &t : cabTemps_)
        if (samePath(t.target, fullPath))
            return &t;
    return nullptr;
}

TSTCabWriter::CabTemp *TSTCabWriter::tempByHandle(FileHandle h)
{
    for (CabTemp &t : cabTemps_)
        if (t.handle == h)
            return &t;
    return nullptr;
}

// The set is complete: it is offered for checking, then takes its place.
void TSTCabWriter::finishSet()
{
    if (cabTemps_.empty())
        return;  // nothing written since the last set
    std::vector<TSTCabCompletedCabinet> cabinets;
    for (const CabTemp &t : cabTemps_) {
        if (t.handle != InvalidFileHandle) {  // the library never closed it: not known to be whole
            discardCabinetTemps();
            throw ESTCabinet(FCIErrorText(cab::FCIERR_CAB_FILE), cab::FCIERR_CAB_FILE, 0, true);
        }
        cabinets.push_back({t.target, t.temp});
    }
    bool abort = false;
    if (OnCabinetsComplete) {
        try {
            OnCabinetsComplete(*this, cabinets, abort);
        } catch (...) {
            discardCabinetTemps();
            throw;
        }
    }
    if (abort) {
        discardCabinetTemps();
        throw ESTCabinet(FCIErrorText(cab::FCIERR_USER_ABORT), cab::FCIERR_USER_ABORT, 0, true);
    }
    blocking([this] { commitTemps(); });
}

void TSTCabWriter::blocking(const std::function<void()> &work)
{
    if (OnBlockingCall)
        OnBlockingCall(work);
    else
        work();
}

// Renames every cabinet of the set over its target (their data reached the
// disk when they were closed), then makes the new folder entries durable.
void TSTCabWriter::commitTemps()
{
    std::vector<std::string> folders;
    while (!cabTemps_.empty()) {
        const CabTemp t = cabTemps_.front();
        if (!FileRename(t.temp, t.target)) {
            const int e = LastOSError();
            discardCabinetTemps();
            throw ESTCabinet(FCIErrorText(cab::FCIERR_CAB_FILE), cab::FCIERR_CAB_FILE, e, true);
        }
        cabTemps_.erase(cabTemps_.begin());
        committed_.push_back(t.target);
        const std::string folder = ExtractFilePath(t.target);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    // The cabinets already stand under their names: a folder that cannot be
    // flushed (one we may not read, say) does not turn the set into a failure.
    for (const std::string &folder : folders)
        FlushDirectory(folder);
}

// ---------------------------------------------------------------- callbacks

int TSTCabWriter::cbFilePlaced(cab::PCCAB pccab, char *pszFile, cab::LONG cbFile, cab::BOOL fContinuation, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    bool abort = false;
    if (self->OnFilePlaced)
        self->OnFilePlaced(*self, *pccab, pszFile ? pszFile : "", cbFile, fContinuation != 0, abort);
    return abort ? -1 : 0;
}

cab::BOOL TSTCabWriter::cbGetNextCabinet(cab::PCCAB pccab, cab::ULONG cbPrevCab, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    pccab->iDisk += 1;
    const std::string label = self->DiskLabel(pccab->iDisk), name = self->CabinetFileName(pccab->iCab),
                      folder = self->CabinetFolder(pccab->iDisk);
    for (const std::string *v : {&label, &name, &folder}) {
        if (v->size() > 255) {
            self->setPending(ESTCabinet(FormatText(sCabNameTooLong, *v), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true));
            self->filesInCabinet_ = self->filesInFolder_ = 0;
            return 0;
        }
    }
    putField(pccab->szDisk, label);
    putField(pccab->szCab, name);
    putField(pccab->szCabPath, folder);
    bool abort = false;
    if (self->OnGetNextCabinet)
        self->OnGetNextCabinet(*self, *pccab, cbPrevCab, abort);
    self->filesInCabinet_ = self->filesInFolder_ = 0;
    if (abort)
        return 0;
    pccab->szDisk[255] = pccab->szCab[255] = pccab->szCabPath[255] = 0;
    // The library puts folder and name together as they stand.
    const std::string cabFolder = withTrailingDelim(pccab->szCabPath);
    if (!putField(pccab->szCabPath, cabFolder)) {
        self->setPending(ESTCabinet(FormatText(sCabNameTooLong, cabFolder), cab::FCIERR_CAB_FORMAT_LIMIT, 0, true));
        return 0;
    }
    if (!ForceDirectories(cabFolder)) {
        self->setPending(ESTCabinet(FCIErrorText(cab::FCIERR_CAB_FILE), cab::FCIERR_CAB_FILE, LastOSError(), true));
        return 0;
    }
    self->targets_.push_back(ExpandFileName(JoinPath({cabFolder, pccab->szCab})));
    self->ccab_ = *pccab;  // the descriptor of the cabinet now being built
    return 1;
}

cab::LONG TSTCabWriter::cbStatus(cab::UINT typeStatus, cab::ULONG cb1, cab::ULONG cb2, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    bool abort = false;
    cab::LONG result = 0;
    switch (typeStatus) {
    case cab::statusFile:
        if (self->OnFileStatus)
            self->OnFileStatus(*self, cb1, cb2, abort);
        if (self->progressCountdown_ < 0 && self->OnProgress && !abort) {
            self->OnProgress(*self, abort);
            self->progressCountdown_ = 8;
        }
        --self->progressCountdown_;
        break;
    case cab::statusFolder:
        if (self->OnFolderStatus)
            self->OnFolderStatus(*self, cb1, cb2, abort);
        self->filesInFolder_ = 0;
        break;
    case cab::statusCabinet: {
        std::uint32_t desired = 0;
        if (self->OnCabinetStatus)
            self->OnCabinetStatus(*self, cb1, cb2, desired, abort);
        result = static_cast<cab::LONG>(desired);
        self->filesInCabinet_ = self->filesInFolder_ = 0;
        break;
    }
    default: break;
    }
    return abort ? -1 : result;
}

cab::INT_PTR TSTCabWriter::cbOpen(char *pszFile, int oflag, int pmode, int *err, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    const std::string full = ExpandFileName(pszFile ? pszFile : "");
    if (CabTemp *t = self->tempByTarget(full)) {
        // The cabinet again, before it is complete: its temporary file.
        if (t->handle != InvalidFileHandle) {
            if (err)
                *err = EBUSY;
            return -1;
        }
        const cab::INT_PTR h = CabOpen(t->temp.data(), oflag & ~cab::_O_EXCL, pmode, err, pv);
        if (h != -1)
            t->handle = h;
        return h;
    }
    if ((oflag & 3) != 0 && self->isCabinetTarget(full)) {
        const std::string folder = ExtractFilePath(full);
        if (!ForceDirectories(folder)) {
            if (err)
                *err = LastOSError();
            return -1;
        }
        CabTemp t;
        t.target = full;
        t.handle = CreateOwnTempFile(folder, "~" + ExtractFileName(full).substr(0, 64), t.temp);
        if (t.handle == InvalidFileHandle) {
            if (err)
                *err = LastOSError();
            return -1;
        }
        self->cabTemps_.push_back(t);
        return t.handle;
    }
    return CabOpen(pszFile, oflag, pmode, err, pv);
}

int TSTCabWriter::cbClose(cab::INT_PTR hf, int *err, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    CabTemp *t = self->tempByHandle(hf);
    if (!t)
        return CabClose(hf, err, pv);
    // The data reaches the disk before the name can: a crash after the
    // rename must not leave a target with holes.
    bool flushed = false;
    int flushError = 0;
    self->blocking([&] {
        flushed = FileFlush(hf);
        flushError = flushed ? 0 : LastOSError();
    });
    const int r = CabClose(hf, err, pv);
    t->handle = InvalidFileHandle;
    if (r != 0 || !flushed) {
        // A cabinet that may not be whole on disk never replaces the target.
        if (!flushed && err)
            *err = flushError;
        FileDelete(t->temp);
        self->cabTemps_.erase(self->cabTemps_.begin() + (t - self->cabTemps_.data()));
        return -1;
    }
    return 0;
}

int TSTCabWriter::cbDelete(char *pszFile, int *err, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    const std::string full = ExpandFileName(pszFile ? pszFile : "");
    if (CabTemp *t = self->tempByTarget(full)) {
        if (t->handle != InvalidFileHandle)
            FileClose(t->handle);
        FileDelete(t->temp);
        self->cabTemps_.erase(self->cabTemps_.begin() + (t - self->cabTemps_.data()));
        return 0;
    }
    if (self->isCabinetTarget(full)) {
        // Only a cabinet written by this run may go; an older file of that
        // name was never touched and stays.
        auto it = std::find_if(self->committed_.begin(), self->committed_.end(),
                               [&](const std::string &c) { return samePath(c, full); });
        if (it == self->committed_.end())
            return 0;
        self->committed_.erase(it);
    }
    return CabDelete(pszFile, err, pv);
}

cab::BOOL TSTCabWriter::cbGetTempFile(char *pszTempName, int cbTempName, void *pv)
{
    auto *self = static_cast<TSTCabWriter *>(pv);
    if (!CabGetTempFile(pszTempName, cbTempName, pv))
        return 0;
    self->engineTemps_.emplace_back(pszTempName);
    return 1;
}

}  // namespace qv
