#include "cabinet/mszip.h"

#include <cmath>
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

z_stream *newStream(ZAlloc &mem)
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

// The block may refer 32 KiB back, but the last 16 KiB give nearly all the
// matches: under 1 % larger, about a tenth faster than handing zlib the
// whole previous block.
constexpr std::uint32_t kDictionaryBytes = 16384;

// Bytes that are spread this evenly (already compressed attachments) hardly
// shrink, and zlib's thorough levels spend a fifth of their time on them for
// nothing. Such a block goes through the fastest level, which still finds
// repeats within it; zlib stores the block itself when even that does not
// pay.
constexpr double kQuickAboveBitsPerByte = 7.9;
constexpr int kQuickLevel = 1;
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
    level_ = level;
    zs_ = newStream(mem_);
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
    const bool quick = n >= kJudgedFrom && bitsPerByte(in, n) > kQuickAboveBitsPerByte;
    const std::uint32_t room = kMaxMszipBlock - 2;
    if (dictLen > kDictionaryBytes) {
        dict += dictLen - kDictionaryBytes;
        dictLen = kDictionaryBytes;
    }
    bool ok = deflateReset(zs_) == Z_OK;
    // A reset keeps the level; change it only when this block needs another.
    if (ok && quick != quick_) {
        ok = deflateParams(zs_, quick ? kQuickLevel : level_, Z_DEFAULT_STRATEGY) == Z_OK;
        quick_ = quick;
    }
    if (ok && dictLen > 0 && !quick)
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
