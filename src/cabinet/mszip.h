// MSZIP blocks: "CK" followed by one raw deflate stream, with the previous
// block of the folder as the history window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cabinet/fdifci.h"

struct z_stream_s;

namespace cab::detail {

// Memory for zlib comes from the library user's allocator.
struct ZAlloc {
    void *(*alloc)(ULONG cb) = nullptr;
    void (*free)(void *p) = nullptr;
};

// A zeroed zlib stream whose memory, its own included, comes from mem (which
// must outlive it); nullptr when out of memory.
z_stream_s *NewZStream(ZAlloc &mem);

class MszipEncoder {
public:
    ~MszipEncoder();
    // False when zlib could not be set up (out of memory).
    bool init(ZAlloc mem, int level);
    // Compresses n (1..32768) bytes into out (room for kMaxMszipBlock bytes),
    // referring back into dict (the previous block) when dictLen > 0.
    // Returns the block size, never more than kMaxMszipBlock.
    std::uint32_t encode(const std::uint8_t *in, std::uint32_t n, const std::uint8_t *dict, std::uint32_t dictLen,
                         std::uint8_t *out);

private:
    z_stream_s *zs_ = nullptr;
    ZAlloc mem_;
};

class MszipDecoder {
public:
    ~MszipDecoder();
    bool init(ZAlloc mem);
    // Starts a folder: no history yet. False when the history window cannot
    // be had (out of memory); it is allocated once and kept.
    bool startFolder();
    enum class Result { Ok, BadData, NoMemory };
    // Inflates the folder's next block into out (room for kBlockSize bytes).
    // Ok only when exactly expected bytes come out of a complete deflate
    // stream. The previous call's out is the history while it was a whole
    // block, so it must stay untouched until this call returns.
    Result decode(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out, std::uint32_t expected);

private:
    void keepHistory(const std::uint8_t *out, std::uint32_t n);

    void *state_ = nullptr;  // ISA-L's inflater where the build has it, zlib's otherwise
    ZAlloc mem_;
    std::uint8_t *window_ = nullptr;  // history pieced together after a short block
    const std::uint8_t *history_ = nullptr;
    std::uint32_t historyLen_ = 0;
};

}  // namespace cab::detail
