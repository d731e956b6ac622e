// The cabinet writer (FCI).
//
// Data of the open folder is compressed block by block and appended to a
// temporary file that holds the data area of the cabinet being built; file
// entries go to a second temporary file. Both are copied behind the header
// when the cabinet is written. When a cabinet fills up, the block that does
// not fit is cut in two and the folder goes on in the next cabinet; the folder
// is then closed after the file being added, so the continued folder of a
// cabinet holds only files that started in an earlier one. A folder that goes
// on in the next cabinet always ends in this one with such a cut block: when
// the cabinet fills up right behind a whole block, that block is cut after
// all, since other readers take a folder that ends on a whole block as
// complete.
//
// Each compression method has its own encoder behind a narrow interface
// (mszip.h, lzxencoder.h); a change of method between files closes the
// folder, so one cabinet can mix stored, MSZIP and LZX folders. Blocks are
// compressed on several threads (blockpool.h) and placed in the order they
// were read, all of them before a call returns: every report and every
// failure comes in the call, and in the order, that one thread would give.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "cabinet/blockpool.h"
#include "cabinet/cabformat.h"
#include "cabinet/fdifci.h"
#include "cabinet/lzxencoder.h"
#include "cabinet/mszip.h"

namespace cab {
namespace {

using namespace detail;

constexpr int kSeekSet = 0;
constexpr int kSeekEnd = 2;
constexpr int kTempNameSize = 1024;
constexpr int kTempAttempts = 8;
constexpr std::uint32_t kCopyBufferSize = 65536;
// Measured on ledger-like data: level 5 with the previous block as history
// packs better than gcab's output and is faster; level 6 costs a third more time.
constexpr int kDeflateLevel = 5;
constexpr std::uint32_t kMaxDataBlock = std::max(kMaxMszipBlock, lzx::kMaxFrameCompressed);
constexpr std::uint32_t kNextNamesRoom = CB_MAX_CABINET_NAME + CB_MAX_DISK_NAME;
constexpr std::uint32_t kMaxHeader =
    kHeaderFixed + kHeaderReserveFields + kMaxHeaderReserve + 2 * (CB_MAX_CABINET_NAME + CB_MAX_DISK_NAME);

struct Temp {
    char name[kTempNameSize] = {};
    INT_PTR hf = -1;
    std::uint32_t pos = 0;  // where the file pointer of the callback stands
};

// The open folder's last data block in this cabinet while it stands whole:
// the one to cut when the cabinet fills up right behind it.
struct LastBlock {
    bool whole = false;
    std::uint32_t offset = 0;  // in the data area
    std::uint32_t size = 0;    // compressed bytes, without the block header
    std::uint32_t uncompressed = 0;
};

struct FolderRecord {
    std::uint32_t dataOffset;  // in the data area of the cabinet
    std::uint32_t blocks;      // data blocks (or parts of one) in this cabinet
    TCOMP type;
};

struct Fci {
    PERF erf = nullptr;
    PFNFCIFILEPLACED placed = nullptr;
    PFNFCIALLOC alloc = nullptr;
    PFNFCIFREE free = nullptr;
    PFNFCIOPEN open = nullptr;
    PFNFCIREAD read = nullptr;
    PFNFCIWRITE write = nullptr;
    PFNFCICLOSE close = nullptr;
    PFNFCISEEK seek = nullptr;
    PFNFCIDELETE remove = nullptr;
    PFNFCIGETTEMPFILE getTemp = nullptr;
    void *pv = nullptr;
    // The callbacks of the call under way.
    PFNFCIGETNEXTCABINET getNext = nullptr;
    PFNFCISTATUS status = nullptr;

    CCAB ccab{};
    bool broken = false;      // a call failed half-way; the context only waits for FCIDestroy
    bool anyWritten = false;  // a cabinet file has been written

    // The cabinet being built.
    bool hasPrev = false;
    char prevCab[CB_MAX_CABINET_NAME] = {};
    char prevDisk[CB_MAX_DISK_NAME] = {};
    Temp data;
    Temp files[2];  // entries of this cabinet and of the previous one, in turn
    int cur = 0;
    std::uint32_t dataBytes = 0;
    std::uint32_t filesBytes = 0;
    std::uint32_t fileCount = 0;
    FolderRecord *folders = nullptr;  // kMaxRealFolders records
    std::uint32_t folderCount = 0;

    // The open folder.
    bool folderOpen = false;
    TCOMP folderType = 0;
    std::uint32_t folderSize = 0;        // uncompressed bytes given to it
    std::uint32_t folderPlaced = 0;      // uncompressed bytes in complete blocks of earlier and this cabinet
    std::uint32_t folderCompressed = 0;  // bytes of its data blocks
    std::uint32_t folderEntries = 0;     // offset of its first entry in this cabinet's entry file
    bool cutInFile = false;
    LastBlock last;
    std::uint32_t pendingLen = 0;  // bytes read into the pool's input
    bool chained = false;          // the next block follows one of the same folder

    ZAlloc mem;
    MszipEncoder encoder;
    LzxEncoder lzx;
    BlockPool pool;  // after the encoders: its workers stop before those go
    std::uint8_t recut[kMaxDataBlock];
    std::uint8_t block[kDataFixed + kMaxSmallReserve + kMaxDataBlock];
    std::uint8_t header[kMaxHeader];
    std::uint8_t copy[kCopyBufferSize];
};

BOOL fail(Fci &f, int oper, int type = 0, bool breaks = true)
{
    if (f.erf) {
        f.erf->erfOper = oper;
        f.erf->erfType = type;
        f.erf->fError = kTrue;
    }
    if (breaks)
        f.broken = true;
    return kFalse;
}

std::uint64_t cabinetLimit(const Fci &f)
{
    return (f.ccab.cb == 0 || f.ccab.cb > kMaxCabinetSize) ? kMaxCabinetSize : f.ccab.cb;
}

bool hasReserve(const Fci &f)
{
    return f.ccab.cbReserveCFHeader || f.ccab.cbReserveCFFolder || f.ccab.cbReserveCFData;
}

std::uint32_t folderEntrySize(const Fci &f) { return detail::folderEntrySize(f.ccab.cbReserveCFFolder); }
std::uint32_t dataHeaderSize(const Fci &f) { return detail::dataHeaderSize(f.ccab.cbReserveCFData); }

// The header of the cabinet being built; sizes and counts are filled in
// when it is written.
CabinetHeader cabinetHeader(const Fci &f, const CCAB *next)
{
    CabinetHeader h;
    h.setID = f.ccab.setID;
    h.iCabinet = static_cast<std::uint16_t>(f.ccab.iCab);
    if (hasReserve(f)) {
        h.flags |= kFlagReserve;
        h.headerReserve = static_cast<std::uint16_t>(f.ccab.cbReserveCFHeader);
        h.folderReserve = static_cast<std::uint8_t>(f.ccab.cbReserveCFFolder);
        h.dataReserve = static_cast<std::uint8_t>(f.ccab.cbReserveCFData);
    }
    if (f.hasPrev) {
        h.flags |= kFlagPrev;
        std::memcpy(h.prevCab, f.prevCab, sizeof h.prevCab);
        std::memcpy(h.prevDisk, f.prevDisk, sizeof h.prevDisk);
    }
    if (next) {
        h.flags |= kFlagNext;
        std::memcpy(h.nextCab, next->szCab, sizeof h.nextCab);
        std::memcpy(h.nextDisk, next->szDisk, sizeof h.nextDisk);
    }
    return h;
}

std::uint32_t headerSize(const Fci &f, const CCAB *next) { return detail::headerSize(cabinetHeader(f, next)); }

// Size of the cabinet with what it holds now, keeping room for the names of
// a next cabinet that are only known once it has been asked for.
std::uint64_t cabinetEstimate(const Fci &f)
{
    return std::uint64_t{headerSize(f, nullptr)} + kNextNamesRoom +
           std::uint64_t{f.folderCount} * folderEntrySize(f) + f.filesBytes + f.dataBytes;
}

// --- temporary files --------------------------------------------------------

bool openTemp(Fci &f, Temp &t)
{
    int lastErr = 0;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        if (!f.getTemp(t.name, kTempNameSize, f.pv))
            break;
        t.name[kTempNameSize - 1] = '\0';
        int err = 0;
        const INT_PTR hf = f.open(t.name, _O_RDWR | _O_BINARY | _O_CREAT | _O_EXCL | _O_SHORT_LIVED,
                                  _S_IREAD | _S_IWRITE, &err, f.pv);
        if (hf != -1) {
            t.hf = hf;
            t.pos = 0;
            return true;
        }
        lastErr = err;
    }
    t.name[0] = '\0';
    return fail(f, FCIERR_TEMP_FILE, lastErr);
}

void dropTemp(Fci &f, Temp &t)
{
    int err = 0;
    if (t.hf != -1)
        f.close(t.hf, &err, f.pv);
    t.hf = -1;
    if (t.name[0])
        f.remove(t.name, &err, f.pv);
    t.name[0] = '\0';
}

bool tempSeek(Fci &f, Temp &t, std::uint32_t offset)
{
    if (t.pos == offset)
        return true;
    int err = 0;
    if (f.seek(t.hf, static_cast<LONG>(offset), kSeekSet, &err, f.pv) != static_cast<LONG>(offset))
        return fail(f, FCIERR_TEMP_FILE, err);
    t.pos = offset;
    return true;
}

bool tempWrite(Fci &f, Temp &t, std::uint32_t offset, const void *p, std::uint32_t n)
{
    if (n == 0)
        return true;
    if (!tempSeek(f, t, offset))
        return false;
    int err = 0;
    if (f.write(t.hf, const_cast<void *>(p), n, &err, f.pv) != n) {
        t.pos = 0xFFFFFFFF;
        return fail(f, FCIERR_TEMP_FILE, err);
    }
    t.pos += n;
    return true;
}

bool tempRead(Fci &f, Temp &t, std::uint32_t offset, void *p, std::uint32_t n)
{
    if (n == 0)
        return true;
    if (!tempSeek(f, t, offset))
        return false;
    int err = 0;
    if (f.read(t.hf, p, n, &err, f.pv) != n) {
        t.pos = 0xFFFFFFFF;
        return fail(f, FCIERR_TEMP_FILE, err);
    }
    t.pos += n;
    return true;
}

// --- file entries -----------------------------------------------------------

// Reads back an entry this writer put into an entry file.
bool readEntry(Fci &f, Temp &t, std::uint32_t offset, std::uint32_t end, FileEntry &e)
{
    std::uint8_t raw[kFileFixed + kNameField];
    const std::uint32_t n = end - offset < sizeof raw ? end - offset : static_cast<std::uint32_t>(sizeof raw);
    if (!tempRead(f, t, offset, raw, n))
        return false;
    if (!parseFile(raw, n, e))
        return fail(f, FCIERR_TEMP_FILE);  // not what was written there
    return true;
}

bool writeEntry(Fci &f, Temp &t, std::uint32_t offset, const FileEntry &e)
{
    std::uint8_t raw[kFileFixed + kNameField];
    return tempWrite(f, t, offset, raw, writeFile(e, raw));
}

bool reportPlaced(Fci &f, FileEntry &e)
{
    if (f.placed(&f.ccab, e.name, static_cast<LONG>(e.cbFile), e.continuedFromPrev() ? kTrue : kFalse, f.pv) != 0)
        return fail(f, FCIERR_USER_ABORT);
    return true;
}

// Commits the open folder's entries of this cabinet. With a cut, entries of
// files that go on in the next cabinet are marked so first.
bool commitFolderEntries(Fci &f, bool cut)
{
    Temp &t = f.files[f.cur];
    FileEntry e;
    for (std::uint32_t off = f.folderEntries; off < f.filesBytes; off += e.bytes) {
        if (!readEntry(f, t, off, f.filesBytes, e))
            return false;
        const std::uint64_t end = std::uint64_t{e.uoffFolderStart} + e.cbFile;
        if (cut && end > f.folderPlaced) {
            e.iFolder = e.iFolder == kContinuedFromPrev ? kContinuedPrevAndNext : kContinuedToNext;
            if (!writeEntry(f, t, off, e))
                return false;
        }
        if (!reportPlaced(f, e))
            return false;
    }
    return true;
}

// --- writing a cabinet file -------------------------------------------------

bool writeAll(Fci &f, INT_PTR hf, const void *p, std::uint32_t n, int &err)
{
    return n == 0 || f.write(hf, const_cast<void *>(p), n, &err, f.pv) == n;
}

bool copyTemp(Fci &f, Temp &t, std::uint32_t bytes, INT_PTR hf, int &err, bool &tempFailed)
{
    for (std::uint32_t done = 0; done < bytes;) {
        const std::uint32_t n = bytes - done < kCopyBufferSize ? bytes - done : kCopyBufferSize;
        if (!tempRead(f, t, done, f.copy, n)) {
            tempFailed = true;
            return false;
        }
        if (!writeAll(f, hf, f.copy, n, err))
            return false;
        done += n;
    }
    return true;
}

void cabinetPath(const Fci &f, char (&path)[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME])
{
    std::snprintf(path, sizeof path, "%s%s", f.ccab.szCabPath, f.ccab.szCab);
}

bool writeCabinet(Fci &f, const CCAB *next, ULONG &actual)
{
    char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
    cabinetPath(f, path);

    CabinetHeader header = cabinetHeader(f, next);
    const std::uint32_t hdr = detail::headerSize(header);
    const std::uint32_t coffFiles = hdr + f.folderCount * folderEntrySize(f);
    const std::uint64_t total = std::uint64_t{coffFiles} + f.filesBytes + f.dataBytes;
    if (total > kMaxCabinetSize)
        return fail(f, FCIERR_CAB_FORMAT_LIMIT);
    const std::uint32_t dataStart = coffFiles + f.filesBytes;
    header.cbCabinet = static_cast<std::uint32_t>(total);
    header.coffFiles = coffFiles;
    header.cFolders = static_cast<std::uint16_t>(f.folderCount);
    header.cFiles = static_cast<std::uint16_t>(f.fileCount);
    writeHeader(header, f.header);

    int err = 0;
    const INT_PTR hf = f.open(path, _O_CREAT | _O_TRUNC | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE, &err, f.pv);
    if (hf == -1)
        return fail(f, FCIERR_CAB_FILE, err);

    bool tempFailed = false;
    bool ok = writeAll(f, hf, f.header, hdr, err);
    // Folder table, gathered in the copy buffer.
    std::uint32_t fill = 0;
    const std::uint32_t fsize = folderEntrySize(f);
    for (std::uint32_t i = 0; ok && i < f.folderCount; ++i) {
        if (fill + fsize > kCopyBufferSize) {
            ok = writeAll(f, hf, f.copy, fill, err);
            fill = 0;
        }
        const FolderRecord &r = f.folders[i];
        writeFolder(FolderEntry{dataStart + r.dataOffset, static_cast<std::uint16_t>(r.blocks), r.type},
                    f.ccab.cbReserveCFFolder, f.copy + fill);
        fill += fsize;
    }
    ok = ok && writeAll(f, hf, f.copy, fill, err);
    ok = ok && copyTemp(f, f.files[f.cur], f.filesBytes, hf, err, tempFailed);
    ok = ok && copyTemp(f, f.data, f.dataBytes, hf, err, tempFailed);

    int closeErr = 0;
    const bool closed = f.close(hf, &closeErr, f.pv) == 0;
    if (!ok || !closed) {
        int delErr = 0;
        f.remove(path, &delErr, f.pv);
        if (tempFailed)
            return false;  // the temp-file error is already recorded
        return fail(f, FCIERR_CAB_FILE, ok ? closeErr : err);
    }
    f.anyWritten = true;
    actual = static_cast<ULONG>(total);
    return true;
}

void resetCabinet(Fci &f)
{
    f.last.whole = false;
    f.dataBytes = 0;
    f.filesBytes = 0;
    f.fileCount = 0;
    f.folderCount = 0;
}

// The report comes once the cabinet is complete and closed. An abort there
// still fails the job, so the cabinet just written goes as well.
bool cabinetDone(Fci &f, ULONG estimate, ULONG actual)
{
    if (f.status && f.status(statusCabinet, estimate, actual, f.pv) == -1) {
        char path[CB_MAX_CAB_PATH + CB_MAX_CABINET_NAME];
        cabinetPath(f, path);
        int err = 0;
        f.remove(path, &err, f.pv);
        return fail(f, FCIERR_USER_ABORT);
    }
    return true;
}

// Writes the cabinet with a link to a next one and starts that one. With
// continuing, the open folder goes on there as folder 0.
bool cutCabinet(Fci &f, bool continuing)
{
    if (continuing && !commitFolderEntries(f, true))
        return false;
    if (!f.getNext)
        return fail(f, FCIERR_CAB_FORMAT_LIMIT);  // full, and no way to go on in another cabinet
    CCAB next = f.ccab;
    next.iCab += 1;
    const ULONG estimate = static_cast<ULONG>(cabinetEstimate(f));
    if (!f.getNext(&next, estimate, f.pv))
        return fail(f, FCIERR_USER_ABORT);
    next.szCab[CB_MAX_CABINET_NAME - 1] = '\0';
    next.szDisk[CB_MAX_DISK_NAME - 1] = '\0';
    next.szCabPath[CB_MAX_CAB_PATH - 1] = '\0';
    // What is already laid out keeps the reserves and set of this cabinet.
    next.cbReserveCFHeader = f.ccab.cbReserveCFHeader;
    next.cbReserveCFFolder = f.ccab.cbReserveCFFolder;
    next.cbReserveCFData = f.ccab.cbReserveCFData;
    next.setID = f.ccab.setID;

    ULONG actual = 0;
    if (!writeCabinet(f, &next, actual) || !cabinetDone(f, estimate, actual))
        return false;

    std::memcpy(f.prevCab, f.ccab.szCab, sizeof f.prevCab);
    std::memcpy(f.prevDisk, f.ccab.szDisk, sizeof f.prevDisk);
    f.hasPrev = true;
    f.ccab = next;
    const int old = f.cur;
    const std::uint32_t oldEnd = f.filesBytes;
    f.cur ^= 1;
    resetCabinet(f);
    if (!continuing)
        return true;

    f.folders[0] = FolderRecord{0, 0, f.folderType};
    f.folderCount = 1;
    // Files that go on get an entry here too, marked as continued.
    FileEntry e;
    const std::uint32_t start = f.folderEntries;
    f.folderEntries = 0;
    for (std::uint32_t off = start; off < oldEnd; off += e.bytes) {
        if (!readEntry(f, f.files[old], off, oldEnd, e))
            return false;
        if (!e.continuedToNext())
            continue;
        e.iFolder = kContinuedFromPrev;
        if (!writeEntry(f, f.files[f.cur], f.filesBytes, e))
            return false;
        f.filesBytes += e.bytes;
        f.fileCount += 1;
    }
    return true;
}

// --- data blocks ------------------------------------------------------------

bool writeBlock(Fci &f, const std::uint8_t *p, std::uint32_t n, std::uint32_t uncompressed)
{
    FolderRecord &folder = f.folders[f.folderCount - 1];
    if (folder.blocks >= 0xFFFF)
        return fail(f, FCIERR_CAB_FORMAT_LIMIT);
    const std::uint32_t reserve = f.ccab.cbReserveCFData;
    std::uint8_t *b = f.block;
    DataHeader d{0, static_cast<std::uint16_t>(n), static_cast<std::uint16_t>(uncompressed)};
    writeDataHeader(d, b);
    std::memset(b + kDataFixed, 0, reserve);
    std::memcpy(b + kDataFixed + reserve, p, n);
    d.csum = blockChecksum(b + 4, reserve, p, n);
    writeDataHeader(d, b);
    const std::uint32_t total = kDataFixed + reserve + n;
    if (!tempWrite(f, f.data, f.dataBytes, b, total))
        return false;
    f.last = LastBlock{uncompressed != 0, f.dataBytes, n, uncompressed};
    f.dataBytes += total;
    f.folderCompressed += total;
    folder.blocks += 1;
    return true;
}

std::uint64_t roomLeft(const Fci &f)
{
    const std::uint64_t size = cabinetEstimate(f);
    const std::uint64_t limit = cabinetLimit(f);
    return size < limit ? limit - size : 0;
}

bool cutLastBlock(Fci &f);

// Puts a compressed block into the cabinet, cutting it where the cabinet is
// full: every part but the last says 0 uncompressed bytes. With mustCut, at
// least the block's last byte goes on in the next cabinet.
bool placeBlock(Fci &f, const std::uint8_t *p, std::uint32_t n, std::uint32_t uncompressed, bool mustCut = false)
{
    const std::uint32_t hdr = dataHeaderSize(f);
    std::uint32_t done = 0;
    bool fresh = false;
    for (;;) {
        const std::uint64_t room = roomLeft(f);
        const std::uint32_t rest = n - done;
        if (!mustCut && hdr + std::uint64_t{rest} <= room) {
            if (!writeBlock(f, p + done, rest, uncompressed))
                return false;
            f.folderPlaced += uncompressed;
            return true;
        }
        if (room <= hdr) {
            if (fresh || mustCut || done > 0)
                return fail(f, FCIERR_CAB_FORMAT_LIMIT);  // not even one byte fits into a new cabinet
            // Not one byte fits behind the folder's last block: that one is cut instead.
            if (!cutLastBlock(f))
                return false;
            fresh = true;
            continue;
        }
        const std::uint64_t fitting = room - hdr;
        const auto part = static_cast<std::uint32_t>(std::min<std::uint64_t>(fitting, rest - (mustCut ? 1 : 0)));
        if (!writeBlock(f, p + done, part, 0))
            return false;
        done += part;
        if (!cutCabinet(f, true))
            return false;
        f.cutInFile = true;
        fresh = true;
        mustCut = false;
    }
}

// Takes the folder's last whole block back out of the full cabinet and puts
// it in again cut, its last byte going on in the next cabinet.
bool cutLastBlock(Fci &f)
{
    const LastBlock b = f.last;
    if (!b.whole || b.size < 2 || f.folderCount == 0)
        return fail(f, FCIERR_CAB_FORMAT_LIMIT);
    const std::uint32_t total = dataHeaderSize(f) + b.size;
    if (!tempRead(f, f.data, b.offset + dataHeaderSize(f), f.recut, b.size))
        return false;
    f.dataBytes -= total;
    f.folderCompressed -= total;
    f.folders[f.folderCount - 1].blocks -= 1;
    f.folderPlaced -= b.uncompressed;
    f.last.whole = false;
    return placeBlock(f, f.recut, b.size, b.uncompressed, true);
}

// Reports the oldest compressed block and puts it into the cabinet. After a
// failure the blocks behind it are dropped, as one thread would never have
// compressed them.
bool placeOldest(Fci &f)
{
    const BlockPool::Block b = f.pool.oldest();
    bool ok = !(f.status && f.status(statusFile, b.size, b.uncompressed, f.pv) == -1);
    if (!ok)
        fail(f, FCIERR_USER_ABORT);
    ok = ok && placeBlock(f, b.data, b.size, b.uncompressed);
    f.pool.pop();
    if (!ok)
        f.pool.discard();
    return ok;
}

bool placeAll(Fci &f)
{
    while (f.pool.backlog() > 0)
        if (!placeOldest(f))
            return false;
    return true;
}

// Hands the block read so far to the pool; takes back the oldest ones while
// the pool is full.
bool emitBlock(Fci &f)
{
    BlockPool::Kind kind = BlockPool::Kind::Lzx;
    if (f.folderType == tcompTYPE_MSZIP)
        kind = BlockPool::Kind::Mszip;
    else if (f.folderType == tcompTYPE_NONE)
        kind = BlockPool::Kind::Stored;
    f.pool.submit(f.pendingLen, kind, f.chained);
    f.chained = true;
    f.pendingLen = 0;
    while (f.pool.full())
        if (!placeOldest(f))
            return false;
    return true;
}

// The window exponent of an LZX type, or 0 for any other type.
int lzxWindowBits(TCOMP type)
{
    if ((type & tcompMASK_TYPE) != tcompTYPE_LZX || (type & ~(tcompMASK_TYPE | tcompMASK_LZX_WINDOW)) != 0)
        return 0;
    const int bits = (type & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW;
    return bits >= lzx::kMinWindowBits && bits <= lzx::kMaxWindowBits ? bits : 0;
}

bool knownType(TCOMP type) { return type == tcompTYPE_NONE || type == tcompTYPE_MSZIP || lzxWindowBits(type) != 0; }

bool openFolder(Fci &f, TCOMP type)
{
    if (const int bits = lzxWindowBits(type); bits && !f.lzx.reset(bits))
        return fail(f, FCIERR_ALLOC_FAIL, 0, false);
    f.folders[f.folderCount++] = FolderRecord{f.dataBytes, 0, type};
    f.folderOpen = true;
    f.folderType = type;
    f.folderSize = 0;
    f.folderPlaced = 0;
    f.folderCompressed = 0;
    f.folderEntries = f.filesBytes;
    f.cutInFile = false;
    f.last.whole = false;
    f.pendingLen = 0;
    f.chained = false;
    return true;
}

bool closeFolder(Fci &f)
{
    if (!f.folderOpen)
        return true;
    if (f.pendingLen > 0 && !emitBlock(f))
        return false;
    if (!placeAll(f))
        return false;
    if (f.status && f.status(statusFolder, f.folderCompressed, f.folderCompressed, f.pv) == -1)
        return fail(f, FCIERR_USER_ABORT);
    if (!commitFolderEntries(f, false))
        return false;
    f.folderOpen = false;
    f.cutInFile = false;
    f.chained = false;
    return true;
}

Fci *context(HFCI h) { return static_cast<Fci *>(h); }

bool beginCall(Fci *f, PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status)
{
    if (!f)
        return false;
    if (f->broken) {
        if (f->erf && !f->erf->fError)
            fail(*f, FCIERR_USER_ABORT);
        return false;
    }
    f->getNext = getNext;
    f->status = status;
    return true;
}

bool isAscii(const char *s)
{
    for (; *s; ++s)
        if (static_cast<unsigned char>(*s) > 0x7F)
            return false;
    return true;
}

void destroy(Fci *f)
{
    dropTemp(*f, f->data);
    dropTemp(*f, f->files[0]);
    dropTemp(*f, f->files[1]);
    PFNFCIFREE freeFn = f->free;
    FolderRecord *folders = f->folders;
    f->~Fci();
    if (folders)
        freeFn(folders);
    freeFn(f);
}

}  // namespace

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
               PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
               PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void *pv)
{
    if (!perf)
        return nullptr;
    *perf = ERF{FCIERR_NONE, 0, kFalse};
    auto reject = [perf](int oper) -> HFCI {
        *perf = ERF{oper, 0, kTrue};
        return nullptr;
    };
    if (!pfnfcifp || !pfna || !pfnf || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek || !pfndelete ||
        !pfnfcigtf || !pccab)
        return reject(FCIERR_ALLOC_FAIL);
    if (pccab->cbReserveCFHeader > kMaxHeaderReserve || pccab->cbReserveCFFolder > kMaxSmallReserve ||
        pccab->cbReserveCFData > kMaxSmallReserve)
        return reject(FCIERR_CAB_FORMAT_LIMIT);

    void *raw = pfna(sizeof(Fci));
    if (!raw)
        return reject(FCIERR_ALLOC_FAIL);
    Fci *f = new (raw) Fci;
    f->erf = perf;
    f->placed = pfnfcifp;
    f->alloc = pfna;
    f->free = pfnf;
    f->open = pfnopen;
    f->read = pfnread;
    f->write = pfnwrite;
    f->close = pfnclose;
    f->seek = pfnseek;
    f->remove = pfndelete;
    f->getTemp = pfnfcigtf;
    f->pv = pv;
    f->ccab = *pccab;
    f->ccab.szCab[CB_MAX_CABINET_NAME - 1] = '\0';
    f->ccab.szDisk[CB_MAX_DISK_NAME - 1] = '\0';
    f->ccab.szCabPath[CB_MAX_CAB_PATH - 1] = '\0';
    f->mem = ZAlloc{pfna, pfnf};
    f->lzx.init(f->mem);
    f->folders = static_cast<FolderRecord *>(pfna(sizeof(FolderRecord) * kMaxRealFolders));
    f->pool.init(f->mem, kDeflateLevel, writerThreads(), &f->encoder, &f->lzx);
    if (!f->folders || !f->encoder.init(f->mem, kDeflateLevel)) {
        destroy(f);
        return reject(FCIERR_ALLOC_FAIL);
    }
    if (!openTemp(*f, f->data) || !openTemp(*f, f->files[0]) || !openTemp(*f, f->files[1])) {
        const ERF e = *perf;
        destroy(f);
        *perf = e;
        return nullptr;
    }
    return f;
}

BOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, BOOL fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
                PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress)
{
    Fci *pf = context(hfci);
    if (!beginCall(pf, pfnfcignc, pfnfcis))
        return kFalse;
    Fci &f = *pf;
    if (!knownType(typeCompress))
        return fail(f, FCIERR_BAD_COMPR_TYPE, 0, false);
    if (!pszSourceFile || !pszFileName || !pfnfcigoi)
        return fail(f, FCIERR_OPEN_SRC, 0, false);
    const std::size_t nameLen = std::strlen(pszFileName);
    if (nameLen == 0 || nameLen > kMaxName)
        return fail(f, FCIERR_CAB_FORMAT_LIMIT, 0, false);

    USHORT date = 0, time = 0, attribs = 0;
    int err = 0;
    const INT_PTR hf = pfnfcigoi(pszSourceFile, &date, &time, &attribs, &err, f.pv);
    if (hf == -1)
        return fail(f, FCIERR_OPEN_SRC, err, false);
    auto closeSource = [&] {
        int e = 0;
        f.close(hf, &e, f.pv);
    };
    const LONG end = f.seek(hf, 0, kSeekEnd, &err, f.pv);
    if (end < 0 || f.seek(hf, 0, kSeekSet, &err, f.pv) != 0) {
        closeSource();
        return fail(f, FCIERR_READ_SRC, err, false);
    }
    const auto size = static_cast<std::uint32_t>(end);
    if (size > kMaxFileSize) {
        closeSource();
        return fail(f, FCIERR_CAB_FORMAT_LIMIT, 0, false);
    }
    if (fExecute)
        attribs |= _A_EXEC;
    if (!isAscii(pszFileName))
        attribs |= _A_NAME_IS_UTF;

    // From here on a failure leaves the cabinet half built.
    const std::uint32_t thresh = f.ccab.cbFolderThresh;
    if (f.folderOpen && (typeCompress != f.folderType || std::uint64_t{f.folderSize} + size > kMaxFileSize ||
                         (thresh && f.folderCompressed >= thresh))) {
        if (!closeFolder(f)) {
            closeSource();
            return kFalse;
        }
    }
    const std::uint32_t entrySize = kFileFixed + static_cast<std::uint32_t>(nameLen) + 1;
    auto fits = [&] {
        const std::uint32_t folderCost = f.folderOpen ? 0 : folderEntrySize(f);
        return f.fileCount < kMaxEntries && (f.folderOpen || f.folderCount < kMaxRealFolders) &&
               cabinetEstimate(f) + entrySize + folderCost + dataHeaderSize(f) + 1 <= cabinetLimit(f);
    };
    if (!fits()) {
        const bool empty = f.fileCount == 0 && f.folderCount == 0;
        if (!empty && (!closeFolder(f) || !cutCabinet(f, false))) {
            closeSource();
            return kFalse;
        }
        if (!fits()) {  // not even into an empty cabinet
            closeSource();
            return fail(f, FCIERR_CAB_FORMAT_LIMIT, 0, false);
        }
    }
    if (!f.folderOpen && !openFolder(f, typeCompress)) {
        closeSource();
        return kFalse;
    }

    FileEntry e;
    e.cbFile = size;
    e.uoffFolderStart = f.folderSize;
    e.iFolder = static_cast<std::uint16_t>(f.folderCount - 1);
    e.date = date;
    e.time = time;
    e.attribs = attribs;
    std::memcpy(e.name, pszFileName, nameLen + 1);
    if (!writeEntry(f, f.files[f.cur], f.filesBytes, e)) {
        closeSource();
        return kFalse;
    }
    f.filesBytes += entrySize;
    f.fileCount += 1;

    for (std::uint32_t remaining = size; remaining > 0;) {
        const std::uint32_t room = kBlockSize - f.pendingLen;
        const std::uint32_t want = remaining < room ? remaining : room;
        const UINT got = f.read(hf, f.pool.input() + f.pendingLen, want, &err, f.pv);
        if (got == static_cast<UINT>(-1) || got == 0 || got > want) {
            // What was read before still counts, and may fail first.
            const bool placed = placeAll(f);
            closeSource();
            return placed ? fail(f, FCIERR_READ_SRC, err) : kFalse;
        }
        f.pendingLen += got;
        remaining -= got;
        if (f.pendingLen == kBlockSize && !emitBlock(f)) {
            closeSource();
            return kFalse;
        }
    }
    if (!placeAll(f)) {
        closeSource();
        return kFalse;
    }
    closeSource();
    f.folderSize += size;
    if (f.cutInFile && !closeFolder(f))
        return kFalse;
    return kTrue;
}

BOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis)
{
    Fci *f = context(hfci);
    if (!beginCall(f, pfnfcignc, pfnfcis))
        return kFalse;
    return closeFolder(*f) ? kTrue : kFalse;
}

BOOL FCIFlushCabinet(HFCI hfci, BOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis)
{
    Fci *pf = context(hfci);
    if (!beginCall(pf, pfnfcignc, pfnfcis))
        return kFalse;
    Fci &f = *pf;
    if (!closeFolder(f))
        return kFalse;
    if (fGetNextCab)
        return cutCabinet(f, false) ? kTrue : kFalse;
    // A cabinet that another one names as next must exist, and a job always
    // leaves at least one cabinet, if only an empty one.
    if (f.fileCount > 0 || f.hasPrev || !f.anyWritten) {
        const ULONG estimate = static_cast<ULONG>(cabinetEstimate(f));
        ULONG actual = 0;
        if (!writeCabinet(f, nullptr, actual) || !cabinetDone(f, estimate, actual))
            return kFalse;
    }
    f.hasPrev = false;
    resetCabinet(f);
    return kTrue;
}

BOOL FCIDestroy(HFCI hfci)
{
    Fci *f = context(hfci);
    if (!f)
        return kFalse;
    destroy(f);
    return kTrue;
}

}  // namespace cab
