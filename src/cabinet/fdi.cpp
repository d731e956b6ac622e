// The cabinet reader (FDI).
//
// Nothing read from a cabinet is trusted: the structures are read through
// cabformat.h, which checks every offset against the readable end of the
// file; counts from the file are checked before use, and no buffer is sized
// by a value from the file. File entries are read one at a time, folder
// entries on demand.
//
// Data blocks are joined across cabinets where a block was cut in two and
// handed to the folder's codec through the decode pipeline
// (decodepipeline.h), which decodes a few blocks ahead on a thread of its
// own. A folder whose method is not one we read is refused, and the method
// is kept for the caller's message (FDIGetRefusedCompression).
//
// Blocks read ahead are only ever the current cabinet's, and a block that
// could not be read ahead is read again when its turn comes, so failures
// are reported where they were before and the next cabinet is asked for
// only when needed.
#include <cstdio>
#include <cstring>
#include <new>

#include "cabinet/cabformat.h"
#include "cabinet/decodepipeline.h"
#include "cabinet/fdifci.h"

namespace cab {
namespace {

using namespace detail;

constexpr int kSeekSet = 0;
constexpr int kSeekEnd = 2;
constexpr int kMaxRetries = 64;  // failed attempts at one next cabinet before giving up

int lzxWindowBits(TCOMP type) { return (type & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW; }

struct Fdi;

// An open cabinet of the chain: its header and its place in this FDICopy.
struct Cabinet final : Source {
    Fdi *fdi = nullptr;
    INT_PTR hf = -1;
    CabinetHeader h;
    std::uint32_t seq = 0;         // order in which this FDICopy call entered it
    bool continued = false;        // its folder 0 goes on from the previous cabinet
    std::uint32_t contSeq = 0;     // ... and that folder began in this cabinet of the chain
    std::uint16_t contFolder = 0;  // ... as this folder

protected:
    bool readRaw(std::uint32_t offset, void *p, std::uint32_t n) override;
};

struct FolderId {
    std::uint32_t seq;
    std::uint16_t index;
    bool operator==(const FolderId &) const = default;
};

// The folder whose blocks are being read and decoded.
struct Decoder {
    bool active = false;
    FolderId id{};
    int slot = 0;                 // cabinet its blocks are read from
    bool mayContinue = false;     // last folder of a cabinet that names a next one
    TCOMP type = 0;
    std::uint32_t nextBlock = 0;  // file offset of the next data block
    std::uint32_t blocksLeft = 0;
    std::uint32_t outStart = 0;   // folder offset of the current block's first byte
    std::uint32_t outLen = 0;
    const std::uint8_t *out = nullptr;  // the current block's bytes
};

struct Fdi {
    PERF erf = nullptr;
    PFNALLOC alloc = nullptr;
    PFNFREE free = nullptr;
    PFNOPEN open = nullptr;
    PFNREAD read = nullptr;
    PFNWRITE write = nullptr;
    PFNCLOSE close = nullptr;
    PFNSEEK seek = nullptr;
    TCOMP refused = 0;  // method of the folder last refused with FDIERROR_BAD_COMPR_TYPE

    // State of one FDICopy call.
    PFNFDINOTIFY notify = nullptr;
    void *user = nullptr;
    char path[CB_MAX_CAB_PATH] = {};  // folder of the cabinets; the application may change it
    Cabinet cabs[2];
    int list = 0;  // cabinet whose file entries are being walked
    std::uint32_t seqCounter = 0;
    Decoder dec;
    DecodePipeline pipe;

    char utf8[kUtf8NameField];
};

BOOL fail(Fdi &f, int oper)
{
    if (f.erf) {
        f.erf->erfOper = oper;
        f.erf->erfType = 0;
        f.erf->fError = kTrue;
    }
    return kFalse;
}

// --- reading a cabinet ------------------------------------------------------

bool Cabinet::readRaw(std::uint32_t offset, void *p, std::uint32_t n)
{
    if (fdi->seek(hf, static_cast<LONG>(offset), kSeekSet) != static_cast<LONG>(offset))
        return false;
    return fdi->read(hf, p, n) == n;
}

void closeCabinet(Fdi &f, Cabinet &c)
{
    if (c.hf != -1)
        f.close(c.hf);
    c.hf = -1;
    c.h = CabinetHeader{};
    c.limit = 0;
    c.seq = 0;
    c.continued = false;
    c.contSeq = 0;
    c.contFolder = 0;
}

int openCabinet(Fdi &f, Cabinet &c, const char *name)
{
    closeCabinet(f, c);
    char full[CB_MAX_CAB_PATH + kNameField];
    std::snprintf(full, sizeof full, "%s%s", f.path, name);
    c.hf = f.open(full, _O_RDONLY | _O_BINARY, 0);
    if (c.hf == -1)
        return FDIERROR_CABINET_NOT_FOUND;
    const LONG len = f.seek(c.hf, 0, kSeekEnd);
    c.limit = len < 0 ? 0 : static_cast<std::uint32_t>(len);
    return readHeader(c, c.h);
}

// A folder entry whose method we read and whose blocks begin in the file.
int readFolderOf(Fdi &f, Cabinet &c, std::uint16_t index, FolderEntry &out)
{
    if (const int e = readFolder(c, c.h, index, out))
        return e;
    if (!methodSupported(out.typeCompress)) {
        f.refused = out.typeCompress;
        return FDIERROR_BAD_COMPR_TYPE;
    }
    if (out.coffCabStart > c.limit)
        return FDIERROR_CORRUPT_CABINET;
    return FDIERROR_NONE;
}

// A file entry whose range and folder make sense for this cabinet.
int readFileOf(Cabinet &c, std::uint32_t at, FileEntry &e)
{
    if (const int err = readFile(c, at, e))
        return err;
    if (std::uint64_t{e.uoffFolderStart} + e.cbFile > kMaxFileSize)
        return FDIERROR_CORRUPT_CABINET;
    if (e.iFolder >= kMaxRealFolders) {
        if (c.h.cFolders == 0 || (e.continuedFromPrev() && !(c.h.flags & kFlagPrev)) ||
            (e.continuedToNext() && !(c.h.flags & kFlagNext)))
            return FDIERROR_CORRUPT_CABINET;
    } else if (e.iFolder >= c.h.cFolders) {
        return FDIERROR_CORRUPT_CABINET;
    }
    return FDIERROR_NONE;
}

// --- notifications ----------------------------------------------------------

INT_PTR notify(Fdi &f, FDINOTIFICATIONTYPE type, FDINOTIFICATION &n)
{
    n.pv = f.user;
    return f.notify(type, &n);
}

bool cabinetInfo(Fdi &f, const Cabinet &c)
{
    FDINOTIFICATION n{};
    char next[kNameField], disk[kNameField];
    std::memcpy(next, c.h.nextCab, sizeof next);
    std::memcpy(disk, c.h.nextDisk, sizeof disk);
    n.psz1 = next;
    n.psz2 = disk;
    n.psz3 = f.path;
    n.setID = c.h.setID;
    n.iCabinet = c.h.iCabinet;
    const INT_PTR r = notify(f, fdintCABINET_INFO, n);
    f.path[CB_MAX_CAB_PATH - 1] = '\0';
    return r != -1;
}

// --- data -------------------------------------------------------------------

// Opens the cabinet that follows the one the decoder reads, asking the
// application again while it is wrong or missing.
int followChain(Fdi &f)
{
    const CabinetHeader &from = f.cabs[f.dec.slot].h;
    char name[kNameField], disk[kNameField];
    std::memcpy(name, from.nextCab, sizeof name);
    std::memcpy(disk, from.nextDisk, sizeof disk);
    const std::uint16_t setID = from.setID;
    const std::uint16_t iCabinet = from.iCabinet;
    const std::uint8_t folderReserve = from.folderReserve;
    const std::uint8_t dataReserve = from.dataReserve;
    const int slot = f.dec.slot == f.list ? 1 - f.list : f.dec.slot;
    Cabinet &to = f.cabs[slot];

    int fdie = FDIERROR_NONE;
    for (int attempt = 0;; ++attempt) {
        FDINOTIFICATION n{};
        char nameCopy[kNameField], diskCopy[kNameField];
        std::memcpy(nameCopy, name, sizeof name);
        std::memcpy(diskCopy, disk, sizeof disk);
        n.psz1 = nameCopy;
        n.psz2 = diskCopy;
        n.psz3 = f.path;
        n.fdie = static_cast<FDIERROR>(fdie);
        n.setID = setID;
        n.iCabinet = iCabinet;
        const INT_PTR r = notify(f, fdintNEXT_CABINET, n);
        f.path[CB_MAX_CAB_PATH - 1] = '\0';
        if (r == -1)
            return fdie == FDIERROR_NONE ? FDIERROR_USER_ABORT : fdie;
        if (attempt >= kMaxRetries)
            return fdie;
        fdie = openCabinet(f, to, name);
        if (fdie == FDIERROR_NONE) {
            FolderEntry first{};
            if (to.h.setID != setID || to.h.iCabinet != iCabinet + 1 || !(to.h.flags & kFlagPrev) ||
                to.h.cFolders == 0)
                fdie = FDIERROR_WRONG_CABINET;
            else if (to.h.folderReserve != folderReserve || to.h.dataReserve != dataReserve)
                fdie = FDIERROR_RESERVE_MISMATCH;
            else if ((fdie = readFolderOf(f, to, 0, first)) == FDIERROR_NONE && first.typeCompress != f.dec.type)
                fdie = FDIERROR_WRONG_CABINET;
            if (fdie == FDIERROR_NONE) {
                to.seq = ++f.seqCounter;
                to.continued = true;
                to.contSeq = f.dec.id.seq;
                to.contFolder = f.dec.id.index;
                f.dec.slot = slot;
                f.dec.nextBlock = first.coffCabStart;
                f.dec.blocksLeft = first.cCFData;
                f.dec.mayContinue = to.h.cFolders == 1 && (to.h.flags & kFlagNext);
                return cabinetInfo(f, to) ? FDIERROR_NONE : FDIERROR_USER_ABORT;
            }
        }
        closeCabinet(f, to);
    }
}

int startFolder(Fdi &f, FolderId id, std::uint16_t index)
{
    Cabinet &c = f.cabs[f.list];
    FolderEntry fe{};
    if (const int e = readFolderOf(f, c, index, fe))
        return e;
    f.dec = Decoder{};
    f.dec.active = true;
    f.dec.id = id;
    f.dec.slot = f.list;
    f.dec.type = fe.typeCompress;
    f.dec.nextBlock = fe.coffCabStart;
    f.dec.blocksLeft = fe.cCFData;
    f.dec.mayContinue = index + 1 == c.h.cFolders && (c.h.flags & kFlagNext);
    return f.pipe.startFolder(fe.typeCompress, lzxWindowBits(fe.typeCompress));
}

// Reads whole blocks of the current cabinet into free slots and submits
// them; without the worker, only the block due. Stops quietly at anything
// out of the ordinary (the end of the cabinet's blocks, a block cut in two,
// a failed read, bad sizes): readBlock meets it again when that block is due.
void readAhead(Fdi &f)
{
    Decoder &d = f.dec;
    const std::uint32_t maxData = DecodePipeline::maxBlockData(d.type);
    const bool one = !f.pipe.running();
    while (d.blocksLeft > 0 && f.pipe.hasRoom()) {
        Cabinet &c = f.cabs[d.slot];
        DecodePipeline::Slot &s = f.pipe.slotToFill();
        std::uint8_t h[kDataFixed + kMaxSmallReserve];
        const std::uint32_t hsize = dataHeaderSize(c.h.dataReserve);
        if (!c.read(d.nextBlock, h, hsize))
            return;
        const DataHeader dh = parseDataHeader(h);
        if (dh.cbData > maxData || dh.cbUncomp > kBlockSize || dh.cbUncomp == 0)
            return;
        if (!c.read(d.nextBlock + hsize, s.in, dh.cbData))
            return;
        s.inLen = dh.cbData;
        s.size = dh.cbUncomp;
        s.csum = dh.csum;
        s.check = dh.csum != 0;
        s.reserve = c.h.dataReserve;
        std::memcpy(s.head, h + 4, 4 + c.h.dataReserve);
        d.nextBlock += hsize + dh.cbData;
        d.blocksLeft -= 1;
        s.last = dh.cbUncomp < kBlockSize || (d.blocksLeft == 0 && !d.mayContinue);
        f.pipe.submit();
        if (one)
            return;
    }
}

// Reads the folder's next block where reading ahead stopped, joining the
// parts of a block that was cut between cabinets; failures are reported.
int readBlock(Fdi &f)
{
    Decoder &d = f.dec;
    const std::uint32_t maxData = DecodePipeline::maxBlockData(d.type);
    DecodePipeline::Slot &s = f.pipe.slotToFill();
    std::uint32_t have = 0;
    std::uint32_t uncompressed = 0;
    for (;;) {
        if (d.blocksLeft == 0) {
            if (!d.mayContinue)
                return FDIERROR_CORRUPT_CABINET;  // an entry claims more than the folder holds
            if (const int e = followChain(f))
                return e;
            continue;
        }
        Cabinet &c = f.cabs[d.slot];
        std::uint8_t h[kDataFixed + kMaxSmallReserve];
        const std::uint32_t hsize = dataHeaderSize(c.h.dataReserve);
        if (!c.read(d.nextBlock, h, hsize))
            return FDIERROR_CORRUPT_CABINET;
        const DataHeader dh = parseDataHeader(h);
        uncompressed = dh.cbUncomp;
        if (have + dh.cbData > maxData || uncompressed > kBlockSize)
            return FDIERROR_CORRUPT_CABINET;
        if (!c.read(d.nextBlock + hsize, s.in + have, dh.cbData))
            return FDIERROR_CORRUPT_CABINET;
        if (!checksumHolds(dh.csum, h + 4, c.h.dataReserve, s.in + have, dh.cbData))
            return FDIERROR_CORRUPT_CABINET;
        d.nextBlock += hsize + dh.cbData;
        d.blocksLeft -= 1;
        have += dh.cbData;
        if (uncompressed != 0)
            break;
        if (d.blocksLeft != 0 || !d.mayContinue)
            return FDIERROR_CORRUPT_CABINET;  // only the last block of a cabinet may be cut
    }
    s.inLen = have;
    s.size = uncompressed;
    s.check = false;
    // A short frame, or the last block of a folder that goes on in no other
    // cabinet, ends an LZX stream.
    s.last = uncompressed < kBlockSize || (d.blocksLeft == 0 && !d.mayContinue);
    f.pipe.submit();
    return FDIERROR_NONE;
}

// Makes the folder's next decoded block the current one.
int nextBlock(Fdi &f)
{
    Decoder &d = f.dec;
    if (!f.pipe.queued())
        readAhead(f);
    if (!f.pipe.queued()) {
        if (const int e = readBlock(f))
            return e;
    }
    const std::uint8_t *data = nullptr;
    std::uint32_t size = 0;
    if (const int e = f.pipe.take(data, size))
        return e;
    d.outStart += d.outLen;
    d.outLen = size;
    d.out = data;
    // Keep the worker busy while this block is written out.
    if (f.pipe.running())
        readAhead(f);
    return FDIERROR_NONE;
}

int extract(Fdi &f, FolderId id, std::uint16_t index, const FileEntry &e, INT_PTR hf)
{
    if (e.cbFile == 0)
        return FDIERROR_NONE;
    Decoder &d = f.dec;
    if (!d.active || !(d.id == id) || d.outStart > e.uoffFolderStart) {
        if (id.seq != f.cabs[f.list].seq)
            return FDIERROR_CORRUPT_CABINET;  // the folder began in a cabinet no longer at hand
        if (const int err = startFolder(f, id, index))
            return err;
    }
    std::uint32_t pos = e.uoffFolderStart;
    std::uint32_t remaining = e.cbFile;
    while (remaining > 0) {
        const std::uint32_t end = d.outStart + d.outLen;
        if (pos >= end) {
            if (const int err = nextBlock(f))
                return err;
            continue;
        }
        const std::uint32_t n = end - pos < remaining ? end - pos : remaining;
        if (f.write(hf, const_cast<std::uint8_t *>(d.out + (pos - d.outStart)), n) != n)
            return FDIERROR_TARGET_FILE;
        pos += n;
        remaining -= n;
    }
    return FDIERROR_NONE;
}

// --- the walk over file entries ---------------------------------------------

bool folderZeroContinued(Cabinet &c)
{
    if (!(c.h.flags & kFlagPrev))
        return false;
    FileEntry e;
    std::uint32_t at = c.h.coffFiles;
    for (std::uint32_t i = 0; i < c.h.cFiles; ++i, at += e.bytes) {
        if (readFileOf(c, at, e) != FDIERROR_NONE)
            return false;
        if (e.continuedFromPrev())
            return true;
    }
    return false;
}

int partialFile(Fdi &f, const Cabinet &c, FileEntry &e)
{
    FDINOTIFICATION n{};
    char prev[kNameField], disk[kNameField];
    std::memcpy(prev, c.h.prevCab, sizeof prev);
    std::memcpy(disk, c.h.prevDisk, sizeof disk);
    n.psz1 = e.name;
    n.psz2 = prev;
    n.psz3 = disk;
    n.setID = c.h.setID;
    n.iCabinet = c.h.iCabinet;
    return notify(f, fdintPARTIAL_FILE, n) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
}

int walkFiles(Fdi &f, bool first)
{
    FileEntry e;
    const bool zeroContinued = first && folderZeroContinued(f.cabs[f.list]);
    std::uint32_t at = f.cabs[f.list].h.coffFiles;
    const std::uint16_t count = f.cabs[f.list].h.cFiles;
    for (std::uint32_t i = 0; i < count; ++i, at += e.bytes) {
        Cabinet &c = f.cabs[f.list];
        if (const int err = readFileOf(c, at, e))
            return err;
        const bool fromPrev = e.continuedFromPrev();
        if (fromPrev && !first)
            continue;  // reported in the cabinet where the file began
        const std::uint16_t index = e.iFolder == kContinuedToNext ? static_cast<std::uint16_t>(c.h.cFolders - 1)
                                                                   : (fromPrev ? 0 : e.iFolder);
        if (fromPrev || (zeroContinued && index == 0)) {
            if (const int err = partialFile(f, c, e))
                return err;
            continue;
        }
        const FolderId id = (index == 0 && c.continued) ? FolderId{c.contSeq, c.contFolder} : FolderId{c.seq, index};

        char *name = utf8Name(e, f.utf8);
        FDINOTIFICATION n{};
        n.psz1 = name;
        n.cb = static_cast<LONG>(e.cbFile);
        n.date = e.date;
        n.time = e.time;
        n.attribs = e.attribs;
        n.setID = c.h.setID;
        n.iCabinet = c.h.iCabinet;
        n.iFolder = e.iFolder;
        const INT_PTR hf = notify(f, fdintCOPY_FILE, n);
        if (hf == -1)
            return FDIERROR_USER_ABORT;
        if (hf == 0)
            continue;
        if (const int err = extract(f, id, index, e, hf))
            return err;

        FDINOTIFICATION close{};
        close.psz1 = name;
        close.hf = hf;
        close.date = e.date;
        close.time = e.time;
        close.attribs = static_cast<USHORT>(e.attribs & ~_A_EXEC);
        close.cb = (e.attribs & _A_EXEC) ? 1 : 0;
        close.setID = c.h.setID;
        close.iCabinet = f.cabs[f.list].h.iCabinet;
        close.iFolder = e.iFolder;
        const INT_PTR r = notify(f, fdintCLOSE_FILE_INFO, close);
        if (r == 0 || r == -1)
            return FDIERROR_USER_ABORT;
    }
    return FDIERROR_NONE;
}

Fdi *context(HFDI h) { return static_cast<Fdi *>(h); }

}  // namespace

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
               PFNCLOSE pfnclose, PFNSEEK pfnseek, int /*cpuType*/, PERF perf)
{
    if (!perf)
        return nullptr;
    *perf = ERF{FDIERROR_NONE, 0, kFalse};
    if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
        *perf = ERF{FDIERROR_ALLOC_FAIL, 0, kTrue};
        return nullptr;
    }
    void *raw = pfnalloc(sizeof(Fdi));
    if (!raw) {
        *perf = ERF{FDIERROR_ALLOC_FAIL, 0, kTrue};
        return nullptr;
    }
    Fdi *f = new (raw) Fdi;
    f->erf = perf;
    f->alloc = pfnalloc;
    f->free = pfnfree;
    f->open = pfnopen;
    f->read = pfnread;
    f->write = pfnwrite;
    f->close = pfnclose;
    f->seek = pfnseek;
    f->cabs[0].fdi = f->cabs[1].fdi = f;
    if (!f->pipe.init(ZAlloc{pfnalloc, pfnfree})) {
        f->~Fdi();
        pfnfree(raw);
        *perf = ERF{FDIERROR_ALLOC_FAIL, 0, kTrue};
        return nullptr;
    }
    return f;
}

BOOL FDIIsCabinet(HFDI hfdi, INT_PTR hf, PFDICABINETINFO pfdici)
{
    Fdi *f = context(hfdi);
    if (!f)
        return kFalse;
    std::uint8_t b[kHeaderFixed + kHeaderReserveFields];
    auto readFull = [&](std::uint8_t *p, UINT n) {
        UINT done = 0;
        while (done < n) {
            const UINT got = f->read(hf, p + done, n - done);
            if (got == 0 || got == static_cast<UINT>(-1) || got > n - done)
                return false;
            done += got;
        }
        return true;
    };
    CabinetHeader h;
    if (!readFull(b, kHeaderFixed))
        return fail(*f, FDIERROR_NOT_A_CABINET);
    if (const int e = parseFixedHeader(b, h))
        return fail(*f, e);
    if ((h.flags & kFlagReserve) && !readFull(b + kHeaderFixed, kHeaderReserveFields))
        return fail(*f, FDIERROR_NOT_A_CABINET);
    if (pfdici) {
        pfdici->cbCabinet = static_cast<LONG>(h.cbCabinet);
        pfdici->cFolders = h.cFolders;
        pfdici->cFiles = h.cFiles;
        pfdici->setID = h.setID;
        pfdici->iCabinet = h.iCabinet;
        pfdici->fReserve = (h.flags & kFlagReserve) ? kTrue : kFalse;
        pfdici->hasprev = (h.flags & kFlagPrev) ? kTrue : kFalse;
        pfdici->hasnext = (h.flags & kFlagNext) ? kTrue : kFalse;
    }
    return kTrue;
}

BOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int /*flags*/, PFNFDINOTIFY pfnfdin,
             PFNFDIDECRYPT /*pfnfdid*/, void *pvUser)
{
    Fdi *pf = context(hfdi);
    if (!pf)
        return kFalse;
    Fdi &f = *pf;
    if (!pszCabinet || !pfnfdin)
        return fail(f, FDIERROR_CABINET_NOT_FOUND);
    const char *path = pszCabPath ? pszCabPath : "";
    if (std::strlen(path) >= sizeof f.path || std::strlen(pszCabinet) >= kNameField)
        return fail(f, FDIERROR_CABINET_NOT_FOUND);
    std::strcpy(f.path, path);
    f.notify = pfnfdin;
    f.user = pvUser;
    f.list = 0;
    f.seqCounter = 0;
    f.dec = Decoder{};
    f.refused = 0;

    auto finish = [&](int err) {
        f.pipe.stop();
        closeCabinet(f, f.cabs[0]);
        closeCabinet(f, f.cabs[1]);
        return err == FDIERROR_NONE ? kTrue : fail(f, err);
    };
    int err = openCabinet(f, f.cabs[0], pszCabinet);
    if (err)
        return finish(err);
    f.cabs[0].seq = ++f.seqCounter;
    if (!cabinetInfo(f, f.cabs[0]))
        return finish(FDIERROR_USER_ABORT);
    bool first = true;
    for (;;) {
        if ((err = walkFiles(f, first)) != FDIERROR_NONE)
            return finish(err);
        // Files that begin in the cabinet the data led into come next.
        const int other = 1 - f.list;
        if (f.cabs[other].hf == -1 || f.cabs[other].seq < f.cabs[f.list].seq)
            break;
        if (f.dec.slot == f.list)
            f.dec.active = false;
        closeCabinet(f, f.cabs[f.list]);
        f.list = other;
        first = false;
    }
    return finish(FDIERROR_NONE);
}

BOOL FDIGetRefusedCompression(HFDI hfdi, TCOMP *ptypeCompress)
{
    const Fdi *f = context(hfdi);
    if (!f || !ptypeCompress || f->refused == 0)
        return kFalse;
    *ptypeCompress = f->refused;
    return kTrue;
}

BOOL FDIDestroy(HFDI hfdi)
{
    Fdi *f = context(hfdi);
    if (!f)
        return kFalse;
    PFNFREE freeFn = f->free;
    f->pipe.stop();
    f->~Fdi();
    freeFn(f);
    return kTrue;
}

}  // namespace cab
