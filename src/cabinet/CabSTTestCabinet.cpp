// TSTCabReader::TestCabinet: reads a cabinet, or a whole set from its first
// cabinet whichever part was named, back into a sink.
//
// The library does the reading: it checks each data block's checksum and
// decompresses every block a file needs, and the files of a folder cover all
// its blocks. The sink only counts: each file must come out at the size its
// entry states. Sets are walked as ExtractFiles walks them (the library goes
// on into the next cabinet for a file that continues, and the walk resumes
// at the cabinet the last one entered names), so each file is seen once,
// where it begins.
//
// A set just written still lies under temporary names; its cabinets name
// each other by their final names. Opening goes through a callback of our
// own that reads the i-th given file wherever the set names its i-th
// cabinet. The library's callbacks carry no context, hence the one run per
// thread in gRun.
#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace {

// Stands for the file being "extracted"; odd, so never a Windows handle, and
// far above any descriptor.
constexpr cab::INT_PTR kSink = 0x7FFF0001;
constexpr std::size_t kMaxCabinetsInSet = 65536;

struct TestRun {
    TSTCabReader *reader = nullptr;
    const TSTCabReaderTestFileEvent *onFile = nullptr;
    const std::vector<std::string> *files = nullptr;  // null: the set's own names are read
    std::vector<std::pair<std::string, std::string>> redirects;  // a path the set names, the file read there
    std::string announcedNext;  // the cabinet the last one entered names, with its folder
    std::uint16_t setID = 0;
    std::uint16_t lastCabinet = 0;
    std::string fileName;  // the file being read
    std::int32_t fileSize = 0;
    std::uint64_t fileBytes = 0;
    TSTCabTestResult result;
    std::optional<ESTCabinet> pending;
};

thread_local TestRun *gRun = nullptr;

cab::INT_PTR testOpen(char *pszFile, int oflag, int pmode)
{
    if (gRun && pszFile) {
        for (const auto &r : gRun->redirects) {
            if (r.first == pszFile) {
                std::string actual = r.second;
                return CabOpen(actual.data(), oflag, pmode);
            }
        }
    }
    return CabOpen(pszFile, oflag, pmode);
}

cab::UINT testWrite(cab::INT_PTR hf, void *pv, cab::UINT cb)
{
    if (hf != kSink)
        return CabWrite(hf, pv, cb);
    gRun->fileBytes += cb;
    return cb;
}

int testClose(cab::INT_PTR hf) { return hf == kSink ? 0 : CabClose(hf); }

cab::INT_PTR cabinetInfo(TestRun &run, cab::PFDINOTIFICATION n)
{
    // Within one call the library checks the link itself; between calls
    // only this does.
    if (run.result.Cabinets > 0 && (n->setID != run.setID || n->iCabinet != run.lastCabinet + 1)) {
        run.pending = ESTCabinet(FDIErrorText(cab::FDIERROR_WRONG_CABINET), cab::FDIERROR_WRONG_CABINET, 0, false);
        return -1;
    }
    run.setID = n->setID;
    run.lastCabinet = n->iCabinet;
    ++run.result.Cabinets;
    const std::string next = n->psz1 ? n->psz1 : "";
    run.announcedNext = next.empty() ? std::string() : JoinPath({n->psz3 ? n->psz3 : "", next});
    return 0;
}

cab::INT_PTR closeFile(TestRun &run, cab::PFDINOTIFICATION n)
{
    if (n->hf != kSink)
        return -1;
    if (run.fileBytes != static_cast<std::uint64_t>(run.fileSize)) {
        run.pending = ESTCabinet(FormatText(sCabFileSizeMismatch, run.fileName), cab::FDIERROR_CORRUPT_CABINET, 0,
                                 false);
        return -1;
    }
    ++run.result.Files;
    run.result.Bytes += run.fileBytes;
    bool abort = false;
    if (*run.onFile)
        (*run.onFile)(*run.reader, run.fileName, run.fileSize, abort);
    return abort ? -1 : 1;
}

cab::INT_PTR nextCabinet(TestRun &run, cab::PFDINOTIFICATION n)
{
    if (n->fdie != cab::FDIERROR_NONE) {
        // The cabinet found there was missing or wrong: no second try.
        if (n->fdie == cab::FDIERROR_CABINET_NOT_FOUND)
            run.pending = ESTCabinet(FormatText(sCabSetIncomplete, n->psz1 ? n->psz1 : ""),
                                     cab::FDIERROR_CABINET_NOT_FOUND, 0, false);
        return -1;
    }
    if (run.files) {
        if (run.result.Cabinets >= run.files->size()) {
            run.pending = ESTCabinet(FormatText(sCabSetGoesOn, run.files->back()), cab::FDIERROR_WRONG_CABINET, 0,
                                     false);
            return -1;
        }
        // The library opens the folder and the name as they stand, joined.
        run.redirects.emplace_back(std::string(n->psz3 ? n->psz3 : "") + (n->psz1 ? n->psz1 : ""),
                                   (*run.files)[run.result.Cabinets]);
    }
    return 0;
}

cab::INT_PTR testNotify(cab::FDINOTIFICATIONTYPE type, cab::PFDINOTIFICATION n)
{
    TestRun &run = *static_cast<TestRun *>(n->pv);
    LastFDIIOError = 0;
    switch (type) {
    case cab::fdintCABINET_INFO: return cabinetInfo(run, n);
    case cab::fdintCOPY_FILE:
        if (!run.files && run.reader->SkipsUnreadable(*n))
            return 0;
        run.fileName = n->psz1 ? n->psz1 : "";
        run.fileSize = n->cb;
        run.fileBytes = 0;
        if (run.fileSize < 0) {
            run.pending = ESTCabinet(FormatText(sCabFileSizeMismatch, run.fileName), cab::FDIERROR_CORRUPT_CABINET,
                                     0, false);
            return -1;
        }
        return kSink;
    case cab::fdintCLOSE_FILE_INFO: return closeFile(run, n);
    case cab::fdintNEXT_CABINET: return nextCabinet(run, n);
    default: return 0;  // a file begun in an earlier cabinet was counted there
    }
}

TSTCabTestResult testSet(TSTCabReader &reader, const std::string &first, const std::vector<std::string> *files,
                         const TSTCabReaderTestFileEvent &onFile)
{
    TestRun run;
    run.reader = &reader;
    run.onFile = &onFile;
    run.files = files;
    struct Scope {
        TestRun *saved;
        cab::HFDI context = nullptr;
        ~Scope()
        {
            if (context)
                CabIntf::FDIDestroy(context);
            gRun = saved;
        }
    } scope{gRun};
    gRun = &run;

    cab::ERF erf{};
    scope.context = CabIntf::FDICreate(CabAlloc, CabFree, testOpen, CabRead, testWrite, testClose, CabSeek,
                                       cab::cpuUNKNOWN, &erf);
    CheckFDI(scope.context != nullptr, erf);

    std::vector<std::string> visited;
    std::string current = ExpandFileName(first);
    while (!current.empty()) {
        if (std::find(visited.begin(), visited.end(), current) != visited.end() ||
            visited.size() >= kMaxCabinetsInSet)
            throw ESTCabinet(FormatText(sCabSetLoops, current), cab::FDIERROR_WRONG_CABINET, 0, false);
        visited.push_back(current);
        std::string name = ExtractFileName(current);
        std::string folder = ExtractFilePath(current);
        LastFDIIOError = 0;
        const bool ok = CabIntf::FDICopy(scope.context, name.data(), folder.data(), 0, testNotify, nullptr, &run) != 0;
        RaisePending(run.pending);
        CheckFDI(ok, erf, scope.context);

        if (run.announcedNext.empty())
            break;
        if (files) {
            if (run.result.Cabinets >= files->size())
                throw ESTCabinet(FormatText(sCabSetGoesOn, files->back()), cab::FDIERROR_WRONG_CABINET, 0, false);
            current = ExpandFileName((*files)[run.result.Cabinets]);
        } else {
            // As ExtractFiles: every part of the set must be there.
            current = run.announcedNext;
            if (!FileExists(current))
                throw ESTCabinet(FormatText(sCabSetIncomplete, ExtractFileName(current)),
                                 cab::FDIERROR_CABINET_NOT_FOUND, 0, false);
        }
    }
    if (files && run.result.Cabinets < files->size())
        throw ESTCabinet(FormatText(sCabSetEndsEarly, (*files)[run.result.Cabinets]), cab::FDIERROR_WRONG_CABINET,
                         0, false);
    return run.result;
}

}  // namespace

TSTCabTestResult TSTCabReader::TestCabinet(const std::string &aCabFileName, const TSTCabReaderTestFileEvent &aOnFile)
{
    const std::string first = FirstCabinetOfSet(aCabFileName);
    findUnreadable(first);
    return testSet(*this, first, nullptr, aOnFile);
}

TSTCabTestResult TSTCabReader::TestCabinetSet(const std::vector<std::string> &aCabFiles,
                                              const TSTCabReaderTestFileEvent &aOnFile)
{
    if (aCabFiles.empty())
        throw ESTCabinet(FDIErrorText(cab::FDIERROR_CABINET_NOT_FOUND), cab::FDIERROR_CABINET_NOT_FOUND, 0, false);
    return testSet(*this, aCabFiles.front(), &aCabFiles, aOnFile);
}

}  // namespace qv
