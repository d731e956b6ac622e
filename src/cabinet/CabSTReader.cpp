// TSTCabReader: tests, extracts and lists cabinets.
//
// Names inside a cabinet are untrusted, and so are the destinations an
// OnCopyFile handler makes of them: nothing is ever written outside the
// extraction folder the caller named. Each extracted file is written under
// a temporary name beside its destination and renamed over it only when it
// is complete.
#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"
#include "cabinet/CabSTHeaders.h"
#include "platform/shell.h"
#include "platform/tempfiles.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qv {

namespace {

// A name inside the cabinet in the platform's own spelling.
// Names in notifications come from the library as UTF-8; bytes that are not
// valid UTF-8 are taken as Windows-1250.
std::string notifiedName(const char *raw)
{
    if (!raw)
        return {};
    const std::string bytes(raw);
    return IsValidUtf8(bytes) ? bytes : CabNameToUtf8(raw, false);
}

std::string toLocalName(std::string name)
{
#ifndef _WIN32
    std::replace(name.begin(), name.end(), '\\', '/');
#endif
    return name;
}

constexpr int kMaxCabinetsInSet = 65536;

// The reader extracting on this thread: the library's write callback has no
// room for it.
thread_local TSTCabReader *extracting = nullptr;

}  // namespace

bool TSTCabReader::IsUnsafeEntryName(const std::string &name)
{
    if (name.empty())
        return true;
    if (name[0] == '\\' || name[0] == '/')
        return true;
    if (name.size() >= 2 && name[1] == ':')
        return true;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '\\' || name[i] == '/') {
            const std::string part = name.substr(start, i - start);
            if (part == "." || part == "..")
                return true;
            start = i + 1;
        }
    }
    return false;
}

TSTCabReader::TSTCabReader() = default;

TSTCabReader::~TSTCabReader()
{
    discardOpen();
    if (context_) {
        const cab::HFDI ctx = context_;
        context_ = nullptr;
        CabIntf::FDIDestroy(ctx);
    }
}

void TSTCabReader::ensureContext()
{
    if (context_)
        return;
    erf_ = {};
    context_ = CabIntf::FDICreate(CabAlloc, CabFree, CabOpen, CabRead, cbWrite, CabClose, CabSeek, cab::cpuUNKNOWN,
                                  &erf_);
    CheckFDI(context_ != nullptr, erf_);
}

void TSTCabReader::checkFDI(bool ok)
{
    RaisePending(pending_);
    CheckFDI(ok, erf_, context_);
}

bool TSTCabReader::IsCabinet(const std::string &aCabFileName, cab::FDICABINETINFO &aInfo)
{
    ensureContext();
    std::string name = aCabFileName;
    int err = 0;
    const cab::INT_PTR hf = CabOpen(name.data(), cab::_O_BINARY | cab::_O_RDONLY, 0, &err, nullptr);
    if (hf == -1)
        RaiseOSError(err);
    aInfo = {};
    const bool result = CabIntf::FDIIsCabinet(context_, hf, &aInfo) != 0;
    FileClose(hf);
    return result;
}

// Files still open when an extraction stops are closed and their temporary
// names removed; the destinations keep whatever they held before.
void TSTCabReader::discardOpen()
{
    for (OpenEntry &e : open_) {
        if (e.handle != InvalidFileHandle)
            FileClose(e.handle);
        FileDelete(e.temp);
    }
    open_.clear();
}

void TSTCabReader::ExtractFiles(const std::string &aCabFileName, const std::string &aDestDir, bool aSingleCabinet)
{
    ensureContext();
    cabFileName_ = ExpandFileName(aCabFileName);
    destDir_ = aDestDir;
    if (!destDir_.empty() && !IsPathDelimiter(destDir_.back()))
        destDir_ += PathDelim;
    extractRoot_ = ExpandFileName(destDir_.empty() ? std::string(".") : destDir_);
    discardOpen();
    pending_.reset();

    struct Extracting {
        TSTCabReader *outer = extracting;
        explicit Extracting(TSTCabReader *self) { extracting = self; }
        ~Extracting() { extracting = outer; }
    } extractingHere(this);

    std::vector<std::string> visited;
    std::string current = aSingleCabinet ? cabFileName_ : FirstCabinetOfSet(cabFileName_);
    findUnreadable(current);
    while (!current.empty()) {
        const bool seen = std::any_of(visited.begin(), visited.end(),
                                      [&](const std::string &v) { return SameTextIgnoringCase(v, current); });
        if (seen || static_cast<int>(visited.size()) >= kMaxCabinetsInSet)
            throw ESTCabinet(FormatText(sCabSetLoops, current), cab::FDIERROR_WRONG_CABINET, 0, false);
        visited.push_back(current);

        announcedNext_.clear();
        requestedNext_.clear();
        nextRequested_ = false;
        std::string name = ExtractFileName(current);
        std::string folder = ExtractFilePath(current);
        const bool ok = CabIntf::FDICopy(context_, name.data(), folder.data(), 0, cbNotify, nullptr, this) != 0;
        if (!ok || pending_)
            discardOpen();
        checkFDI(ok);

        // The library goes on through every cabinet it had to open for a
        // continued file, to that cabinet's end; what follows is the next
        // cabinet named by the last one it entered. Going back to the
        // requested cabinet would extract its files a second time.
        if (!SameTextIgnoringCase(current, announcedNext_))
            current = announcedNext_;
        else
            current.clear();
        if (aSingleCabinet)
            current.clear();
        else if (!current.empty() && !FileExists(current))
            throw ESTCabinet(FormatText(sCabSetIncomplete, ExtractFileName(current)), cab::FDIERROR_CABINET_NOT_FOUND,
                             0, false);
    }
}

void TSTCabReader::findUnreadable(const std::string &firstCabinet)
{
    unreadable_.reset();
    if (!Options.count(croSkipUnreadableFolders))
        return;
    unreadable_ = std::make_shared<UnreadableFiles>();
    unreadable_->find(firstCabinet);
}

bool TSTCabReader::SkipsUnreadable(const cab::FDINOTIFICATION &aCopyFile)
{
    if (!unreadable_)
        return false;
    const std::optional<cab::TCOMP> method = unreadable_->methodOf(aCopyFile);
    if (!method)
        return false;
    if (OnFileSkipped)
        OnFileSkipped(*this, notifiedName(aCopyFile.psz1), aCopyFile.cb, *method);
    return true;
}

std::string TSTCabReader::FirstCabinetOfSet(const std::string &aCabFileName)
{
    std::string current = ExpandFileName(aCabFileName);
    std::vector<std::string> visited{current};
    cab::detail::CabinetHeader h;
    try {
        HeaderFile first(current);
        h = first.header();
    } catch (const Exception &) {
        return current;  // the reader says what is wrong with it, as with any single cabinet
    }
    while (h.flags & cab::detail::kFlagPrev) {
        const std::string prevName = h.prevCab;
        const std::string prev = JoinPath({ExtractFilePath(current), prevName});
        const bool seen = std::any_of(visited.begin(), visited.end(),
                                      [&](const std::string &v) { return SameTextIgnoringCase(v, prev); });
        if (seen || static_cast<int>(visited.size()) >= kMaxCabinetsInSet)
            throw ESTCabinet(FormatText(sCabSetLoops, prev), cab::FDIERROR_WRONG_CABINET, 0, false);
        if (!FileExists(prev))
            throw ESTCabinet(FormatText(sCabSetIncomplete, prevName), cab::FDIERROR_CABINET_NOT_FOUND, 0, false);
        cab::detail::CabinetHeader p;
        try {
            HeaderFile c(prev);
            p = c.header();
        } catch (const Exception &) {
            throw ESTCabinet(FormatText(sCabSetForeignPart, prevName), cab::FDIERROR_WRONG_CABINET, 0, false);
        }
        // The part before goes on into a next one, in the same set, one place earlier.
        if (!(p.flags & cab::detail::kFlagNext) || p.setID != h.setID || p.iCabinet + 1 != h.iCabinet)
            throw ESTCabinet(FormatText(sCabSetForeignPart, prevName), cab::FDIERROR_WRONG_CABINET, 0, false);
        visited.push_back(prev);
        current = prev;
        h = p;
    }
    return current;
}

cab::INT_PTR TSTCabReader::cbNotify(cab::FDINOTIFICATIONTYPE fdint, cab::PFDINOTIFICATION pfdin)
{
    auto *self = static_cast<TSTCabReader *>(pfdin->pv);
    return self->notify(fdint, pfdin);
}

cab::INT_PTR TSTCabReader::notify(cab::FDINOTIFICATIONTYPE fdint, cab::PFDINOTIFICATION pfdin)
{
    LastFDIIOError = 0;
    bool abort = false;
    switch (fdint) {
    case cab::fdintCABINET_INFO: {
        const std::string next = notifiedName(pfdin->psz1);
        const std::string path = pfdin->psz3 ? pfdin->psz3 : "";
        announcedNext_ = next.empty() ? std::string() : JoinPath({path, next});
        if (OnCabinetInfo)
            OnCabinetInfo(*this, next, notifiedName(pfdin->psz2), path, pfdin->setID, pfdin->iCabinet,
                          abort);
        return abort ? -1 : 0;
    }
    case cab::fdintPARTIAL_FILE: {
        const std::string name = notifiedName(pfdin->psz1);
        std::string dest;
        for (const OpenEntry &e : open_)
            if (SameTextIgnoringCase(e.name, name)) {
                dest = e.dest;
                break;
            }
        if (OnCopyPartialFile)
            OnCopyPartialFile(*this, name, notifiedName(pfdin->psz2), notifiedName(pfdin->psz3),
                              dest, abort);
        return abort ? -1 : 0;
    }
    case cab::fdintCOPY_FILE: return copyFile(pfdin);
    case cab::fdintCLOSE_FILE_INFO: return closeFile(pfdin);
    case cab::fdintNEXT_CABINET: return nextCabinet(pfdin);
    default: {
        std::int32_t result = 0;
        if (OnUnrecognizedNotify)
            OnUnrecognizedNotify(*this, fdint, *pfdin, result);
        return result;
    }
    }
}

cab::INT_PTR TSTCabReader::copyFile(cab::PFDINOTIFICATION pfdin)
{
    if (SkipsUnreadable(*pfdin))
        return 0;
    const std::string name = notifiedName(pfdin->psz1);
    const std::string proposed = JoinPath({destDir_, toLocalName(name)});
    std::string dest = proposed;
    bool abort = false;
    if (OnCopyFile)
        OnCopyFile(*this, name, pfdin->cb, pfdin->date, pfdin->time, pfdin->attribs, pfdin->iFolder, dest, abort);
    if (abort)
        return -1;
    if (dest.empty())
        return 0;
    if (dest == proposed && IsUnsafeEntryName(name)) {
        pending_ = ESTCabinet(FormatText(sCabUnsafeEntryName, name), cab::FDIERROR_USER_ABORT, 0, false);
        return -1;
    }
    if (ExtractFilePath(dest).empty() || ExtractFileName(dest).empty()) {
        pending_ = ESTCabinet(FormatText(sCabDestinationNoFolder, dest), cab::FDIERROR_TARGET_FILE, 0, false);
        return -1;
    }
    // Whoever chose it, the destination stays inside the extraction folder
    // once ".." is folded and links are followed. The folded form is what
    // gets opened, so the system cannot walk another way than the one checked.
    dest = ExpandFileName(dest);
    const std::string folder = ExtractFilePath(dest);
    if (!PathLiesInside(folder, extractRoot_) || !PathLiesInside(dest, extractRoot_)) {
        pending_ = ESTCabinet(FormatText(sCabUnsafeEntryName, name), cab::FDIERROR_USER_ABORT, 0, false);
        return -1;
    }
    if (!ForceDirectories(folder)) {
        LastFDIIOError = LastOSError();
        return -1;
    }
    const std::uint32_t attrs = FileGetAttributes(dest);
    if (attrs != InvalidFileAttributes && !(attrs & faDirectory) && (attrs & faReadOnly)) {
        if (Options.count(croDontOverwriteReadOnlyFiles))
            return 0;
        if (!FileSetAttributes(dest, attrs & ~faReadOnly & 0x27u)) {
            LastFDIIOError = LastOSError();
            return -1;
        }
    }
    OpenEntry e;
    e.name = name;
    e.dest = dest;
    e.handle = CreateOwnTempFile(folder, "~stc", e.temp);
    if (e.handle == InvalidFileHandle) {
        const int code = LastOSError();
        if (code != 0)
            LastFDIIOError = code;
        return -1;
    }
    open_.push_back(e);
    writtenOfFile_ = 0;
    nextProgress_ = kReaderProgressBytes;
    return e.handle;
}

cab::UINT TSTCabReader::cbWrite(cab::INT_PTR hf, void *pv, cab::UINT cb)
{
    const cab::UINT written = CabWrite(hf, pv, cb);
    TSTCabReader *self = extracting;
    if (!self || !self->OnProgress || written == static_cast<cab::UINT>(-1))
        return written;
    self->writtenOfFile_ += written;
    if (self->writtenOfFile_ < self->nextProgress_)
        return written;
    self->nextProgress_ = self->writtenOfFile_ + kReaderProgressBytes;
    bool abort = false;
    self->OnProgress(*self, self->writtenOfFile_, abort);
    if (!abort)
        return written;
    self->pending_ = ESTCabinet(FDIErrorText(cab::FDIERROR_USER_ABORT), cab::FDIERROR_USER_ABORT, 0, false);
    return static_cast<cab::UINT>(-1);
}

cab::INT_PTR TSTCabReader::closeFile(cab::PFDINOTIFICATION pfdin)
{
    const std::string name = notifiedName(pfdin->psz1);
    auto it = std::find_if(open_.begin(), open_.end(), [&](const OpenEntry &e) { return e.handle == pfdin->hf; });
    if (it == open_.end())
        it = std::find_if(open_.begin(), open_.end(),
                          [&](const OpenEntry &e) { return SameTextIgnoringCase(e.name, name); });
    std::string dest;
    if (it != open_.end()) {
        OpenEntry e = *it;
        open_.erase(it);
        dest = e.dest;
        const bool closed = FileClose(e.handle);
        const int closeError = closed ? 0 : LastOSError();
        if (!closed || !FileRename(e.temp, e.dest)) {
            const int code = closed ? LastOSError() : closeError;
            FileDelete(e.temp);
            LastFDIIOError = code;
            pending_ = ESTCabinet(FDIErrorText(cab::FDIERROR_TARGET_FILE), cab::FDIERROR_TARGET_FILE, code, false);
            return -1;
        }
        CabSetFileInfo(dest, pfdin->date, pfdin->time, pfdin->attribs);
    } else {
        CabClose(pfdin->hf);
    }
    bool exec = (pfdin->cb & 1) != 0;
    bool abort = false;
    if (OnCloseFile)
        OnCloseFile(*this, name, pfdin->date, pfdin->time, pfdin->attribs, pfdin->iFolder, exec, dest, abort);
    if (abort)
        return -1;
    if (exec && Options.count(croExecuteOnExtract) && !dest.empty())
        ShellOpenFile(dest);
    return 1;
}

cab::INT_PTR TSTCabReader::nextCabinet(cab::PFDINOTIFICATION pfdin)
{
    const std::string cabName = notifiedName(pfdin->psz1);
    cab::INT_PTR result = 0;
    if (OnNextCabinet) {
        std::string path = pfdin->psz3 ? pfdin->psz3 : "";
        bool abort = false;
        OnNextCabinet(*this, cabName, notifiedName(pfdin->psz2), path, pfdin->fdie, abort);
        if (abort) {
            result = -1;
        } else {
            if (!path.empty() && !IsPathDelimiter(path.back()))
                path += PathDelim;
            if (path.size() > 255 || !pfdin->psz3) {
                pending_ = ESTCabinet(FormatText(sCabNameTooLong, path), cab::FDIERROR_WRONG_CABINET, 0, false);
                result = -1;
            } else {
                std::memcpy(pfdin->psz3, path.c_str(), path.size() + 1);
            }
        }
    } else if (pfdin->fdie != cab::FDIERROR_NONE) {
        if (pfdin->fdie == cab::FDIERROR_CABINET_NOT_FOUND)
            pending_ = ESTCabinet(FormatText(sCabSetIncomplete, cabName), cab::FDIERROR_CABINET_NOT_FOUND, 0, false);
        result = -1;
    }
    requestedNext_ = JoinPath({pfdin->psz3 ? pfdin->psz3 : "", cabName});
    nextRequested_ = true;
    return result;
}

// ---------------------------------------------------------------- listing

bool TSTCabReader::EnumerateFiles(const std::string &aCabFileName, const TSTCabReaderEnumFileEvent &aCallback)
{
    cab::FDICABINETINFO info;
    if (!IsCabinet(aCabFileName, info))
        return false;
    HeaderFile c(aCabFileName);
    const cab::detail::CabinetHeader h = c.header();
    cab::detail::FileEntry e;
    std::uint32_t at = h.coffFiles;
    for (unsigned i = 0; i < h.cFiles; ++i, at += e.bytes) {
        HeaderFile::check(cab::detail::readFile(c, at, e));
        bool abort = false;
        if (aCallback)
            aCallback(*this, CabNameToUtf8(e.name, e.attribs & cab::_A_NAME_IS_UTF), static_cast<std::int32_t>(e.cbFile),
                      e.iFolder, e.date, e.time, e.attribs, abort);
        if (abort)
            break;
    }
    return true;
}

bool TSTCabReader::EnumerateFolders(const std::string &aCabFileName, const TSTCabReaderEnumFolderEvent &aCallback)
{
    cab::FDICABINETINFO info;
    if (!IsCabinet(aCabFileName, info))
        return false;
    HeaderFile c(aCabFileName);
    const cab::detail::CabinetHeader h = c.header();
    for (std::uint16_t i = 0; i < h.cFolders; ++i) {
        cab::detail::FolderEntry f;
        HeaderFile::check(cab::detail::readFolder(c, h, i, f));
        bool abort = false;
        if (aCallback)
            aCallback(*this, i, f.typeCompress, f.cCFData, abort);
        if (abort)
            break;
    }
    return true;
}

}  // namespace qv
