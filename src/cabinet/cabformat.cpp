#include "cabinet/cabformat.h"

#include <cstring>

#include "cabinet/lzxformat.h"

namespace cab::detail {
namespace {

// A NUL-terminated string of at most 255 bytes at offset; its size with the
// NUL, or 0 when there is none where it must be.
std::uint32_t readString(Source &src, std::uint32_t offset, char *out)
{
    if (offset >= src.limit)
        return 0;
    const std::uint32_t avail = src.limit - offset;
    const std::uint32_t n = avail < kNameField ? avail : kNameField;
    if (!src.read(offset, out, n))
        return 0;
    const void *nul = std::memchr(out, 0, n);
    if (!nul)
        return 0;
    return static_cast<std::uint32_t>(static_cast<const char *>(nul) - out) + 1;
}

std::uint32_t nameBytes(const char *s) { return static_cast<std::uint32_t>(std::strlen(s)) + 1; }

void parseFileFixed(const std::uint8_t *raw, FileEntry &e)
{
    e.cbFile = get32(raw);
    e.uoffFolderStart = get32(raw + 4);
    e.iFolder = get16(raw + 8);
    e.date = get16(raw + 10);
    e.time = get16(raw + 12);
    e.attribs = get16(raw + 14);
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


}  // namespace

bool methodSupported(TCOMP type)
{
    if (type == tcompTYPE_NONE || type == tcompTYPE_MSZIP)
        return true;
    if ((type & ~tcompMASK_LZX_WINDOW) != tcompTYPE_LZX)
        return false;
    const int bits = (type & tcompMASK_LZX_WINDOW) >> tcompSHIFT_LZX_WINDOW;
    return bits >= lzx::kMinWindowBits && bits <= lzx::kMaxWindowBits;
}

char *utf8Name(FileEntry &e, char *out)
{
    if (e.attribs & _A_NAME_IS_UTF)
        return e.name;
    cp1250ToUtf8(e.name, out);
    return out;
}

int parseFixedHeader(const std::uint8_t *b, CabinetHeader &h)
{
    if (std::memcmp(b, "MSCF", 4) != 0)
        return FDIERROR_NOT_A_CABINET;
    if (b[25] != kVersionMajor || b[24] != kVersionMinor)
        return FDIERROR_UNKNOWN_CABINET_VERSION;
    h.cbCabinet = get32(b + 8);
    h.coffFiles = get32(b + 16);
    h.cFolders = get16(b + 26);
    h.cFiles = get16(b + 28);
    h.flags = get16(b + 30);
    h.setID = get16(b + 32);
    h.iCabinet = get16(b + 34);
    return FDIERROR_NONE;
}

int parseHeaderReserve(const std::uint8_t *b, CabinetHeader &h)
{
    h.headerReserve = get16(b);
    h.folderReserve = b[2];
    h.dataReserve = b[3];
    return h.headerReserve > kMaxHeaderReserve ? FDIERROR_CORRUPT_CABINET : FDIERROR_NONE;
}

int readHeader(Source &src, CabinetHeader &h)
{
    h = CabinetHeader{};
    std::uint8_t b[kHeaderFixed + kHeaderReserveFields];
    if (!src.read(0, b, kHeaderFixed))
        return FDIERROR_NOT_A_CABINET;
    if (const int e = parseFixedHeader(b, h))
        return e;
    if (h.cbCabinet < src.limit)
        src.limit = h.cbCabinet;
    std::uint64_t pos = kHeaderFixed;
    if (h.flags & kFlagReserve) {
        if (!src.read(kHeaderFixed, b + kHeaderFixed, kHeaderReserveFields))
            return FDIERROR_NOT_A_CABINET;
        if (const int e = parseHeaderReserve(b + kHeaderFixed, h))
            return e;
        pos += kHeaderReserveFields + h.headerReserve;
    }
    auto twoNames = [&](char *cabinet, char *disk) {
        const std::uint32_t a = pos <= src.limit ? readString(src, static_cast<std::uint32_t>(pos), cabinet) : 0;
        if (!a)
            return false;
        pos += a;
        const std::uint32_t d = readString(src, static_cast<std::uint32_t>(pos), disk);
        pos += d;
        return d != 0;
    };
    if ((h.flags & kFlagPrev) && !twoNames(h.prevCab, h.prevDisk))
        return FDIERROR_CORRUPT_CABINET;
    if ((h.flags & kFlagNext) && !twoNames(h.nextCab, h.nextDisk))
        return FDIERROR_CORRUPT_CABINET;
    h.folderTable = static_cast<std::uint32_t>(pos);
    const std::uint64_t tableEnd = pos + std::uint64_t{h.cFolders} * folderEntrySize(h.folderReserve);
    if (tableEnd > h.coffFiles || h.coffFiles > src.limit)
        return FDIERROR_CORRUPT_CABINET;
    return FDIERROR_NONE;
}

std::uint32_t headerSize(const CabinetHeader &h)
{
    std::uint32_t n = kHeaderFixed;
    if (h.flags & kFlagReserve)
        n += kHeaderReserveFields + h.headerReserve;
    if (h.flags & kFlagPrev)
        n += nameBytes(h.prevCab) + nameBytes(h.prevDisk);
    if (h.flags & kFlagNext)
        n += nameBytes(h.nextCab) + nameBytes(h.nextDisk);
    return n;
}

std::uint32_t writeHeader(const CabinetHeader &h, std::uint8_t *out)
{
    std::memset(out, 0, kHeaderFixed);
    std::memcpy(out, "MSCF", 4);
    put32(out + 8, h.cbCabinet);
    put32(out + 16, h.coffFiles);
    out[24] = kVersionMinor;
    out[25] = kVersionMajor;
    put16(out + 26, h.cFolders);
    put16(out + 28, h.cFiles);
    put16(out + 30, h.flags);
    put16(out + 32, h.setID);
    put16(out + 34, h.iCabinet);
    std::uint32_t pos = kHeaderFixed;
    if (h.flags & kFlagReserve) {
        put16(out + pos, h.headerReserve);
        out[pos + 2] = h.folderReserve;
        out[pos + 3] = h.dataReserve;
        std::memset(out + pos + kHeaderReserveFields, 0, h.headerReserve);
        pos += kHeaderReserveFields + h.headerReserve;
    }
    auto putName = [&](const char *s) {
        const std::uint32_t n = nameBytes(s);
        std::memcpy(out + pos, s, n);
        pos += n;
    };
    if (h.flags & kFlagPrev) {
        putName(h.prevCab);
        putName(h.prevDisk);
    }
    if (h.flags & kFlagNext) {
        putName(h.nextCab);
        putName(h.nextDisk);
    }
    return pos;
}

int readFolder(Source &src, const CabinetHeader &h, std::uint16_t index, FolderEntry &out)
{
    if (index >= h.cFolders)
        return FDIERROR_CORRUPT_CABINET;
    std::uint8_t b[kFolderFixed];
    const std::uint32_t at = h.folderTable + std::uint32_t{index} * folderEntrySize(h.folderReserve);
    if (!src.read(at, b, kFolderFixed))
        return FDIERROR_CORRUPT_CABINET;
    out.coffCabStart = get32(b);
    out.cCFData = get16(b + 4);
    out.typeCompress = get16(b + 6);
    return FDIERROR_NONE;
}

void writeFolder(const FolderEntry &e, std::uint32_t reserve, std::uint8_t *out)
{
    put32(out, e.coffCabStart);
    put16(out + 4, e.cCFData);
    put16(out + 6, e.typeCompress);
    std::memset(out + kFolderFixed, 0, reserve);
}

int readFile(Source &src, std::uint32_t at, FileEntry &out)
{
    std::uint8_t raw[kFileFixed];
    if (!src.read(at, raw, kFileFixed))
        return FDIERROR_CORRUPT_CABINET;
    const std::uint32_t n = readString(src, at + kFileFixed, out.name);
    if (n <= 1)
        return FDIERROR_CORRUPT_CABINET;
    parseFileFixed(raw, out);
    out.bytes = kFileFixed + n;
    return FDIERROR_NONE;
}

bool parseFile(const std::uint8_t *raw, std::uint32_t n, FileEntry &out)
{
    if (n <= kFileFixed)
        return false;
    const std::uint32_t room = n - kFileFixed < kNameField ? n - kFileFixed : kNameField;
    const void *nul = std::memchr(raw + kFileFixed, 0, room);
    if (!nul || nul == raw + kFileFixed)
        return false;
    const auto len = static_cast<std::uint32_t>(static_cast<const std::uint8_t *>(nul) - (raw + kFileFixed));
    parseFileFixed(raw, out);
    std::memcpy(out.name, raw + kFileFixed, len + 1);
    out.bytes = kFileFixed + len + 1;
    return true;
}

std::uint32_t writeFile(const FileEntry &e, std::uint8_t *out)
{
    put32(out, e.cbFile);
    put32(out + 4, e.uoffFolderStart);
    put16(out + 8, e.iFolder);
    put16(out + 10, e.date);
    put16(out + 12, e.time);
    put16(out + 14, e.attribs);
    const std::uint32_t n = nameBytes(e.name);
    std::memcpy(out + kFileFixed, e.name, n);
    return kFileFixed + n;
}

DataHeader parseDataHeader(const std::uint8_t *b) { return DataHeader{get32(b), get16(b + 4), get16(b + 6)}; }

void writeDataHeader(const DataHeader &d, std::uint8_t *out)
{
    put32(out, d.csum);
    put16(out + 4, d.cbData);
    put16(out + 6, d.cbUncomp);
}

}  // namespace cab::detail
