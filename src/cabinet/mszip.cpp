#include "cabinet/mszip.h"

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
    const std::uint32_t room = kMaxMszipBlock - 2;
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
    out[2] = 0x01;  // BFINAL, stored
    put16(out + 3, n);
    put16(out + 5, ~n & 0xFFFF);
    std::memcpy(out + 7, in, n);
    return 7 + n;
}

}  // namespace cab::detail
