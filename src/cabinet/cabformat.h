// The cabinet's on-disk structures, each read and written here and nowhere
// else: the header (CFHEADER), folder entries (CFFOLDER), file entries
// (CFFILE) and data block headers (CFDATA), with the layout constants and
// the data-block checksum. The writer (fci.cpp), the reader (fdi.cpp) and the
// listing of the reader component all go through these.
//
// Reading never trusts the file: every offset is checked against the end that
// may be read, and a string must find its NUL within 256 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cabinet/fdifci.h"

namespace cab::detail {

// Windows headers define TRUE and FALSE as macros; these names stay clear of them.
constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

constexpr std::uint32_t kHeaderFixed = 36;      // CFHEADER without optional fields
constexpr std::uint32_t kHeaderReserveFields = 4;  // cbCFHeader, cbCFFolder, cbCFData
constexpr std::uint32_t kFolderFixed = 8;
constexpr std::uint32_t kFileFixed = 16;
constexpr std::uint32_t kDataFixed = 8;

constexpr std::uint16_t kFlagPrev = 0x0001;
constexpr std::uint16_t kFlagNext = 0x0002;
constexpr std::uint16_t kFlagReserve = 0x0004;

constexpr std::uint16_t kContinuedFromPrev = 0xFFFD;
constexpr std::uint16_t kContinuedToNext = 0xFFFE;
constexpr std::uint16_t kContinuedPrevAndNext = 0xFFFF;
constexpr std::uint16_t kMaxRealFolders = 0xFFFD;  // indexes from here on are continuation codes

constexpr std::uint32_t kBlockSize = 32768;        // uncompressed bytes per data block
constexpr std::uint32_t kMaxMszipBlock = 32780;    // "CK" + 32 KiB in two stored deflate blocks
constexpr std::uint32_t kMaxFileSize = 0x7FFF8000;  // also the largest folder
constexpr std::uint32_t kMaxCabinetSize = 0x7FFFFFFF;
constexpr std::uint32_t kMaxHeaderReserve = 60000;
constexpr std::uint32_t kMaxSmallReserve = 255;
constexpr std::uint32_t kMaxName = 255;            // bytes, without the terminating NUL
constexpr std::uint32_t kNameField = kMaxName + 1;
constexpr std::uint32_t kMaxEntries = 0xFFFF;

constexpr std::uint8_t kVersionMinor = 3;
constexpr std::uint8_t kVersionMajor = 1;

inline std::uint16_t get16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t get32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(std::uint8_t *p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t *p, std::uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

// Where structures are read from: bytes at an offset of one cabinet file.
class Source {
public:
    // n bytes at offset into p; false when not all of them lie before limit
    // or could be read.
    bool read(std::uint32_t offset, void *p, std::uint32_t n)
    {
        if (std::uint64_t{offset} + n > limit)
            return false;
        return n == 0 || readRaw(offset, p, n);
    }
    std::uint32_t limit = 0;  // the file's size, or the cabinet's stated size when smaller

protected:
    ~Source() = default;
    virtual bool readRaw(std::uint32_t offset, void *p, std::uint32_t n) = 0;
};

// --- CFHEADER -------------------------------------------------------------------

struct CabinetHeader {
    std::uint32_t cbCabinet = 0;
    std::uint32_t coffFiles = 0;
    std::uint16_t cFolders = 0;
    std::uint16_t cFiles = 0;
    std::uint16_t flags = 0;
    std::uint16_t setID = 0;
    std::uint16_t iCabinet = 0;
    std::uint16_t headerReserve = 0;  // with kFlagReserve
    std::uint8_t folderReserve = 0;
    std::uint8_t dataReserve = 0;
    char prevCab[kNameField] = {};  // with kFlagPrev
    char prevDisk[kNameField] = {};
    char nextCab[kNameField] = {};  // with kFlagNext
    char nextDisk[kNameField] = {};
    std::uint32_t folderTable = 0;  // where the folder entries begin: the header's size
};

// The fixed first 36 bytes: FDIERROR_NONE for a cabinet of the version we
// read, else FDIERROR_NOT_A_CABINET or FDIERROR_UNKNOWN_CABINET_VERSION.
// Whether a file is a cabinet at all is decided here and only here.
int parseFixedHeader(const std::uint8_t *b, CabinetHeader &h);
// The three reserve sizes that follow with kFlagReserve (4 bytes).
int parseHeaderReserve(const std::uint8_t *b, CabinetHeader &h);
// The whole header, names included; narrows src.limit to cbCabinet. A file
// too short for the fixed part is not a cabinet; a header that runs past
// the end or past its own file entries is corrupt.
int readHeader(Source &src, CabinetHeader &h);
// Bytes the header takes as its flags, reserve and names say.
std::uint32_t headerSize(const CabinetHeader &h);
// Writes the header (zeros for its reserve); returns its size.
std::uint32_t writeHeader(const CabinetHeader &h, std::uint8_t *out);

// --- CFFOLDER -------------------------------------------------------------------

struct FolderEntry {
    std::uint32_t coffCabStart = 0;  // first data block, in this cabinet
    std::uint16_t cCFData = 0;       // data blocks (or parts of one) in this cabinet
    TCOMP typeCompress = 0;
};

// Whether folders of this method can be read: stored, MSZIP, and LZX with a
// window of 2^15..2^21 bytes; nothing with stray bits beside the method's own.
bool methodSupported(TCOMP type);

inline std::uint32_t folderEntrySize(std::uint32_t folderReserve) { return kFolderFixed + folderReserve; }
// The folder entry of that index; FDIERROR_CORRUPT_CABINET when there is none.
int readFolder(Source &src, const CabinetHeader &h, std::uint16_t index, FolderEntry &out);
// The entry and its reserve (zeros), folderEntrySize(reserve) bytes.
void writeFolder(const FolderEntry &e, std::uint32_t reserve, std::uint8_t *out);

// --- CFFILE ---------------------------------------------------------------------

struct FileEntry {
    std::uint32_t cbFile = 0;
    std::uint32_t uoffFolderStart = 0;
    std::uint16_t iFolder = 0;
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint16_t attribs = 0;
    char name[kNameField] = {};
    std::uint32_t bytes = 0;  // the entry's size in the cabinet

    bool continuedFromPrev() const { return iFolder == kContinuedFromPrev || iFolder == kContinuedPrevAndNext; }
    bool continuedToNext() const { return iFolder == kContinuedToNext || iFolder == kContinuedPrevAndNext; }
};

// The entry's name as UTF-8: a name flagged as UTF-8 as it stands (e.name),
// any other read as Windows-1250 into out (kUtf8NameField bytes).
constexpr std::uint32_t kUtf8NameField = kMaxName * 3 + 1;
char *utf8Name(FileEntry &e, char *out);
// The entry at offset at; FDIERROR_CORRUPT_CABINET when it runs past the end
// or its name is empty or longer than 255 bytes.
int readFile(Source &src, std::uint32_t at, FileEntry &out);
// The same from n bytes in memory; false where readFile fails.
bool parseFile(const std::uint8_t *raw, std::uint32_t n, FileEntry &out);
// Writes the entry with its name; returns its size (e.bytes is not used).
std::uint32_t writeFile(const FileEntry &e, std::uint8_t *out);

// --- CFDATA ---------------------------------------------------------------------

struct DataHeader {
    std::uint32_t csum = 0;
    std::uint16_t cbData = 0;
    std::uint16_t cbUncomp = 0;
};

inline std::uint32_t dataHeaderSize(std::uint32_t dataReserve) { return kDataFixed + dataReserve; }
DataHeader parseDataHeader(const std::uint8_t *b);
// Writes the header's 8 bytes; the reserve after it is the caller's.
void writeDataHeader(const DataHeader &d, std::uint8_t *out);

// The folding function of the format: little-endian words XORed together,
// a tail of 1-3 bytes packed the other way round.
inline std::uint32_t checksumFold(const std::uint8_t *p, std::size_t n, std::uint32_t seed)
{
    std::uint32_t c = seed;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
        c ^= get32(p + i);
    std::uint32_t tail = 0;
    switch (n - i) {
    case 3:
        tail = (static_cast<std::uint32_t>(p[i]) << 16) | (static_cast<std::uint32_t>(p[i + 1]) << 8) | p[i + 2];
        break;
    case 2:
        tail = (static_cast<std::uint32_t>(p[i]) << 8) | p[i + 1];
        break;
    case 1:
        tail = p[i];
        break;
    default:
        break;
    }
    return c ^ tail;
}

// Checksum of a data block: its data first, then the header words after csum
// (cbData, cbUncomp) followed by the block's reserve, if any.
inline std::uint32_t blockChecksum(const std::uint8_t *sizes4AndReserve, std::size_t reserve, const std::uint8_t *data,
                                   std::size_t cbData)
{
    return checksumFold(sizes4AndReserve, 4 + reserve, checksumFold(data, cbData, 0));
}

// Whether a block's stored checksum holds: 0 is "not computed"; a cabinet
// with a data reserve may have left the reserve out of it.
inline bool checksumHolds(std::uint32_t csum, const std::uint8_t *sizes4AndReserve, std::size_t reserve,
                          const std::uint8_t *data, std::size_t cbData)
{
    return csum == 0 || blockChecksum(sizes4AndReserve, reserve, data, cbData) == csum ||
           (reserve != 0 && blockChecksum(sizes4AndReserve, 0, data, cbData) == csum);
}

}  // namespace cab::detail
