// Inflating MSZIP blocks. ISA-L's inflater, where the build has it, is two
// to three times faster than zlib's and takes a preset dictionary; zlib is
// the fallback (Windows builds).
#include "cabinet/mszip.h"

#include <cstring>
#include <new>

#include "cabinet/cabformat.h"

#ifdef QV_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace cab::detail {

// A whole block is the whole history; a short one (the last of a folder, or
// of a foreign writer's) is appended to what came before.
void MszipDecoder::keepHistory(const std::uint8_t *out, std::uint32_t n)
{
    if (n == kBlockSize) {
        history_ = out;
        historyLen_ = n;
        return;
    }
    const std::uint32_t keep = historyLen_ < kBlockSize - n ? historyLen_ : kBlockSize - n;
    if (keep > 0)
        std::memmove(window_, history_ + historyLen_ - keep, keep);
    std::memcpy(window_ + keep, out, n);
    history_ = window_;
    historyLen_ = keep + n;
}

#ifdef QV_HAVE_ISAL

namespace {
inflate_state *state(void *p) { return static_cast<inflate_state *>(p); }
}  // namespace

MszipDecoder::~MszipDecoder()
{
    if (window_)
        mem_.free(window_);
    if (state_)
        mem_.free(state_);
}

bool MszipDecoder::init(ZAlloc mem)
{
    mem_ = mem;
    void *raw = mem_.alloc(sizeof(inflate_state));
    if (!raw)
        return false;
    state_ = new (raw) inflate_state{};
    isal_inflate_init(state(state_));
    return true;
}

bool MszipDecoder::startFolder()
{
    historyLen_ = 0;
    if (!window_)
        window_ = static_cast<std::uint8_t *>(mem_.alloc(kBlockSize));
    return window_ != nullptr;
}

MszipDecoder::Result MszipDecoder::decode(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out,
                                          std::uint32_t expected)
{
    if (n < 2 || in[0] != 'C' || in[1] != 'K' || expected > kBlockSize)
        return Result::BadData;
    inflate_state *s = state(state_);
    isal_inflate_reset(s);
    s->crc_flag = ISAL_DEFLATE;
    s->hist_bits = 0;
    if (historyLen_ > 0 &&
        isal_inflate_set_dict(s, const_cast<std::uint8_t *>(history_), historyLen_) != ISAL_DECOMP_OK)
        return Result::BadData;
    s->next_in = const_cast<std::uint8_t *>(in + 2);
    s->avail_in = n - 2;
    s->next_out = out;
    s->avail_out = kBlockSize;
    const int rc = isal_inflate(s);
    // Finished, and exactly the expected bytes: a stream that wants more
    // room than a block, or stops early, is damaged.
    if (rc != ISAL_DECOMP_OK || s->block_state != ISAL_BLOCK_FINISH || s->total_out != expected)
        return Result::BadData;
    keepHistory(out, expected);
    return Result::Ok;
}

#else

namespace {

z_stream *stream(void *p) { return static_cast<z_stream *>(p); }

}  // namespace

MszipDecoder::~MszipDecoder()
{
    if (window_)
        mem_.free(window_);
    if (state_) {
        inflateEnd(stream(state_));
        mem_.free(state_);
    }
}

bool MszipDecoder::init(ZAlloc mem)
{
    mem_ = mem;
    z_stream *zs = NewZStream(mem_);
    if (!zs)
        return false;
    if (inflateInit2(zs, -15) != Z_OK) {
        mem_.free(zs);
        return false;
    }
    state_ = zs;
    return true;
}

// zlib allocates its own window at the first dictionary; that happens here,
// on the caller's thread, rather than in the middle of a folder.
bool MszipDecoder::startFolder()
{
    historyLen_ = 0;
    if (!window_)
        window_ = static_cast<std::uint8_t *>(mem_.alloc(kBlockSize));
    if (!window_)
        return false;
    z_stream *zs = stream(state_);
    if (inflateReset(zs) != Z_OK)
        return false;
    window_[0] = 0;
    return inflateSetDictionary(zs, window_, 1) == Z_OK;
}

MszipDecoder::Result MszipDecoder::decode(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out,
                                          std::uint32_t expected)
{
    if (n < 2 || in[0] != 'C' || in[1] != 'K' || expected > kBlockSize)
        return Result::BadData;
    z_stream *zs = stream(state_);
    if (inflateReset(zs) != Z_OK)
        return Result::BadData;
    if (historyLen_ > 0) {
        const int rc = inflateSetDictionary(zs, history_, historyLen_);
        if (rc != Z_OK)
            return rc == Z_MEM_ERROR ? Result::NoMemory : Result::BadData;
    }
    zs->next_in = const_cast<Bytef *>(in + 2);
    zs->avail_in = n - 2;
    zs->next_out = out;
    zs->avail_out = kBlockSize;
    const int rc = inflate(zs, Z_FINISH);
    if (rc == Z_MEM_ERROR)
        return Result::NoMemory;
    if (rc != Z_STREAM_END || kBlockSize - zs->avail_out != expected)
        return Result::BadData;
    keepHistory(out, expected);
    return Result::Ok;
}

#endif

}  // namespace cab::detail
