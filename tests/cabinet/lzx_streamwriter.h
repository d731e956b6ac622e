// Builds LZX streams bit by bit for the decoder tests: blocks of literals
// and matches (verbatim or aligned-offset), uncompressed blocks, the E8
// header, cut into frames the way a cabinet carries them. Trees get simple
// complete codes over the symbols a block uses; a hook lets a test replace
// any lengths to build damaged streams. Written from the format description,
// independently of the decoder, so the two check each other.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cabinet/lzxformat.h"

namespace lzxtest {

using Bytes = std::vector<std::uint8_t>;
namespace lzx = cab::detail::lzx;

// Bits go into 16-bit words from the top; words are stored low byte first.
class BitWriter {
public:
    void put(std::uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            acc_ = (acc_ << 1) | ((value >> i) & 1);
            if (++pending_ == 16)
                flushWord();
        }
    }
    void align()
    {
        if (pending_)
            put(0, 16 - pending_);
    }
    // Before an uncompressed block: 1 to 16 bits of padding.
    void padForUncompressed() { put(0, pending_ == 0 ? 16 : 16 - pending_); }
    void byte(std::uint8_t b) { out_.push_back(b); }  // only when aligned
    bool aligned() const { return pending_ == 0; }
    Bytes &bytes() { return out_; }

private:
    void flushWord()
    {
        out_.push_back(static_cast<std::uint8_t>(acc_ & 0xFF));
        out_.push_back(static_cast<std::uint8_t>((acc_ >> 8) & 0xFF));
        acc_ = 0;
        pending_ = 0;
    }
    Bytes out_;
    std::uint32_t acc_ = 0;
    int pending_ = 0;
};

struct Token {
    bool literal = true;
    std::uint8_t byte = 0;
    std::uint32_t length = 0;
    std::uint32_t offset = 0;
    bool noRepeat = false;  // code the offset in full even when it equals R0-R2
};
inline Token lit(std::uint8_t b) { return Token{true, b, 0, 0, false}; }
inline Token match(std::uint32_t length, std::uint32_t offset, bool noRepeat = false)
{
    return Token{false, 0, length, offset, noRepeat};
}

struct Block {
    int type = lzx::kBlockVerbatim;
    std::vector<Token> tokens;              // verbatim and aligned blocks
    Bytes raw;                              // uncompressed blocks
    std::optional<std::uint32_t> size;      // the size field, when it should lie
    std::optional<std::uint32_t> rawR[3];   // R0-R2 written into an uncompressed block
    bool runs = false;                      // code tree lengths with the run symbols 17-19
    // Symbol 19 also over elements whose previous lengths differ: all take
    // the new length worked out from the first one's.
    bool runsOverChangedLengths = false;
    // Last word on the lengths before they are sent (main tree, length tree,
    // aligned tree, in that order of the argument "which").
    std::function<void(int which, std::vector<std::uint8_t> &lengths)> tweak;
};

struct Stream {
    int windowBits = 16;
    bool e8 = false;
    std::uint32_t e8Size = 0;
    std::vector<Block> blocks;
};

struct Frame {
    Bytes data;
    std::uint32_t size = 0;  // uncompressed bytes
};

struct Encoded {
    std::vector<Frame> frames;
    int repeatMatches = 0;      // matches sent as R0-R2
    int wholeWordPadding = 0;   // uncompressed blocks whose header ended on a word boundary
};

// Lengths of a complete prefix code over the used symbols; two symbols at
// least, so a single used symbol still has a code.
inline std::vector<std::uint8_t> completeLengths(const std::vector<bool> &used)
{
    std::vector<int> syms;
    for (std::size_t s = 0; s < used.size(); ++s)
        if (used[s])
            syms.push_back(static_cast<int>(s));
    std::vector<std::uint8_t> len(used.size(), 0);
    if (syms.empty())
        return len;
    if (syms.size() == 1)
        syms.push_back(syms[0] == 0 ? 1 : 0);
    std::sort(syms.begin(), syms.end());
    int bitsNeeded = 0;
    while ((std::size_t{1} << bitsNeeded) < syms.size())
        ++bitsNeeded;
    const std::size_t shorter = (std::size_t{1} << bitsNeeded) - syms.size();
    for (std::size_t i = 0; i < syms.size(); ++i)
        len[static_cast<std::size_t>(syms[i])] = static_cast<std::uint8_t>(i < shorter ? bitsNeeded - 1 : bitsNeeded);
    return len;
}

// Canonical codes for lengths: by length, then by symbol.
inline std::vector<std::uint32_t> canonicalCodes(const std::vector<std::uint8_t> &len)
{
    std::vector<std::uint32_t> codes(len.size(), 0);
    std::uint32_t code = 0;
    for (int l = 1; l <= 16; ++l) {
        for (std::size_t s = 0; s < len.size(); ++s)
            if (len[s] == l)
                codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

class StreamWriter {
public:
    Encoded encode(const Stream &s)
    {
        result_ = {};
        slots_ = lzx::positionSlots(s.windowBits);
        mainPrev_.assign(static_cast<std::size_t>(lzx::mainTreeSize(s.windowBits)), 0);
        lengthPrev_.assign(lzx::kLengthSymbols, 0);
        r_[0] = r_[1] = r_[2] = 1;
        produced_ = 0;
        cutAt_ = 0;
        consumed_ = 0;
        w_ = BitWriter{};
        w_.put(s.e8 ? 1 : 0, 1);
        if (s.e8) {
            w_.put(s.e8Size >> 16, 16);
            w_.put(s.e8Size & 0xFFFF, 16);
        }
        for (const Block &b : s.blocks)
            block(b);
        if (produced_ > cutAt_)
            cut(produced_ - cutAt_);
        return result_;
    }

private:
    struct Coded {
        int mainSym;
        int lengthSym = -1;
        int slot = 0;
        std::uint32_t footer = 0;
        int footerBits = 0;
    };

    Coded code(const Token &t)
    {
        Coded c{};
        if (t.literal) {
            c.mainSym = t.byte;
            return c;
        }
        const std::uint32_t header = t.length - 2 < 7 ? t.length - 2 : 7;
        if (header == 7)
            c.lengthSym = static_cast<int>(t.length - 9);
        int slot = -1;
        for (int k = 0; k < 3 && !t.noRepeat; ++k)
            if (r_[k] == t.offset) {
                slot = k;
                break;
            }
        if (slot >= 0) {
            r_[slot] = r_[0];
            r_[0] = t.offset;
            ++result_.repeatMatches;
        } else {
            const std::uint32_t formatted = t.offset + 2;
            slot = 3;
            while (slot + 1 < slots_ && lzx::kPositionBase[static_cast<std::size_t>(slot + 1)] <= formatted)
                ++slot;
            c.footer = formatted - lzx::kPositionBase[static_cast<std::size_t>(slot)];
            c.footerBits = lzx::kFooterBits[static_cast<std::size_t>(slot)];
            r_[2] = r_[1];
            r_[1] = r_[0];
            r_[0] = t.offset;
        }
        c.slot = slot;
        c.mainSym = lzx::kNumChars + slot * 8 + static_cast<int>(header);
        return c;
    }

    // Pretree symbols (with their extra bits) that turn prev into next over [first, last).
    void sendLengths(std::vector<std::uint8_t> &prev, const std::vector<std::uint8_t> &next, std::size_t first,
                     std::size_t last, bool runs, bool anyPrev)
    {
        struct Sym {
            int sym;
            int extraBits;
            std::uint32_t extra;
            int second = -1;
        };
        std::vector<Sym> syms;
        std::size_t i = first;
        while (i < last) {
            std::size_t same = 1;
            while (i + same < last && next[i + same] == next[i] && (anyPrev || prev[i + same] == prev[i]))
                ++same;
            std::size_t zeros = 0;
            while (i + zeros < last && next[i + zeros] == 0)
                ++zeros;
            const int delta = (prev[i] + 17 - next[i]) % 17;
            if (runs && zeros >= 20) {
                const std::size_t n = zeros < 51 ? zeros : 51;
                syms.push_back({18, 5, static_cast<std::uint32_t>(n - 20)});
                i += n;
            } else if (runs && zeros >= 4) {
                const std::size_t n = zeros < 19 ? zeros : 19;
                syms.push_back({17, 4, static_cast<std::uint32_t>(n - 4)});
                i += n;
            } else if (runs && same >= 4) {
                const std::size_t n = same < 5 ? same : 5;
                syms.push_back({19, 1, static_cast<std::uint32_t>(n - 4), delta});
                i += n;
            } else {
                syms.push_back({delta, 0, 0});
                i += 1;
            }
        }
        std::vector<bool> used(lzx::kPretreeSymbols, false);
        for (const Sym &s : syms) {
            used[static_cast<std::size_t>(s.sym)] = true;
            if (s.second >= 0)
                used[static_cast<std::size_t>(s.second)] = true;
        }
        const std::vector<std::uint8_t> len = completeLengths(used);
        const std::vector<std::uint32_t> codes = canonicalCodes(len);
        for (std::uint8_t l : len)
            w_.put(l, lzx::kPretreeLengthBits);
        for (const Sym &s : syms) {
            w_.put(codes[static_cast<std::size_t>(s.sym)], len[static_cast<std::size_t>(s.sym)]);
            if (s.extraBits)
                w_.put(s.extra, s.extraBits);
            if (s.second >= 0)
                w_.put(codes[static_cast<std::size_t>(s.second)], len[static_cast<std::size_t>(s.second)]);
        }
        for (std::size_t k = first; k < last; ++k)
            prev[k] = next[k];
    }

    void advance(std::uint32_t n)
    {
        produced_ += n;
        if (produced_ - cutAt_ >= lzx::kFrameSize)
            cut(lzx::kFrameSize);
    }

    // Ends the frame under way after the bits of its last byte, padded to a
    // word; inside an uncompressed block the bytes simply stop, however many.
    // A token that ran past the frame's end stays in it.
    void cut(std::uint32_t size)
    {
        w_.align();
        Frame f;
        f.data.assign(w_.bytes().begin() + static_cast<long>(consumed_), w_.bytes().end());
        f.size = size;
        consumed_ = w_.bytes().size();
        cutAt_ += size;
        result_.frames.push_back(f);
    }

    void block(const Block &b)
    {
        std::uint32_t actual = 0;
        if (b.type == lzx::kBlockUncompressed) {
            actual = static_cast<std::uint32_t>(b.raw.size());
        } else {
            for (const Token &t : b.tokens)
                actual += t.literal ? 1 : t.length;
        }
        w_.put(static_cast<std::uint32_t>(b.type), 3);
        w_.put(b.size.value_or(actual), 24);
        if (b.type == lzx::kBlockUncompressed) {
            if (w_.aligned())
                ++result_.wholeWordPadding;
            w_.padForUncompressed();
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t r = b.rawR[k].value_or(r_[k]);
                for (int j = 0; j < 4; ++j)
                    w_.byte(static_cast<std::uint8_t>(r >> (8 * j)));
                r_[k] = r;
            }
            for (std::uint8_t byte : b.raw) {
                w_.byte(byte);
                advance(1);
            }
            if (b.raw.size() % 2)  // after the frame's cut when the block filled the frame
                w_.byte(0);
            return;
        }
        if (b.type != lzx::kBlockVerbatim && b.type != lzx::kBlockAligned)
            return;  // a bad type: nothing more to say
        // First pass: the symbols, with the repeated offsets as the decoder will see them.
        std::uint32_t saved[3] = {r_[0], r_[1], r_[2]};
        const int savedRepeats = result_.repeatMatches;
        std::vector<Coded> coded;
        for (const Token &t : b.tokens)
            coded.push_back(code(t));
        std::copy(saved, saved + 3, r_);
        result_.repeatMatches = savedRepeats;

        const bool alignedBlock = b.type == lzx::kBlockAligned;
        std::vector<bool> mainUsed(mainPrev_.size(), false), lengthUsed(lzx::kLengthSymbols, false),
            alignedUsed(lzx::kAlignedSymbols, false);
        for (const Coded &c : coded) {
            mainUsed[static_cast<std::size_t>(c.mainSym)] = true;
            if (c.lengthSym >= 0)
                lengthUsed[static_cast<std::size_t>(c.lengthSym)] = true;
            if (alignedBlock && c.footerBits >= 3)
                alignedUsed[c.footer & 7] = true;
        }
        std::vector<std::uint8_t> mainLen = completeLengths(mainUsed);
        std::vector<std::uint8_t> lengthLen = completeLengths(lengthUsed);
        std::vector<std::uint8_t> alignedLen = completeLengths(alignedUsed);
        if (std::count(alignedLen.begin(), alignedLen.end(), 0) == lzx::kAlignedSymbols)
            alignedLen.assign(lzx::kAlignedSymbols, 3);  // other readers refuse an empty aligned tree
        if (b.tweak) {
            b.tweak(0, mainLen);
            b.tweak(1, lengthLen);
            b.tweak(2, alignedLen);
        }
        if (alignedBlock)
            for (std::uint8_t l : alignedLen)
                w_.put(l, lzx::kAlignedLengthBits);
        const bool anyPrev = b.runsOverChangedLengths;
        sendLengths(mainPrev_, mainLen, 0, lzx::kNumChars, b.runs || anyPrev, anyPrev);
        sendLengths(mainPrev_, mainLen, lzx::kNumChars, mainLen.size(), b.runs || anyPrev, anyPrev);
        sendLengths(lengthPrev_, lengthLen, 0, lengthLen.size(), b.runs || anyPrev, anyPrev);

        const std::vector<std::uint32_t> mainCode = canonicalCodes(mainLen), lengthCode = canonicalCodes(lengthLen),
                                         alignedCode = canonicalCodes(alignedLen);
        for (const Token &t : b.tokens) {
            const Coded c = code(t);
            w_.put(mainCode[static_cast<std::size_t>(c.mainSym)], mainLen[static_cast<std::size_t>(c.mainSym)]);
            if (c.lengthSym >= 0)
                w_.put(lengthCode[static_cast<std::size_t>(c.lengthSym)],
                       lengthLen[static_cast<std::size_t>(c.lengthSym)]);
            if (alignedBlock && c.footerBits >= 3) {
                w_.put(c.footer >> 3, c.footerBits - 3);
                w_.put(alignedCode[c.footer & 7], alignedLen[c.footer & 7]);
            } else if (c.footerBits) {
                w_.put(c.footer, c.footerBits);
            }
            advance(t.literal ? 1 : t.length);
        }
    }

    BitWriter w_;
    Encoded result_;
    int slots_ = 0;
    std::vector<std::uint8_t> mainPrev_, lengthPrev_;
    std::uint32_t r_[3] = {1, 1, 1};
    std::uint32_t produced_ = 0;
    std::uint32_t cutAt_ = 0;     // uncompressed bytes in the frames cut so far
    std::size_t consumed_ = 0;    // stream bytes in the frames cut so far
};

// Literals and matches of a ledger-like text: words, numbers, and repeats at
// the last few distances, never crossing a frame boundary.
class TokenSource {
public:
    TokenSource(std::uint32_t seed, std::uint32_t maxOffset) : x_(seed * 2654435761u + 7), maxOffset_(maxOffset) {}

    void skip(std::uint32_t bytes) { pos_ += bytes; }

    std::vector<Token> take(std::uint32_t bytes)
    {
        std::vector<Token> t;
        const std::uint32_t stop = pos_ + bytes;
        while (pos_ < stop) {
            const std::uint32_t room =
                std::min(stop - pos_, lzx::kFrameSize - pos_ % lzx::kFrameSize);
            const std::uint32_t r = next();
            const std::uint32_t reach = std::min(pos_, maxOffset_);
            if (room < 2 || reach < 1 || r % 3 == 0) {
                t.push_back(lit(static_cast<std::uint8_t>("KONTO WINIEN MA 2005;PLN\r\n"[next() % 26])));
                pos_ += 1;
                continue;
            }
            std::uint32_t len = r % 8 == 0 ? 9 + next() % 249 : 2 + next() % 7;
            len = std::min(len, room);
            std::uint32_t offset;
            if (r % 5 < 2)
                offset = recent_[next() % 3];
            else if (r % 5 == 2)
                offset = 1 + next() % std::min<std::uint32_t>(reach, 64);
            else
                offset = 1 + next() % reach;
            if (offset > reach || offset == 0)
                offset = 1;
            recent_[2] = recent_[1], recent_[1] = recent_[0], recent_[0] = offset;
            t.push_back(match(len, offset));
            pos_ += len;
        }
        return t;
    }

private:
    std::uint32_t next() { return (x_ = x_ * 1664525u + 1013904223u) >> 8; }
    std::uint32_t x_;
    std::uint32_t maxOffset_;
    std::uint32_t pos_ = 0;
    std::uint32_t recent_[3] = {1, 2, 3};
};

inline Block verbatim(std::vector<Token> t, bool runs = false)
{
    Block b;
    b.tokens = std::move(t);
    b.runs = runs;
    return b;
}

inline Block aligned(std::vector<Token> t)
{
    Block b = verbatim(std::move(t), true);
    b.type = lzx::kBlockAligned;
    return b;
}

inline Block uncompressed(Bytes raw)
{
    Block b;
    b.type = lzx::kBlockUncompressed;
    b.raw = std::move(raw);
    return b;
}

inline std::vector<Token> letters(int n)
{
    std::vector<Token> t;
    for (int i = 0; i < n; ++i)
        t.push_back(lit(static_cast<std::uint8_t>('a' + i % 26)));
    return t;
}

// Literals, then an uncompressed block of the given size (R0-R2 set to
// 700, 1, 32000), then matches at those three distances.
inline Stream uncompressedAcrossFrames(int lead, std::uint32_t size)
{
    Bytes raw(size);
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint8_t>((i * 31) >> 3);
    Block u = uncompressed(raw);
    u.rawR[0] = 700;
    u.rawR[1] = 1;
    u.rawR[2] = 32000;
    Stream s;
    s.blocks = {verbatim(letters(lead)), u, verbatim({match(40, 700), match(257, 32000), match(8, 1), lit('!')})};
    return s;
}

// Leading literals and block sizes: odd or even parts in each frame, and
// blocks that end exactly with their frame.
inline std::vector<std::pair<int, std::uint32_t>> uncompressedSplits()
{
    return {{3, 40001}, {3, 40000}, {2, 40001}, {2, 40000}, {3, 32765}, {2, 32766}, {1, 65535}};
}

// The compressor's side of the E8 translation, on the original bytes.
inline Bytes translateForward(Bytes data, std::uint32_t translation)
{
    for (std::uint32_t start = 0; start < data.size(); start += lzx::kFrameSize) {
        const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(lzx::kFrameSize, data.size() - start));
        if (size <= 10)
            continue;
        for (std::uint32_t i = 0; i < size - 10;) {
            if (data[start + i] != 0xE8) {
                ++i;
                continue;
            }
            const std::int64_t cur = start + i;
            std::uint8_t *p = &data[start + i + 1];
            const std::int64_t r = static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24));
            std::int64_t v = r;
            if (r >= -cur && r < std::int64_t{translation} - cur)
                v = r + cur;
            else if (r >= std::int64_t{translation} - cur && r < std::int64_t{translation})
                v = r - translation;
            const auto u = static_cast<std::uint32_t>(v);
            p[0] = static_cast<std::uint8_t>(u), p[1] = static_cast<std::uint8_t>(u >> 8);
            p[2] = static_cast<std::uint8_t>(u >> 16), p[3] = static_cast<std::uint8_t>(u >> 24);
            i += 5;
        }
    }
    return data;
}

// x86 calls everywhere, densest around the frame ends, with targets inside
// and outside the translated range, before the folder and past its size.
inline Bytes callsNearFrameEnds()
{
    Bytes original(3 * lzx::kFrameSize + 5000, 0x90);
    std::uint32_t x = 1;
    auto call = [&](std::size_t at) {
        if (at + 5 > original.size())
            return;
        x = x * 1103515245u + 12345u;
        static const std::int64_t targets[] = {5, -3, 1000000, -70000, 11999999, 12000000, 0x7FFFFFF0, -2000000000};
        const auto v = static_cast<std::uint32_t>(targets[(x >> 16) % 8] - (x >> 24));
        original[at] = 0xE8;
        for (int k = 0; k < 4; ++k)
            original[at + 1 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    for (std::size_t at = 0; at < original.size(); at += 97)
        call(at);
    for (std::size_t end = lzx::kFrameSize; end <= original.size(); end += lzx::kFrameSize)
        for (std::size_t back = 3; back <= 16; back += 1)
            if (original[end - back] != 0xE8 && original[end - back - 1] != 0xE8)
                call(end - back);
    return original;
}

// original as literals, translated the compressor's way (translation size
// 12,000,000, what the reference cabinets carry).
inline Stream e8Stream(const Bytes &original)
{
    Stream s;
    s.e8 = true;
    s.e8Size = 12000000;
    std::vector<Token> t;
    for (std::uint8_t b : translateForward(original, s.e8Size))
        t.push_back(lit(b));
    s.blocks.push_back(verbatim(t));
    return s;
}

// Three letters, then every byte value: the second block's run of equal
// lengths spans letters whose lengths were 0, 1 and 2 before.
inline Stream runOverChangedLengths()
{
    std::vector<Token> all;
    for (int i = 0; i < 256; ++i)
        all.push_back(lit(static_cast<std::uint8_t>(i)));
    Block second = verbatim(all);
    second.runsOverChangedLengths = true;
    Stream s;
    s.blocks = {verbatim({lit('a'), lit('b'), lit('c'), lit('a')}), second};
    return s;
}

// What a stream decodes to, worked out from its tokens alone (no E8).
inline Bytes expand(const Stream &s)
{
    Bytes out;
    for (const Block &b : s.blocks) {
        if (b.type == lzx::kBlockUncompressed) {
            out.insert(out.end(), b.raw.begin(), b.raw.end());
            continue;
        }
        for (const Token &t : b.tokens) {
            if (t.literal) {
                out.push_back(t.byte);
                continue;
            }
            for (std::uint32_t i = 0; i < t.length; ++i)
                out.push_back(out[out.size() - t.offset]);
        }
    }
    return out;
}

}  // namespace lzxtest
