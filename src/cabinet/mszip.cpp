#include "cabinet/mszip.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstring>
#include <new>

#include <zlib.h>

#include "cabinet/cabformat.h"

namespace cab::detail {
namespace {

voidpf zAlloc(voidpf opaque, uInt items, uInt size)
{
    auto *mem = static_cast<ZAlloc *>(opaque);
    const unsigned long long bytes = static_cast<unsigned long long>(items) * size;
    if (bytes == 0 || bytes > 0xFFFFFFFFULL)
        return Z_NULL;
    return mem->alloc(static_cast<ULONG>(bytes));
}

void zFree(voidpf opaque, voidpf p)
{
    if (p)
        static_cast<ZAlloc *>(opaque)->free(p);
}

}  // namespace

z_stream *NewZStream(ZAlloc &mem)
{
    void *raw = mem.alloc(sizeof(z_stream));
    if (!raw)
        return nullptr;
    auto *zs = new (raw) z_stream{};
    zs->zalloc = zAlloc;
    zs->zfree = zFree;
    zs->opaque = &mem;
    return zs;
}

namespace {

// The block may refer 32 KiB back, but the last 16 KiB give nearly all the
// matches: under 1 % larger, about a tenth faster than handing zlib the
// whole previous block.
constexpr std::uint32_t kDictionaryBytes = 16384;

// Bytes that are spread this evenly and never repeat (already compressed
// attachments) shrink by less than a deflate header costs, and zlib spends a
// fifth of its time on them for nothing: such a block is stored as it is.
constexpr double kStoreAboveBitsPerByte = 7.9;
constexpr std::uint32_t kJudgedFrom = 4096;  // fewer bytes say too little

double bitsPerByte(const std::uint8_t *in, std::uint32_t n)
{
    std::uint32_t count[256] = {};
    for (std::uint32_t i = 0; i < n; ++i)
        ++count[in[i]];
    double sum = 0;
    for (const std::uint32_t c : count)
        if (c)
            sum += c * std::log2(static_cast<double>(c));
    return std::log2(static_cast<double>(n)) - sum / n;
}

// True when enough 4-byte strings of the block occur earlier in it that
// deflate would gain from them: one slot a hash, the latest position wins.
bool repeatsWithin(const std::uint8_t *in, std::uint32_t n)
{
    constexpr int kHashBits = 14;
    constexpr std::uint16_t kNone = 0xFFFF;
    std::uint16_t latest[1u << kHashBits];
    std::fill(std::begin(latest), std::end(latest), kNone);
    std::uint32_t repeats = 0;
    for (std::uint32_t i = 0; i + 4 <= n; ++i) {
        std::uint32_t v;
        std::memcpy(&v, in + i, 4);
        const std::uint32_t h = (v * 2654435761u) >> (32 - kHashBits);
        const std::uint16_t p = latest[h];
        if (p != kNone && std::memcmp(in + p, in + i, 4) == 0)
            ++repeats;
        latest[h] = static_cast<std::uint16_t>(i);
    }
    return repeats > n / 64;
}

std::uint32_t storeBlock(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out)
{
    out[2] = 0x01;  // BFINAL, stored
    put16(out + 3, n);
    put16(out + 5, ~n & 0xFFFF);
    std::memcpy(out + 7, in, n);
    return 7 + n;
}

}  // namespace

MszipEncoder::~MszipEncoder()
{
    if (zs_) {
        deflateEnd(zs_);
        mem_.free(zs_);
    }
}

bool MszipEncoder::init(ZAlloc mem, int level)
{
    mem_ = mem;
    zs_ = NewZStream(mem_);
    if (!zs_)
        return false;
    if (deflateInit2(zs_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        mem_.free(zs_);
        zs_ = nullptr;
        return false;
    }
    return true;
}

std::uint32_t MszipEncoder::encode(const std::uint8_t *in, std::uint32_t n, const std::uint8_t *dict,
                                   std::uint32_t dictLen, std::uint8_t *out)
{
    out[0] = 'C';
    out[1] = 'K';
    if (n >= kJudgedFrom && bitsPerByte(in, n) > kStoreAboveBitsPerByte && !repeatsWithin(in, n))
        return storeBlock(in, n, out);
    const std::uint32_t room = kMaxMszipBlock - 2;
    if (dictLen > kDictionaryBytes) {
        dict += dictLen - kDictionaryBytes;
        dictLen = kDictionaryBytes;
    }
    bool ok = deflateReset(zs_) == Z_OK;
    if (ok && dictLen > 0)
        ok = deflateSetDictionary(zs_, dict, dictLen) == Z_OK;
    if (ok) {
        zs_->next_in = const_cast<Bytef *>(in);
        zs_->avail_in = n;
        zs_->next_out = out + 2;
        zs_->avail_out = room;
        ok = deflate(zs_, Z_FINISH) == Z_STREAM_END;
    }
    if (ok)
        return 2 + (room - zs_->avail_out);
    // Data that does not shrink goes into one stored deflate block, which
    // always fits: 2 + 5 + 32768 bytes.
    return storeBlock(in, n, out);
}

}  // namespace cab::detail
