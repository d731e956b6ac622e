// Lists the matches of an LZX stream as our encoder writes it (one block per
// frame), so that tests can check what the encoder chose, not only that a
// decoder copes with it. Read from the format description with plain code
// (a bit at a time, codes looked up by length), independently of the
// library's decoder; the bytes are rebuilt as well, so a misread shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cabinet/lzxformat.h"

namespace lzxtest {

struct ListedMatch {
    std::uint32_t position;  // in the folder
    std::uint32_t offset;
    std::uint32_t length;
};

struct Listing {
    std::vector<ListedMatch> matches;
    std::vector<std::uint8_t> data;  // the folder as the stream rebuilds it
    std::string error;               // empty when the whole stream was read
};

class TokenLister {
public:
    explicit TokenLister(int windowBits) : windowBits_(windowBits)
    {
        mainPrev_.assign(static_cast<std::size_t>(cab::detail::lzx::mainTreeSize(windowBits)), 0);
        lengthPrev_.assign(cab::detail::lzx::kLengthSymbols, 0);
    }

    // Reads the folder's next frame: the compressed bytes of one data block
    // that produce size bytes.
    bool frame(const std::uint8_t *in, std::size_t n, std::uint32_t size)
    {
        namespace lzx = cab::detail::lzx;
        in_ = in;
        n_ = n;
        bit_ = 0;
        if (first_) {
            first_ = false;
            if (bits(1))
                return fail("the E8 flag is set");
        }
        const std::uint32_t type = bits(3);
        const std::uint32_t blockSize = bits(24);
        if (blockSize != size)
            return fail("a block does not cover exactly its frame");
        if (type == lzx::kBlockUncompressed) {
            bit_ += bit_ % 16 == 0 ? 16 : 16 - bit_ % 16;
            std::size_t at = bit_ / 8;
            if (at + 12 + size > n_)
                return fail("uncompressed block runs past its frame");
            for (int k = 0; k < 3; ++k, at += 4)
                r_[k] = in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (static_cast<std::uint32_t>(in[at + 3]) << 24);
            out_.data.insert(out_.data.end(), in + at, in + at + size);
            if (at + size + (size & 1) != n_)
                return fail("the frame has bytes left over");
            return true;
        }
        if (type != lzx::kBlockVerbatim && type != lzx::kBlockAligned)
            return fail("unknown block type");
        std::vector<std::uint8_t> alignedLen(lzx::kAlignedSymbols, 0);
        if (type == lzx::kBlockAligned)
            for (auto &l : alignedLen)
                l = static_cast<std::uint8_t>(bits(3));
        if (!lengths(mainPrev_, 0, lzx::kNumChars) ||
            !lengths(mainPrev_, lzx::kNumChars, static_cast<int>(mainPrev_.size())) ||
            !lengths(lengthPrev_, 0, lzx::kLengthSymbols))
            return false;
        const Code mainCode(mainPrev_), lengthCode(lengthPrev_), alignedCode(alignedLen);
        const std::size_t end = out_.data.size() + size;
        while (out_.data.size() < end) {
            const int sym = symbol(mainCode);
            if (sym < 0)
                return fail("a main symbol without a code");
            if (sym < lzx::kNumChars) {
                out_.data.push_back(static_cast<std::uint8_t>(sym));
                continue;
            }
            const int slot = (sym - lzx::kNumChars) >> 3;
            std::uint32_t length = static_cast<std::uint32_t>((sym - lzx::kNumChars) & 7) + lzx::kMinMatch;
            if (length == lzx::kNumPrimaryLengths + lzx::kMinMatch) {
                const int extra = symbol(lengthCode);
                if (extra < 0)
                    return fail("a length symbol without a code");
                length += static_cast<std::uint32_t>(extra);
            }
            std::uint32_t offset;
            if (slot < 3) {
                offset = r_[slot];
                r_[slot] = r_[0];
                r_[0] = offset;
            } else {
                const int footer = lzx::kFooterBits[static_cast<std::size_t>(slot)];
                std::uint32_t v;
                if (type == lzx::kBlockAligned && footer >= 3) {
                    v = bits(footer - 3) << 3;
                    const int a = symbol(alignedCode);
                    if (a < 0)
                        return fail("an aligned symbol without a code");
                    v |= static_cast<std::uint32_t>(a);
                } else {
                    v = bits(footer);
                }
                offset = lzx::kPositionBase[static_cast<std::size_t>(slot)] + v - 2;
                r_[2] = r_[1];
                r_[1] = r_[0];
                r_[0] = offset;
            }
            const auto position = static_cast<std::uint32_t>(out_.data.size());
            if (offset == 0 || offset > position || offset > lzx::maxOffset(windowBits_) || length > end - position)
                return fail("a match reaches outside the folder, the window or its frame");
            out_.matches.push_back({position, offset, length});
            for (std::uint32_t i = 0; i < length; ++i)
                out_.data.push_back(out_.data[position - offset + i]);
        }
        if ((bit_ + 15) / 16 * 2 != n_)
            return fail("the frame has bytes left over");
        return true;
    }

    const Listing &listing() const { return out_; }

private:
    bool fail(const std::string &why)
    {
        if (out_.error.empty())
            out_.error = why + " (frame at " + std::to_string(out_.data.size()) + ")";
        return false;
    }

    std::uint32_t bits(int count)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++bit_) {
            const std::size_t word = bit_ / 16 * 2;
            const std::uint32_t w = word + 1 < n_ ? (in_[word] | (in_[word + 1] << 8)) : 0;
            v = (v << 1) | ((w >> (15 - bit_ % 16)) & 1);
        }
        return v;
    }

    // A canonical code: how many codes each length has, and the symbols in
    // code order.
    struct Code {
        std::uint32_t count[cab::detail::lzx::kMaxCodeLength + 1] = {};
        std::vector<int> symbols;
        explicit Code(const std::vector<std::uint8_t> &len)
        {
            for (int l = 1; l <= cab::detail::lzx::kMaxCodeLength; ++l)
                for (std::size_t s = 0; s < len.size(); ++s)
                    if (len[s] == l) {
                        ++count[l];
                        symbols.push_back(static_cast<int>(s));
                    }
        }
    };

    // The symbol whose code comes next, or -1.
    int symbol(const Code &c)
    {
        std::uint32_t code = 0, first = 0, index = 0;
        for (int l = 1; l <= cab::detail::lzx::kMaxCodeLength; ++l) {
            code = (code << 1) | bits(1);
            if (code - first < c.count[l])
                return c.symbols[index + code - first];
            index += c.count[l];
            first = (first + c.count[l]) << 1;
        }
        return -1;
    }

    bool lengths(std::vector<std::uint8_t> &prev, int from, int to)
    {
        std::vector<std::uint8_t> preLengths(cab::detail::lzx::kPretreeSymbols);
        for (auto &l : preLengths)
            l = static_cast<std::uint8_t>(bits(4));
        const Code pre(preLengths);
        for (int i = from; i < to;) {
            const int s = symbol(pre);
            if (s < 0)
                return fail("a pretree symbol without a code");
            auto delta = [&](int d, int at) { return static_cast<std::uint8_t>((prev[at] + 17 - d) % 17); };
            if (s <= 16) {
                prev[i] = delta(s, i);
                ++i;
            } else if (s == 17 || s == 18) {
                const int run = s == 17 ? 4 + static_cast<int>(bits(4)) : 20 + static_cast<int>(bits(5));
                if (i + run > to)
                    return fail("a run of zero lengths leaves its range");
                for (int k = 0; k < run; ++k)
                    prev[i++] = 0;
            } else {
                const int run = 4 + static_cast<int>(bits(1));
                const int d = symbol(pre);
                if (d < 0 || d > 16 || i + run > to)
                    return fail("a run of equal lengths is malformed");
                const std::uint8_t value = delta(d, i);
                for (int k = 0; k < run; ++k)
                    prev[i++] = value;
            }
        }
        return true;
    }

    int windowBits_;
    bool first_ = true;
    std::uint32_t r_[3] = {1, 1, 1};
    std::vector<std::uint8_t> mainPrev_, lengthPrev_;
    const std::uint8_t *in_ = nullptr;
    std::size_t n_ = 0;
    std::size_t bit_ = 0;
    Listing out_;
};

}  // namespace lzxtest
