#include "cabinet/lzxdecoder.h"

#include <cstring>

#include "cabinet/cabformat.h"

namespace cab::detail {

using namespace lzx;

namespace {

// E8 translation stops after the first 2^30 bytes of a folder (32768 frames).
constexpr std::uint32_t kE8Limit = 1u << 30;
// The last 10 bytes of a frame are never taken for a call instruction.
constexpr std::uint32_t kE8Tail = 10;

}  // namespace

// --- Huffman tables ---------------------------------------------------------

template <int Symbols, int TableBits>
bool LzxHuffman<Symbols, TableBits>::build(const std::uint8_t *lengths, int n)
{
    std::memset(count, 0, sizeof count);
    for (int s = 0; s < n; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    std::int32_t left = 1;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        left = (left << 1) - count[len];
        if (left < 0)
            return false;
    }
    std::uint32_t code = 0;
    std::uint16_t index = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + count[len - 1]) << 1;
        firstCode[len] = code;
        firstIndex[len] = index;
        index = static_cast<std::uint16_t>(index + count[len]);
    }
    std::uint16_t next[kMaxCodeLength + 1];
    std::memcpy(next, firstIndex, sizeof next);
    for (int s = 0; s < n; ++s)
        if (lengths[s])
            sorted[next[lengths[s]]++] = static_cast<std::uint16_t>(s);

    std::memset(table, 0, sizeof table);
    for (int len = 1; len <= TableBits && len <= kMaxCodeLength; ++len) {
        const std::uint32_t span = 1u << (TableBits - len);
        for (std::uint32_t k = 0; k < count[len]; ++k) {
            const auto entry = static_cast<std::uint16_t>((sorted[firstIndex[len] + k] << 5) | len);
            std::uint16_t *e = table + ((firstCode[len] + k) << (TableBits - len));
            for (std::uint32_t j = 0; j < span; ++j)
                e[j] = entry;
        }
    }
    return true;
}

// --- bit reading ------------------------------------------------------------

void LzxDecoder::startBits(std::uint32_t at)
{
    pos_ = at;
    buf_ = 0;
    count_ = 0;
    raw_ = false;
}

inline void LzxDecoder::refill()
{
    while (count_ <= 48) {
        std::uint32_t word = 0;
        if (pos_ + 1 < n_)
            word = in_[pos_] | (static_cast<std::uint32_t>(in_[pos_ + 1]) << 8);
        else if (pos_ < n_)
            word = in_[pos_];
        pos_ += 2;
        buf_ |= static_cast<std::uint64_t>(word) << (48 - count_);
        count_ += 16;
    }
}

inline std::uint32_t LzxDecoder::bits(int n)
{
    if (n == 0)
        return 0;
    refill();
    const std::uint32_t v = peek(n);
    consume(n);
    return v;
}

// True when more has been read than the frame holds (the zeros loaded past
// its end were used).
bool LzxDecoder::overrun() const
{
    const std::uint64_t consumed = std::uint64_t{pos_} * 8 - static_cast<std::uint64_t>(count_);
    return consumed > std::uint64_t{(n_ + 1) & ~1u} * 8;
}

std::uint32_t LzxDecoder::bytePosition() const { return pos_ - static_cast<std::uint32_t>(count_ / 8); }

template <int S, int B>
inline int LzxDecoder::decode(const LzxHuffman<S, B> &h)
{
    const std::uint16_t e = h.table[peek(B)];
    if (e) {
        consume(e & 31);
        return e >> 5;
    }
    const std::uint32_t v = peek(kMaxCodeLength);
    for (int len = B + 1; len <= kMaxCodeLength; ++len) {
        const std::uint32_t d = (v >> (kMaxCodeLength - len)) - h.firstCode[len];
        if (d < h.count[len]) {
            consume(len);
            return h.sorted[h.firstIndex[len] + d];
        }
    }
    return -1;
}

// --- folder and frame -------------------------------------------------------

LzxDecoder::~LzxDecoder()
{
    if (window_)
        mem_.free(window_);
}

LzxDecoder::Result LzxDecoder::reset(ZAlloc mem, int windowBits)
{
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits)
        return Result::BadData;
    const std::uint32_t size = 1u << windowBits;
    if (allocated_ < size) {
        if (window_)
            mem_.free(window_);
        window_ = nullptr;
        allocated_ = 0;
        mem_ = mem;
        window_ = static_cast<std::uint8_t *>(mem_.alloc(size));
        if (!window_)
            return Result::NoMemory;
        allocated_ = size;
    }
    windowSize_ = size;
    maxOffset_ = maxOffset(windowBits);
    mainSymbols_ = mainTreeSize(windowBits);
    windowPos_ = 0;
    folderPos_ = 0;
    started_ = false;
    ended_ = false;
    e8_ = false;
    e8Size_ = 0;
    r_[0] = r_[1] = r_[2] = 1;
    blockType_ = 0;
    blockLeft_ = 0;
    rawSize_ = 0;
    padPending_ = false;
    std::memset(mainLengths_, 0, sizeof mainLengths_);
    std::memset(lengthLengths_, 0, sizeof lengthLengths_);
    return Result::Ok;
}

// Reads the lengths of elements first..last-1 of a tree, coded with a fresh
// pretree as changes against the lengths the same elements had in the
// previous block.
bool LzxDecoder::readLengths(std::uint8_t *lengths, int first, int last)
{
    std::uint8_t pre[kPretreeSymbols];
    for (int k = 0; k < kPretreeSymbols; ++k)
        pre[k] = static_cast<std::uint8_t>(bits(kPretreeLengthBits));
    if (!pretree_.build(pre, kPretreeSymbols))
        return false;
    int i = first;
    while (i < last) {
        refill();
        const int sym = decode(pretree_);
        if (sym < 0)
            return false;
        if (sym <= 16) {
            lengths[i] = static_cast<std::uint8_t>((lengths[i] + 17 - sym) % 17);
            ++i;
            continue;
        }
        int run = 0;
        std::uint8_t value = 0;
        if (sym == 17) {
            run = 4 + static_cast<int>(bits(4));
        } else if (sym == 18) {
            run = 20 + static_cast<int>(bits(5));
        } else {
            run = 4 + static_cast<int>(bits(1));
            refill();
            const int delta = decode(pretree_);
            if (delta < 0 || delta > 16)
                return false;
            value = static_cast<std::uint8_t>((lengths[i] + 17 - delta) % 17);
        }
        if (run > last - i)
            return false;
        std::memset(lengths + i, value, static_cast<std::size_t>(run));
        i += run;
    }
    return true;
}

bool LzxDecoder::readBlockHeader()
{
    // An uncompressed block of odd size is followed by a padding byte, in
    // the next frame when the block filled its own.
    if (padPending_) {
        startBits(pos_ + 1);
        padPending_ = false;
    }
    if (overrun())
        return false;
    const int type = static_cast<int>(bits(3));
    const std::uint32_t size = bits(24);
    if (type == kBlockVerbatim || type == kBlockAligned) {
        if (type == kBlockAligned) {
            std::uint8_t lengths[kAlignedSymbols];
            for (int k = 0; k < kAlignedSymbols; ++k)
                lengths[k] = static_cast<std::uint8_t>(bits(kAlignedLengthBits));
            if (!aligned_.build(lengths, kAlignedSymbols))
                return false;
        }
        if (!readLengths(mainLengths_, 0, kNumChars) || !readLengths(mainLengths_, kNumChars, mainSymbols_) ||
            !main_.build(mainLengths_, mainSymbols_) || !readLengths(lengthLengths_, 0, kLengthSymbols) ||
            !length_.build(lengthLengths_, kLengthSymbols))
            return false;
    } else if (type == kBlockUncompressed) {
        // Padding to the next word boundary: 1 to 16 bits.
        refill();
        const int pad = count_ % 16 == 0 ? 16 : count_ % 16;
        consume(pad);
        std::uint32_t at = bytePosition();
        if (std::uint64_t{at} + 12 > n_)
            return false;
        for (std::uint32_t &r : r_) {
            r = get32(in_ + at);
            at += 4;
        }
        startBits(at);
        raw_ = size != 0;  // an empty one leaves the bit stream where its header ended
    } else {
        return false;
    }
    if (!raw_ && overrun())
        return false;
    blockType_ = type;
    blockLeft_ = size;
    rawSize_ = size;
    return true;
}

// Literals and matches of a verbatim or aligned block until the window
// position reaches end.
bool LzxDecoder::decodeSymbols(std::uint32_t at, std::uint32_t end)
{
    std::uint8_t *const win = window_;
    const bool alignedBlock = blockType_ == kBlockAligned;
    const std::uint32_t frameStartInFolder = folderPos_ - windowPos_;  // folder offset of window position 0, mod 2^32
    const std::uint32_t mask = windowSize_ - 1;
    while (at < end) {
        refill();
        int sym = decode(main_);
        if (sym < kNumChars) {
            if (sym < 0)
                return false;
            win[at++] = static_cast<std::uint8_t>(sym);
            continue;
        }
        sym -= kNumChars;
        const int header = sym & 7;
        const int slot = sym >> 3;
        std::uint32_t len = static_cast<std::uint32_t>(header) + kMinMatch;
        if (header == kNumPrimaryLengths) {
            const int extra = decode(length_);
            if (extra < 0)
                return false;
            len += static_cast<std::uint32_t>(extra);
        }
        std::uint32_t offset;
        if (slot < 3) {
            offset = r_[slot];
            r_[slot] = r_[0];
            r_[0] = offset;
        } else {
            const int footer = kFooterBits[slot];
            std::uint32_t v;
            if (alignedBlock && footer >= 3) {
                v = bits(footer - 3) << 3;
                refill();
                const int a = decode(aligned_);
                if (a < 0)
                    return false;
                v |= static_cast<std::uint32_t>(a);
            } else {
                v = bits(footer);
            }
            offset = kPositionBase[slot] + v - 2;
            r_[2] = r_[1];
            r_[1] = r_[0];
            r_[0] = offset;
        }
        // A match stays inside its frame and block, and reaches back only
        // into what this folder produced, within the window.
        if (len > end - at || offset == 0 || offset > maxOffset_ || offset > frameStartInFolder + at)
            return false;
        std::uint8_t *d = win + at;
        if (offset <= at) {
            const std::uint8_t *s = d - offset;
            if (offset >= len) {
                std::memcpy(d, s, len);
            } else {
                for (std::uint32_t i = 0; i < len; ++i)
                    d[i] = s[i];
            }
        } else {
            std::uint32_t s = at + windowSize_ - offset;
            for (std::uint32_t i = 0; i < len; ++i) {
                d[i] = win[s];
                s = (s + 1) & mask;
            }
        }
        at += len;
    }
    return true;
}

// Bytes of an uncompressed block, straight from the input.
bool LzxDecoder::copyRaw(std::uint32_t at, std::uint32_t n)
{
    if (std::uint64_t{pos_} + n > n_)
        return false;
    std::memcpy(window_ + at, in_ + pos_, n);
    pos_ += n;
    return true;
}

// The compressor turned the relative targets of x86 CALL instructions into
// absolute ones; this turns them back, in the output only.
void LzxDecoder::undoE8(std::uint8_t *out, std::uint32_t size) const
{
    if (size <= kE8Tail)
        return;
    const std::int64_t translation = e8Size_;
    const std::uint32_t limit = size - kE8Tail;
    std::uint32_t i = 0;
    while (i < limit) {
        const void *hit = std::memchr(out + i, 0xE8, limit - i);
        if (!hit)
            break;
        i = static_cast<std::uint32_t>(static_cast<const std::uint8_t *>(hit) - out);
        const std::int64_t cur = std::int64_t{folderPos_} + i;
        const std::int64_t value = static_cast<std::int32_t>(get32(out + i + 1));
        if (value >= -cur && value < translation)
            put32(out + i + 1, static_cast<std::uint32_t>(value >= 0 ? value - cur : value + translation));
        i += 5;
    }
}

LzxDecoder::Result LzxDecoder::decodeFrame(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out,
                                           std::uint32_t size, bool last)
{
    if (!window_ || windowSize_ == 0 || ended_ || size == 0 || size > kFrameSize)
        return Result::BadData;
    // After damage nothing more of this folder is decoded.
    auto damaged = [this] {
        ended_ = true;
        return Result::BadData;
    };
    in_ = in;
    n_ = n;
    startBits(0);
    // An uncompressed block goes on where the last frame left it.
    raw_ = blockType_ == kBlockUncompressed && blockLeft_ > 0;
    if (!started_) {
        e8_ = bits(1) != 0;
        if (e8_) {
            const std::uint32_t high = bits(16);
            e8Size_ = (high << 16) | bits(16);
        }
        started_ = true;
    }

    const std::uint32_t start = windowPos_;
    std::uint32_t at = start;
    const std::uint32_t end = start + size;
    while (at < end) {
        if (blockLeft_ == 0) {
            if (!readBlockHeader())
                return damaged();
            continue;
        }
        const std::uint32_t chunk = blockLeft_ < end - at ? blockLeft_ : end - at;
        const bool ok = blockType_ == kBlockUncompressed ? copyRaw(at, chunk) : decodeSymbols(at, at + chunk);
        if (!ok)
            return damaged();
        at += chunk;
        blockLeft_ -= chunk;
        if (blockType_ == kBlockUncompressed && blockLeft_ == 0) {
            startBits(pos_);
            padPending_ = (rawSize_ & 1) != 0;
        }
    }
    if ((raw_ ? pos_ > n_ : overrun()) || (last && blockLeft_ != 0))
        return damaged();

    std::memcpy(out, window_ + start, size);
    if (e8_ && folderPos_ < kE8Limit)
        undoE8(out, size);
    windowPos_ = (start + size) & (windowSize_ - 1);
    folderPos_ += size;
    if (size < kFrameSize)
        ended_ = true;
    return Result::Ok;
}

}  // namespace cab::detail
