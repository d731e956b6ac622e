// The cabinet reader (FDI).
//
// Nothing read from a cabinet is trusted: every offset and count is checked
// against the readable end of the file before use, strings are searched for
// their NUL within 256 bytes, and no buffer is sized by a value from the file.
// File entries are read one at a time, folder entries on demand.
//
// Data blocks are joined across cabinets where a block was cut in two and
// handed to the folder's codec: copied as they are, inflated (MSZIP), or
// decoded as the next frame of the folder's LZX stream. A folder whose
// method is not one of these is refused, and the method is kept for the
// caller's message (FDIGetRefusedCompression).
//
// Decoding runs on a thread of its own, a few blocks ahead of the files being
// written: the caller's thread reads blocks ahead and writes the output, so
// every callback stays on the thread that called FDICopy. Blocks read ahead
// are only ever the current cabinet's, and a block that could not be read
// ahead is read again when its turn comes, so failures are reported where
// they were before and the next cabinet is asked for only when needed.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "cabinet/cabformat.h"
#include "cabinet/cabintf.h"
#include "cabinet/lzxdecoder.h"
#include "cabinet/mszip.h"

namespace cab {
namespace {

using namespace detail;

constexpr int kSeekSet = 0;
constexpr int kSeekEnd = 2;
constexpr int kNameBuffer = 256;
constexpr int kMaxRetries = 64;  // failed attempts at one next cabinet before giving up
constexpr std::uint32_t kMaxBlockData =
    kMaxMszipBlock > lzx::kMaxFrameCompressed ? kMaxMszipBlock : lzx::kMaxFrameCompressed;

int lzxWindowBits(TCOMP type) { return (type & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW; }

// Stored, MSZIP and LZX with a window of 2^15..2^21 bytes; nothing else,
// and no stray bits beside the method's own.
bool supportedMethod(TCOMP type)
{
    if (type == tcompTYPE_NONE || type == tcompTYPE_MSZIP)
        return true;
    if ((type & ~tcompMASK_LZX_WINDOW) != tcompTYPE_LZX)
        return false;
    const int bits = lzxWindowBits(type);
    return bits >= lzx::kMinWindowBits && bits <= lzx::kMaxWindowBits;
}

// Windows-1250 bytes 0x80-0xFF as Unicode. Bytes without a character keep
// their value (as C1 controls) so that no two names collapse into one.
constexpr std::uint16_t kCp1250High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164,
    0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0161, 0x203A,
    0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9,
    0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139,
    0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1,
    0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD,
    0x0163, 0x02D9,
};

// out must hold 3 bytes per input byte plus the NUL.
void cp1250ToUtf8(const char *in, char *out)
{
    auto *o = reinterpret_cast<unsigned char *>(out);
    for (auto *p = reinterpret_cast<const unsigned char *>(in); *p; ++p) {
        const std::uint32_t c = *p < 0x80 ? *p : kCp1250High[*p - 0x80];
        if (c < 0x80) {
            *o++ = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            *o++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            *o++ = static_cast<unsigned char>(0xE0 | (c >> 12));
            *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    *o = '\0';
}

struct Cabinet {
    INT_PTR hf = -1;
    std::uint32_t limit = 0;  // end of what may be read: the file or cbCabinet, the smaller
    std::uint32_t coffFiles = 0;
    std::uint32_t folderTable = 0;
    std::uint16_t cFolders = 0;
    std::uint16_t cFiles = 0;
    std::uint16_t flags = 0;
    std::uint16_t setID = 0;
    std::uint16_t iCabinet = 0;
    std::uint8_t folderReserve = 0;
    std::uint8_t dataReserve = 0;
    std::uint32_t seq = 0;         // order in which this FDICopy call entered it
    bool continued = false;        // its folder 0 goes on from the previous cabinet
    std::uint32_t contSeq = 0;     // ... and that folder began in this cabinet of the chain
    std::uint16_t contFolder = 0;  // ... as this folder
    char prevCab[kNameBuffer] = {};
    char prevDisk[kNameBuffer] = {};
    char nextCab[kNameBuffer] = {};
    char nextDisk[kNameBuffer] = {};
};

struct FolderId {
    std::uint32_t seq;
    std::uint16_t index;
    bool operator==(const FolderId &) const = default;
};

// One data block on its way: read by the caller's thread, checked and
// decoded by the worker.
struct Slot {
    std::uint32_t inLen = 0;
    std::uint32_t size = 0;  // uncompressed bytes
    bool check = false;      // checksum still to verify (blocks read whole at once)
    bool last = false;       // LZX: no frame follows in this folder
    std::uint32_t csum = 0;
    std::uint32_t reserve = 0;
    std::uint8_t head[4 + kMaxSmallReserve];  // cbData, cbUncomp, reserve: what the checksum covers
    int result = 0;          // FDIERROR_ code of the decoding
    const std::uint8_t *data = nullptr;  // the decoded bytes
    std::uint8_t in[kMaxBlockData];
    std::uint8_t out[kBlockSize];
};

constexpr std::uint32_t kSlots = 8;  // blocks in flight; also bounds the memory used
// A folder gets the worker once this many of its blocks were needed: small
// cabinets are done sooner without starting a thread.
constexpr std::uint32_t kInlineBlocks = 4;

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
    std::uint32_t blocksTaken = 0;
};

// Counters of the block ring, under the mutex. Block k lives in slot
// k % kSlots: read up to submitted, decoded up to decoded, handed out up to
// taken; a slot is free again once the block after it is handed out.
struct Pipeline {
    std::mutex m;
    std::condition_variable work;
    std::condition_variable done;
    std::uint64_t submitted = 0;
    std::uint64_t decoded = 0;
    std::uint64_t taken = 0;
    bool quit = false;
    bool running = false;  // false: no thread could be had; blocks decode inline
    std::thread thread;
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
    ZAlloc mem;
    MszipDecoder inflater;
    LzxDecoder lzx;
    TCOMP refused = 0;  // method of the folder last refused with FDIERROR_BAD_COMPR_TYPE

    // State of one FDICopy call.
    PFNFDINOTIFY notify = nullptr;
    void *user = nullptr;
    char path[CB_MAX_CAB_PATH] = {};  // folder of the cabinets; the application may change it
    Cabinet cabs[2];
    int list = 0;  // cabinet whose file entries are being walked
    std::uint32_t seqCounter = 0;
    Decoder dec;
    Pipeline pipe;
    // The worker's view of the folder, set while it is idle.
    TCOMP workType = 0;
    bool workFailed = false;  // a block failed: the folder's later blocks are not decoded

    Slot slots[kSlots];
    char utf8[kNameBuffer * 3];
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

bool readAt(Fdi &f, const Cabinet &c, std::uint32_t offset, void *p, std::uint32_t n)
{
    if (std::uint64_t{offset} + n > c.limit)
        return false;
    if (n == 0)
        return true;
    if (f.seek(c.hf, static_cast<LONG>(offset), kSeekSet) != static_cast<LONG>(offset))
        return false;
    return f.read(c.hf, p, n) == n;
}

// Reads a NUL-terminated string of at most 255 bytes; returns its size with
// the NUL, or 0 when there is none where it must be.
std::uint32_t readString(Fdi &f, const Cabinet &c, std::uint32_t offset, char *out)
{
    if (offset >= c.limit)
        return 0;
    const std::uint32_t avail = c.limit - offset;
    const std::uint32_t n = avail < kNameBuffer ? avail : kNameBuffer;
    if (!readAt(f, c, offset, out, n))
        return 0;
    const void *nul = std::memchr(out, 0, n);
    if (!nul)
        return 0;
    return static_cast<std::uint32_t>(static_cast<const char *>(nul) - out) + 1;
}

int checkFixedHeader(const std::uint8_t *h)
{
    if (std::memcmp(h, "MSCF", 4) != 0)
        return FDIERROR_NOT_A_CABINET;
    if (h[25] != kVersionMajor || h[24] != kVersionMinor)
        return FDIERROR_UNKNOWN_CABINET_VERSION;
    return FDIERROR_NONE;
}

void closeCabinet(Fdi &f, Cabinet &c)
{
    if (c.hf != -1)
        f.close(c.hf);
    c = Cabinet{};
}

int openCabinet(Fdi &f, Cabinet &c, const char *name)
{
    closeCabinet(f, c);
    char full[CB_MAX_CAB_PATH + kNameBuffer];
    std::snprintf(full, sizeof full, "%s%s", f.path, name);
    c.hf = f.open(full, _O_RDONLY | _O_BINARY, 0);
    if (c.hf == -1)
        return FDIERROR_CABINET_NOT_FOUND;
    const LONG len = f.seek(c.hf, 0, kSeekEnd);
    if (len < static_cast<LONG>(kHeaderFixed))
        return FDIERROR_NOT_A_CABINET;
    c.limit = static_cast<std::uint32_t>(len);
    std::uint8_t h[kHeaderFixed + kHeaderReserveFields];
    if (!readAt(f, c, 0, h, kHeaderFixed))
        return FDIERROR_NOT_A_CABINET;
    if (const int e = checkFixedHeader(h))
        return e;
    const std::uint32_t cbCabinet = get32(h + 8);
    if (cbCabinet < c.limit)
        c.limit = cbCabinet;
    c.coffFiles = get32(h + 16);
    c.cFolders = get16(h + 26);
    c.cFiles = get16(h + 28);
    c.flags = get16(h + 30);
    c.setID = get16(h + 32);
    c.iCabinet = get16(h + 34);
    std::uint64_t pos = kHeaderFixed;
    if (c.flags & kFlagReserve) {
        if (!readAt(f, c, kHeaderFixed, h + kHeaderFixed, kHeaderReserveFields))
            return FDIERROR_NOT_A_CABINET;
        const std::uint32_t headerReserve = get16(h + kHeaderFixed);
        if (headerReserve > kMaxHeaderReserve)
            return FDIERROR_CORRUPT_CABINET;
        c.folderReserve = h[kHeaderFixed + 2];
        c.dataReserve = h[kHeaderFixed + 3];
        pos += kHeaderReserveFields + headerReserve;
    }
    auto name2 = [&](char *a, char *b) {
        const std::uint32_t na = pos <= c.limit ? readString(f, c, static_cast<std::uint32_t>(pos), a) : 0;
        if (!na)
            return false;
        pos += na;
        const std::uint32_t nb = readString(f, c, static_cast<std::uint32_t>(pos), b);
        pos += nb;
        return nb != 0;
    };
    if ((c.flags & kFlagPrev) && !name2(c.prevCab, c.prevDisk))
        return FDIERROR_CORRUPT_CABINET;
    if ((c.flags & kFlagNext) && !name2(c.nextCab, c.nextDisk))
        return FDIERROR_CORRUPT_CABINET;
    c.folderTable = static_cast<std::uint32_t>(pos);
    const std::uint64_t tableEnd = pos + std::uint64_t{c.cFolders} * (kFolderFixed + c.folderReserve);
    if (tableEnd > c.coffFiles || c.coffFiles > c.limit)
        return FDIERROR_CORRUPT_CABINET;
    return FDIERROR_NONE;
}

struct FolderEntry {
    std::uint32_t start;
    std::uint16_t blocks;
    TCOMP type;
};

int readFolder(Fdi &f, const Cabinet &c, std::uint16_t index, FolderEntry &out)
{
    if (index >= c.cFolders)
        return FDIERROR_CORRUPT_CABINET;
    std::uint8_t e[kFolderFixed];
    const std::uint32_t at = c.folderTable + std::uint32_t{index} * (kFolderFixed + c.folderReserve);
    if (!readAt(f, c, at, e, kFolderFixed))
        return FDIERROR_CORRUPT_CABINET;
    out.start = get32(e);
    out.blocks = get16(e + 4);
    out.type = get16(e + 6);
    if (!supportedMethod(out.type)) {
        f.refused = out.type;
        return FDIERROR_BAD_COMPR_TYPE;
    }
    if (out.start > c.limit)
        return FDIERROR_CORRUPT_CABINET;
    return FDIERROR_NONE;
}

struct FileEntry {
    std::uint32_t size;
    std::uint32_t offset;
    std::uint16_t iFolder;
    std::uint16_t date;
    std::uint16_t time;
    std::uint16_t attribs;
    char name[kNameBuffer];
    std::uint32_t bytes;  // size of the entry in the cabinet
};

int readFile(Fdi &f, const Cabinet &c, std::uint32_t at, FileEntry &e)
{
    std::uint8_t raw[kFileFixed];
    if (!readAt(f, c, at, raw, kFileFixed))
        return FDIERROR_CORRUPT_CABINET;
    const std::uint32_t n = readString(f, c, at + kFileFixed, e.name);
    if (n <= 1)
        return FDIERROR_CORRUPT_CABINET;
    e.size = get32(raw);
    e.offset = get32(raw + 4);
    e.iFolder = get16(raw + 8);
    e.date = get16(raw + 10);
    e.time = get16(raw + 12);
    e.attribs = get16(raw + 14);
    e.bytes = kFileFixed + n;
    if (std::uint64_t{e.offset} + e.size > kMaxFileSize)
        return FDIERROR_CORRUPT_CABINET;
    const bool fromPrev = e.iFolder == kContinuedFromPrev || e.iFolder == kContinuedPrevAndNext;
    const bool toNext = e.iFolder == kContinuedToNext || e.iFolder == kContinuedPrevAndNext;
    if (e.iFolder >= kMaxRealFolders) {
        if (c.cFolders == 0 || (fromPrev && !(c.flags & kFlagPrev)) || (toNext && !(c.flags & kFlagNext)))
            return FDIERROR_CORRUPT_CABINET;
    } else if (e.iFolder >= c.cFolders) {
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
    char next[kNameBuffer], disk[kNameBuffer];
    std::memcpy(next, c.nextCab, sizeof next);
    std::memcpy(disk, c.nextDisk, sizeof disk);
    n.psz1 = next;
    n.psz2 = disk;
    n.psz3 = f.path;
    n.setID = c.setID;
    n.iCabinet = c.iCabinet;
    const INT_PTR r = notify(f, fdintCABINET_INFO, n);
    f.path[CB_MAX_CAB_PATH - 1] = '\0';
    return r != -1;
}

// --- data -------------------------------------------------------------------

// Opens the cabinet that follows the one the decoder reads, asking the
// application again while it is wrong or missing.
int followChain(Fdi &f)
{
    Cabinet &from = f.cabs[f.dec.slot];
    char name[kNameBuffer], disk[kNameBuffer];
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
        char nameCopy[kNameBuffer], diskCopy[kNameBuffer];
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
            if (to.setID != setID || to.iCabinet != iCabinet + 1 || !(to.flags & kFlagPrev) || to.cFolders == 0)
                fdie = FDIERROR_WRONG_CABINET;
            else if (to.folderReserve != folderReserve || to.dataReserve != dataReserve)
                fdie = FDIERROR_RESERVE_MISMATCH;
            else if ((fdie = readFolder(f, to, 0, first)) == FDIERROR_NONE && first.type != f.dec.type)
                fdie = FDIERROR_WRONG_CABINET;
            if (fdie == FDIERROR_NONE) {
                to.seq = ++f.seqCounter;
                to.continued = true;
                to.contSeq = f.dec.id.seq;
                to.contFolder = f.dec.id.index;
                f.dec.slot = slot;
                f.dec.nextBlock = first.start;
                f.dec.blocksLeft = first.blocks;
                f.dec.mayContinue = to.cFolders == 1 && (to.flags & kFlagNext);
                return cabinetInfo(f, to) ? FDIERROR_NONE : FDIERROR_USER_ABORT;
            }
        }
        closeCabinet(f, to);
    }
}

// --- decoding ----------------------------------------------------------------

// Checks and decodes one block; runs on the worker, or inline.
void decodeSlot(Fdi &f, Slot &s)
{
    s.data = s.out;
    if (f.workFailed) {
        s.result = FDIERROR_MDI_FAIL;
        return;
    }
    s.result = FDIERROR_NONE;
    if (s.check && blockChecksum(s.head, s.reserve, s.in, s.inLen) != s.csum &&
        (s.reserve == 0 || blockChecksum(s.head, 0, s.in, s.inLen) != s.csum)) {
        s.result = FDIERROR_CORRUPT_CABINET;
    } else if (f.workType == tcompTYPE_NONE) {
        if (s.inLen != s.size)
            s.result = FDIERROR_CORRUPT_CABINET;
        s.data = s.in;
    } else if ((f.workType & tcompMASK_TYPE) == tcompTYPE_LZX) {
        if (f.lzx.decodeFrame(s.in, s.inLen, s.out, s.size, s.last) != LzxDecoder::Result::Ok)
            s.result = FDIERROR_MDI_FAIL;
    } else {
        const auto r = f.inflater.decode(s.in, s.inLen, s.out, s.size);
        if (r != MszipDecoder::Result::Ok)
            s.result = r == MszipDecoder::Result::NoMemory ? FDIERROR_ALLOC_FAIL : FDIERROR_MDI_FAIL;
    }
    if (s.result != FDIERROR_NONE)
        f.workFailed = true;
}

void workerLoop(Fdi &f)
{
    Pipeline &p = f.pipe;
    std::unique_lock lock(p.m);
    for (;;) {
        p.work.wait(lock, [&] { return p.quit || p.decoded < p.submitted; });
        if (p.quit)
            return;
        Slot &s = f.slots[p.decoded % kSlots];
        lock.unlock();
        decodeSlot(f, s);
        lock.lock();
        ++p.decoded;
        p.done.notify_one();
    }
}

void startWorker(Fdi &f)
{
    Pipeline &p = f.pipe;
    if (p.running)
        return;
    p.quit = false;
    try {
        p.thread = std::thread(workerLoop, std::ref(f));
        p.running = true;
    } catch (...) {
        p.running = false;  // no thread: the caller's thread decodes
    }
}

// Waits for the worker to finish what it was given and forgets the blocks
// in flight.
void drain(Fdi &f)
{
    Pipeline &p = f.pipe;
    std::unique_lock lock(p.m);
    p.done.wait(lock, [&] { return p.decoded == p.submitted; });
    p.taken = p.submitted;
    f.dec.out = nullptr;
}

void stopWorker(Fdi &f)
{
    Pipeline &p = f.pipe;
    if (!p.running)
        return;
    drain(f);
    {
        std::lock_guard lock(p.m);
        p.quit = true;
    }
    p.work.notify_one();
    p.thread.join();
    p.running = false;
}

bool slotFree(Fdi &f)
{
    std::lock_guard lock(f.pipe.m);
    // The block being handed out (taken - 1) is still being written from.
    return f.pipe.submitted - f.pipe.taken + 1 < kSlots;
}

Slot &nextFreeSlot(Fdi &f)
{
    std::lock_guard lock(f.pipe.m);
    return f.slots[f.pipe.submitted % kSlots];
}

void submit(Fdi &f)
{
    Pipeline &p = f.pipe;
    if (!p.running) {
        decodeSlot(f, f.slots[p.submitted % kSlots]);
        ++p.submitted;
        ++p.decoded;
        return;
    }
    {
        std::lock_guard lock(p.m);
        ++p.submitted;
    }
    p.work.notify_one();
}

std::uint32_t maxBlockData(TCOMP type)
{
    if (type == tcompTYPE_MSZIP)
        return kMaxMszipBlock;
    if ((type & tcompMASK_TYPE) == tcompTYPE_LZX)
        return lzx::kMaxFrameCompressed;
    return kBlockSize;
}

int startFolder(Fdi &f, FolderId id, std::uint16_t index)
{
    const Cabinet &c = f.cabs[f.list];
    FolderEntry fe{};
    if (const int e = readFolder(f, c, index, fe))
        return e;
    drain(f);
    f.dec = Decoder{};
    f.dec.active = true;
    f.dec.id = id;
    f.dec.slot = f.list;
    f.dec.type = fe.type;
    f.dec.nextBlock = fe.start;
    f.dec.blocksLeft = fe.blocks;
    f.dec.mayContinue = index + 1 == c.cFolders && (c.flags & kFlagNext);
    f.workType = fe.type;
    f.workFailed = false;
    if ((fe.type & tcompMASK_TYPE) == tcompTYPE_LZX) {
        const auto r = f.lzx.reset(f.mem, lzxWindowBits(fe.type));
        if (r != LzxDecoder::Result::Ok)
            return r == LzxDecoder::Result::NoMemory ? FDIERROR_ALLOC_FAIL : FDIERROR_BAD_COMPR_TYPE;
    } else if (fe.type == tcompTYPE_MSZIP && !f.inflater.startFolder()) {
        return FDIERROR_ALLOC_FAIL;
    }
    return FDIERROR_NONE;
}

// Reads whole blocks of the current cabinet into free slots and hands them
// to the worker; without one, only the block due. Stops quietly at anything out of the ordinary (the end of
// the cabinet's blocks, a block cut in two, a failed read, bad sizes):
// readBlock meets it again when that block is due.
void readAhead(Fdi &f)
{
    Decoder &d = f.dec;
    const std::uint32_t maxData = maxBlockData(d.type);
    const bool one = !f.pipe.running;
    while (d.blocksLeft > 0 && slotFree(f)) {
        const Cabinet &c = f.cabs[d.slot];
        Slot &s = nextFreeSlot(f);
        std::uint8_t h[kDataFixed + kMaxSmallReserve];
        const std::uint32_t hsize = kDataFixed + c.dataReserve;
        if (!readAt(f, c, d.nextBlock, h, hsize))
            return;
        const std::uint32_t cbData = get16(h + 4);
        const std::uint32_t size = get16(h + 6);
        if (cbData > maxData || size > kBlockSize || size == 0)
            return;
        if (!readAt(f, c, d.nextBlock + hsize, s.in, cbData))
            return;
        s.inLen = cbData;
        s.size = size;
        s.csum = get32(h);
        s.check = s.csum != 0;
        s.reserve = c.dataReserve;
        std::memcpy(s.head, h + 4, 4 + c.dataReserve);
        d.nextBlock += hsize + cbData;
        d.blocksLeft -= 1;
        s.last = size < kBlockSize || (d.blocksLeft == 0 && !d.mayContinue);
        submit(f);
        if (one)
            return;
    }
}

// Reads the folder's next block where reading ahead stopped, joining the
// parts of a block that was cut between cabinets; failures are reported.
int readBlock(Fdi &f)
{
    Decoder &d = f.dec;
    const std::uint32_t maxData = maxBlockData(d.type);
    Slot &s = nextFreeSlot(f);
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
        const Cabinet &c = f.cabs[d.slot];
        std::uint8_t h[kDataFixed + kMaxSmallReserve];
        const std::uint32_t hsize = kDataFixed + c.dataReserve;
        if (!readAt(f, c, d.nextBlock, h, hsize))
            return FDIERROR_CORRUPT_CABINET;
        const std::uint32_t csum = get32(h);
        const std::uint32_t cbData = get16(h + 4);
        uncompressed = get16(h + 6);
        if (have + cbData > maxData || uncompressed > kBlockSize)
            return FDIERROR_CORRUPT_CABINET;
        if (!readAt(f, c, d.nextBlock + hsize, s.in + have, cbData))
            return FDIERROR_CORRUPT_CABINET;
        if (csum != 0 && blockChecksum(h + 4, c.dataReserve, s.in + have, cbData) != csum &&
            (c.dataReserve == 0 || blockChecksum(h + 4, 0, s.in + have, cbData) != csum))
            return FDIERROR_CORRUPT_CABINET;
        d.nextBlock += hsize + cbData;
        d.blocksLeft -= 1;
        have += cbData;
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
    submit(f);
    return FDIERROR_NONE;
}

// Makes the folder's next decoded block the current one.
int nextBlock(Fdi &f)
{
    Decoder &d = f.dec;
    Pipeline &p = f.pipe;
    bool queued;
    {
        std::lock_guard lock(p.m);
        queued = p.submitted > p.taken;
    }
    if (!queued) {
        readAhead(f);
        std::lock_guard lock(p.m);
        queued = p.submitted > p.taken;
    }
    if (!queued) {
        if (const int e = readBlock(f))
            return e;
    }
    Slot *s;
    {
        std::unique_lock lock(p.m);
        p.done.wait(lock, [&] { return p.decoded > p.taken; });
        s = &f.slots[p.taken % kSlots];
        ++p.taken;
    }
    if (s->result != FDIERROR_NONE)
        return s->result;
    d.outStart += d.outLen;
    d.outLen = s->size;
    d.out = s->data;
    if (++d.blocksTaken == kInlineBlocks)
        startWorker(f);
    // Keep the worker busy while this block is written out.
    if (p.running)
        readAhead(f);
    return FDIERROR_NONE;
}

int extract(Fdi &f, FolderId id, std::uint16_t index, const FileEntry &e, INT_PTR hf)
{
    if (e.size == 0)
        return FDIERROR_NONE;
    Decoder &d = f.dec;
    if (!d.active || !(d.id == id) || d.outStart > e.offset) {
        if (id.seq != f.cabs[f.list].seq)
            return FDIERROR_CORRUPT_CABINET;  // the folder began in a cabinet no longer at hand
        if (const int err = startFolder(f, id, index))
            return err;
    }
    std::uint32_t pos = e.offset;
    std::uint32_t remaining = e.size;
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

bool folderZeroContinued(Fdi &f, const Cabinet &c)
{
    if (!(c.flags & kFlagPrev))
        return false;
    FileEntry e;
    std::uint32_t at = c.coffFiles;
    for (std::uint32_t i = 0; i < c.cFiles; ++i, at += e.bytes) {
        if (readFile(f, c, at, e) != FDIERROR_NONE)
            return false;
        if (e.iFolder == kContinuedFromPrev || e.iFolder == kContinuedPrevAndNext)
            return true;
    }
    return false;
}

int partialFile(Fdi &f, const Cabinet &c, FileEntry &e)
{
    FDINOTIFICATION n{};
    char prev[kNameBuffer], disk[kNameBuffer];
    std::memcpy(prev, c.prevCab, sizeof prev);
    std::memcpy(disk, c.prevDisk, sizeof disk);
    n.psz1 = e.name;
    n.psz2 = prev;
    n.psz3 = disk;
    n.setID = c.setID;
    n.iCabinet = c.iCabinet;
    return notify(f, fdintPARTIAL_FILE, n) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
}

int walkFiles(Fdi &f, bool first)
{
    FileEntry e;
    const bool zeroContinued = first && folderZeroContinued(f, f.cabs[f.list]);
    std::uint32_t at = f.cabs[f.list].coffFiles;
    const std::uint16_t count = f.cabs[f.list].cFiles;
    for (std::uint32_t i = 0; i < count; ++i, at += e.bytes) {
        const Cabinet &c = f.cabs[f.list];
        if (const int err = readFile(f, c, at, e))
            return err;
        const bool fromPrev = e.iFolder == kContinuedFromPrev || e.iFolder == kContinuedPrevAndNext;
        if (fromPrev && !first)
            continue;  // reported in the cabinet where the file began
        const std::uint16_t index = e.iFolder == kContinuedToNext ? static_cast<std::uint16_t>(c.cFolders - 1)
                                                                   : (fromPrev ? 0 : e.iFolder);
        if (fromPrev || (zeroContinued && index == 0)) {
            if (const int err = partialFile(f, c, e))
                return err;
            continue;
        }
        const FolderId id = (index == 0 && c.continued) ? FolderId{c.contSeq, c.contFolder} : FolderId{c.seq, index};

        char *name = e.name;
        if (!(e.attribs & _A_NAME_IS_UTF)) {
            cp1250ToUtf8(e.name, f.utf8);
            name = f.utf8;
        }
        FDINOTIFICATION n{};
        n.psz1 = name;
        n.cb = static_cast<LONG>(e.size);
        n.date = e.date;
        n.time = e.time;
        n.attribs = e.attribs;
        n.setID = c.setID;
        n.iCabinet = c.iCabinet;
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
        close.setID = c.setID;
        close.iCabinet = f.cabs[f.list].iCabinet;
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
    f->mem = ZAlloc{pfnalloc, pfnfree};
    if (!f->inflater.init(f->mem)) {
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
    std::uint8_t h[kHeaderFixed + kHeaderReserveFields];
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
    if (!readFull(h, kHeaderFixed))
        return fail(*f, FDIERROR_NOT_A_CABINET);
    if (const int e = checkFixedHeader(h))
        return fail(*f, e);
    const std::uint16_t flags = get16(h + 30);
    if ((flags & kFlagReserve) && !readFull(h + kHeaderFixed, kHeaderReserveFields))
        return fail(*f, FDIERROR_NOT_A_CABINET);
    if (pfdici) {
        pfdici->cbCabinet = static_cast<LONG>(get32(h + 8));
        pfdici->cFolders = get16(h + 26);
        pfdici->cFiles = get16(h + 28);
        pfdici->setID = get16(h + 32);
        pfdici->iCabinet = get16(h + 34);
        pfdici->fReserve = (flags & kFlagReserve) ? kTrue : kFalse;
        pfdici->hasprev = (flags & kFlagPrev) ? kTrue : kFalse;
        pfdici->hasnext = (flags & kFlagNext) ? kTrue : kFalse;
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
    if (std::strlen(path) >= sizeof f.path || std::strlen(pszCabinet) >= kNameBuffer)
        return fail(f, FDIERROR_CABINET_NOT_FOUND);
    std::strcpy(f.path, path);
    f.notify = pfnfdin;
    f.user = pvUser;
    f.list = 0;
    f.seqCounter = 0;
    f.dec = Decoder{};
    f.refused = 0;

    auto finish = [&](int err) {
        stopWorker(f);
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
    stopWorker(*f);
    f->~Fdi();
    freeFn(f);
    return kTrue;
}

}  // namespace cab
