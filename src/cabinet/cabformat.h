// Layout constants of the cabinet format and the data-block checksum,
// shared by the writer and the reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cabinet/cabintf.h"

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

}  // namespace cab::detail
