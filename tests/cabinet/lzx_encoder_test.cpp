// The LZX encoder's own pieces, where a fault would hide from a reader that
// happens to cope: code lengths within the format's limits and complete,
// tree lengths coded so that every reader rebuilds them, uncompressed blocks
// laid out bit for bit, frames within bounds, memory from the caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cabinet/lzxencoder.h"
#include "lzx_helpers.h"
#include "lzx_tokens.h"

using namespace cab::detail;
using namespace cab::detail::lzx;

namespace {

// --- code lengths -------------------------------------------------------------

struct LengthCase {
    const char *label;
    std::vector<std::uint32_t> freq;
    int limit;
};

std::vector<std::uint32_t> fibonacci(int used, int size)
{
    std::vector<std::uint32_t> f(size, 0);
    std::uint32_t a = 1, b = 1;
    for (int i = 0; i < used; ++i) {
        f[i * (size / used)] = a;
        const std::uint32_t c = a + b;
        a = b;
        b = c;
    }
    return f;
}

std::vector<std::uint32_t> textFrequencies()
{
    std::vector<std::uint32_t> f(256, 0);
    const std::string text = "2005-03-03  201-01-001  KOWALSKI JAN   1234.56 PLN\r\nFAKTURA VAT NR 12/2005 ";
    for (int k = 0; k < 400; ++k)
        for (char ch : text)
            f[static_cast<unsigned char>(ch)] += 1 + static_cast<std::uint32_t>(k % 7 == 0);
    return f;
}

class CodeLengths : public ::testing::TestWithParam<LengthCase> {};

}  // namespace

TEST_P(CodeLengths, StayWithinTheLimitAndFormACompleteCode)
{
    const LengthCase &c = GetParam();
    const int n = static_cast<int>(c.freq.size());
    std::vector<std::uint8_t> len(n, 99);
    buildCodeLengths(c.freq.data(), n, c.limit, len.data());
    std::uint64_t kraft = 0;
    int used = 0, coded = 0;
    for (int i = 0; i < n; ++i) {
        EXPECT_LE(len[i], c.limit) << "symbol " << i;
        if (c.freq[i]) {
            ++used;
            EXPECT_GT(len[i], 0) << "used symbol " << i << " has no code";
        }
        if (len[i]) {
            ++coded;
            kraft += std::uint64_t{1} << (32 - len[i]);
        }
        for (int j = 0; j < n; ++j)
            if (c.freq[i] > c.freq[j] && c.freq[j] && len[i] > len[j])
                ADD_FAILURE() << "symbol " << i << " is commoner than " << j << " but longer";
    }
    EXPECT_EQ(kraft, std::uint64_t{1} << 32) << "the code is not complete";
    EXPECT_EQ(coded, std::max(used, 2)) << "only used symbols get codes, and at least two";
}

INSTANTIATE_TEST_SUITE_P(
    Trees, CodeLengths,
    ::testing::Values(LengthCase{"MainTreeFibonacci", fibonacci(40, kMaxMainSymbols), 16},
                      LengthCase{"LengthTreeFibonacci", fibonacci(30, kLengthSymbols), 16},
                      LengthCase{"PretreeFibonacci", fibonacci(20, kPretreeSymbols), 15},
                      LengthCase{"AlignedFibonacci", fibonacci(8, kAlignedSymbols), 7},
                      LengthCase{"Text", textFrequencies(), 16},
                      LengthCase{"Flat", std::vector<std::uint32_t>(kLengthSymbols, 3), 16},
                      LengthCase{"OneSymbol", {0, 0, 0, 9, 0, 0, 0, 0}, 7},
                      LengthCase{"OneSymbolFirst", {5, 0, 0, 0, 0, 0, 0, 0}, 7},
                      LengthCase{"Nothing", std::vector<std::uint32_t>(kLengthSymbols, 0), 16}),
    [](const ::testing::TestParamInfo<LengthCase> &i) { return std::string(i.param.label); });

TEST(CodeLengthsOptimal, MatchHuffmanWhenNoCodeIsTooLong)
{
    // Huffman's cost, by the sum of all merged weights.
    const std::vector<std::uint32_t> f = textFrequencies();
    std::vector<std::uint64_t> heap;
    for (std::uint32_t v : f)
        if (v)
            heap.push_back(v);
    std::uint64_t best = 0;
    while (heap.size() > 1) {
        std::sort(heap.begin(), heap.end());
        const std::uint64_t merged = heap[0] + heap[1];
        best += merged;
        heap.erase(heap.begin(), heap.begin() + 2);
        heap.push_back(merged);
    }
    std::uint8_t len[256];
    buildCodeLengths(f.data(), 256, 16, len);
    std::uint64_t cost = 0;
    for (int i = 0; i < 256; ++i)
        cost += std::uint64_t{f[i]} * len[i];
    EXPECT_EQ(cost, best);
}

// --- tree lengths through the pretree --------------------------------------------

namespace {

// What a reader makes of the symbols, as the format describes them; an empty
// result when the symbols do not cover the range exactly or a run of 19
// spans different previous lengths.
std::vector<std::uint8_t> rebuild(const std::vector<std::uint8_t> &prev, const std::vector<TreeOp> &ops)
{
    std::vector<std::uint8_t> out;
    for (const TreeOp &op : ops) {
        const std::size_t at = out.size();
        if (op.symbol <= 16) {
            if (at >= prev.size())
                return {};
            out.push_back(static_cast<std::uint8_t>((prev[at] + 17 - op.symbol) % 17));
        } else if (op.symbol == 17 || op.symbol == 18) {
            out.insert(out.end(), (op.symbol == 17 ? 4 : 20) + op.extra, 0);
        } else if (op.symbol == 19) {
            const std::size_t run = 4 + op.extra;
            if (op.extra > 1 || op.delta > 16 || at + run > prev.size())
                return {};
            for (std::size_t k = 0; k < run; ++k) {
                if (prev[at + k] != prev[at])
                    return {};
                out.push_back(static_cast<std::uint8_t>((prev[at] + 17 - op.delta) % 17));
            }
        } else {
            return {};
        }
        if (out.size() > prev.size())
            return {};
    }
    return out.size() == prev.size() ? out : std::vector<std::uint8_t>{};
}

std::vector<TreeOp> plan(const std::vector<std::uint8_t> &prev, const std::vector<std::uint8_t> &next,
                         const std::uint8_t *bits)
{
    std::vector<TreeOp> ops(next.size());
    ops.resize(planTreeOps(prev.data(), next.data(), static_cast<int>(next.size()), bits, ops.data()));
    return ops;
}

const std::uint8_t kFlatBits[kPretreeSymbols] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};

struct PlanCase {
    const char *label;
    std::vector<std::uint8_t> prev, next;
    std::vector<std::uint8_t> symbols;  // the symbols expected, in any order (ties may go either way)
};

class TreePlans : public ::testing::TestWithParam<PlanCase> {};

}  // namespace

TEST_P(TreePlans, ReadersRebuildTheLengthsWithTheCheapestRuns)
{
    const PlanCase &c = GetParam();
    const std::vector<TreeOp> ops = plan(c.prev, c.next, kFlatBits);
    EXPECT_EQ(rebuild(c.prev, ops), c.next);
    std::vector<std::uint8_t> symbols, expected = c.symbols;
    for (const TreeOp &op : ops)
        symbols.push_back(op.symbol);
    std::sort(symbols.begin(), symbols.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(symbols, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, TreePlans,
    ::testing::Values(
        PlanCase{"FiftyOneZerosAreOneRun", std::vector<std::uint8_t>(51, 5), std::vector<std::uint8_t>(51, 0), {18}},
        PlanCase{"TwentyZeros", std::vector<std::uint8_t>(20, 0), std::vector<std::uint8_t>(20, 0), {18}},
        PlanCase{"NineteenZeros", std::vector<std::uint8_t>(19, 3), std::vector<std::uint8_t>(19, 0), {17}},
        PlanCase{"SixtyZerosTwoRuns", std::vector<std::uint8_t>(60, 1), std::vector<std::uint8_t>(60, 0), {18, 17}},
        PlanCase{"ThreeZerosAreDeltas", {2, 2, 2}, {0, 0, 0}, {2, 2, 2}},
        PlanCase{"FiveEqualOverEqualPrevious", {4, 4, 4, 4, 4}, {7, 7, 7, 7, 7}, {19}},
        PlanCase{"EqualOverUnequalPreviousNeverRuns", {4, 4, 5, 4, 4}, {7, 7, 7, 7, 7}, {14, 14, 15, 14, 14}},
        PlanCase{"ZerosThenALength", {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 8}, {17, 9}}),
    [](const ::testing::TestParamInfo<PlanCase> &i) { return std::string(i.param.label); });

TEST(TreePlansPriced, RunsGiveWayToDeltasWhenTheyCostMore)
{
    std::uint8_t bits[kPretreeSymbols];
    std::fill(bits, bits + kPretreeSymbols, std::uint8_t{16});
    bits[0] = 1;  // "unchanged" costs a bit, any run 16 and more
    const std::vector<std::uint8_t> zeros(10, 0);
    const std::vector<TreeOp> ops = plan(zeros, zeros, bits);
    ASSERT_EQ(ops.size(), 10u);
    for (const TreeOp &op : ops)
        EXPECT_EQ(op.symbol, 0);
}

TEST(TreePlansRandom, EveryPlanRebuildsItsLengths)
{
    std::mt19937 rng(2005);
    for (int round = 0; round < 300; ++round) {
        const int n = 1 + static_cast<int>(rng() % kMaxMainSymbols);
        std::vector<std::uint8_t> prev(n), next(n);
        const unsigned zeroShare = rng() % 4;
        for (int i = 0; i < n; ++i) {
            prev[i] = rng() % 4 < zeroShare ? 0 : static_cast<std::uint8_t>(rng() % 17);
            next[i] = rng() % 4 < zeroShare ? 0 : (rng() % 3 ? prev[i] : static_cast<std::uint8_t>(rng() % 17));
        }
        std::uint8_t bits[kPretreeSymbols];
        for (auto &b : bits)
            b = static_cast<std::uint8_t>(1 + rng() % 15);
        ASSERT_EQ(rebuild(prev, plan(prev, next, bits)), next) << "round " << round;
    }
}

// --- frames -------------------------------------------------------------------

namespace {

struct Counting {
    static inline std::size_t live = 0, peak = 0, failAbove = SIZE_MAX;
    static void *alloc(cab::ULONG cb)
    {
        if (cb > failAbove)
            return nullptr;
        auto *p = static_cast<std::size_t *>(std::malloc(cb + sizeof(std::size_t)));
        *p = cb;
        live += cb;
        peak = std::max(peak, live);
        return p + 1;
    }
    static void free(void *p)
    {
        if (!p)
            return;
        auto *h = static_cast<std::size_t *>(p) - 1;
        live -= *h;
        std::free(h);
    }
};

std::vector<std::uint8_t> noise(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto &b : v)
        b = static_cast<std::uint8_t>(rng());
    return v;
}

std::uint32_t firstBits(const std::vector<std::uint8_t> &out)
{
    return (static_cast<std::uint32_t>(out[0] | (out[1] << 8)) << 16) | static_cast<std::uint32_t>(out[2] | (out[3] << 8));
}

}  // namespace

TEST(LzxFrames, IncompressibleDataGoesIntoUncompressedBlocksBitForBit)
{
    LzxEncoder enc;
    enc.init(ZAlloc{Counting::alloc, Counting::free});
    ASSERT_TRUE(enc.reset(16));
    const std::uint32_t frames[] = {32768, 32768, 1};
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t n = frames[k];
        const std::vector<std::uint8_t> in = noise(n, 100 + k);
        std::vector<std::uint8_t> out(kMaxFrameCompressed, 0xFF);
        out.resize(enc.encodeFrame(in.data(), n, out.data()));
        ASSERT_EQ(out.size(), 4 + 12 + n + (n & 1));
        // Words are read from the top bit: [E8 flag,] type 3, 24-bit size, padding to the word.
        if (k == 0) {
            EXPECT_EQ(firstBits(out), (3u << 28) | (n << 4)) << "the folder's first frame carries the E8 flag";
        } else {
            EXPECT_EQ(firstBits(out), (3u << 29) | (n << 5));
        }
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(out[4 + 4 * r] | (out[5 + 4 * r] << 8) | (out[6 + 4 * r] << 16) | (out[7 + 4 * r] << 24), 1)
                << "R" << r;
        EXPECT_EQ(0, std::memcmp(out.data() + 16, in.data(), n));
        if (n & 1) {
            EXPECT_EQ(out.back(), 0) << "an odd block is padded to the word";
        }
    }
}

TEST(LzxFrames, EveryFrameIsEvenBoundedAndTheSameAfterAReset)
{
    std::vector<std::uint8_t> data;
    const std::string text = "2005-03-03  201-01-001  KOWALSKI JAN    1234.56 PLN\r\n";
    for (int i = 0; data.size() < 200000; ++i)
        for (char ch : text)
            data.push_back(static_cast<std::uint8_t>(ch + (i % 13 == 0)));
    const std::vector<std::uint8_t> n1 = noise(70000, 3);
    data.insert(data.end(), n1.begin(), n1.end());
    data.insert(data.end(), 100000, 'A');
    LzxEncoder enc;
    enc.init(ZAlloc{Counting::alloc, Counting::free});
    std::vector<std::uint8_t> out(kMaxFrameCompressed);
    std::vector<std::uint32_t> sizes[2];
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(enc.reset(15));
        for (std::size_t at = 0; at < data.size(); at += 32768) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(32768, data.size() - at));
            const std::uint32_t size = enc.encodeFrame(data.data() + at, n, out.data());
            EXPECT_EQ(size % 2, 0u);
            EXPECT_LE(size, kMaxFrameCompressed);
            sizes[pass].push_back(size);
        }
    }
    EXPECT_EQ(sizes[0], sizes[1]) << "a reset must forget the previous folder";
    EXPECT_LT(sizes[0].back(), 200u) << "a run of one byte compresses to almost nothing";
}

TEST(LzxMemory, WindowsOutsideTheFormatAreRefusedAndMemoryComesFromTheCaller)
{
    Counting::live = Counting::peak = 0;
    {
        LzxEncoder enc;
        enc.init(ZAlloc{Counting::alloc, Counting::free});
        EXPECT_FALSE(enc.reset(14));
        EXPECT_FALSE(enc.reset(22));
        Counting::failAbove = 1 << 20;
        EXPECT_FALSE(enc.reset(21)) << "the window cannot be had";
        EXPECT_EQ(Counting::live, 0u) << "a failed reset keeps nothing";
        Counting::failAbove = SIZE_MAX;
        ASSERT_TRUE(enc.reset(21));
        const std::vector<std::uint8_t> in = noise(32768, 9);
        std::vector<std::uint8_t> out(kMaxFrameCompressed);
        enc.encodeFrame(in.data(), 32768, out.data());
        EXPECT_GT(Counting::peak, std::size_t{2} << 21) << "the window lives in the caller's memory";
        EXPECT_LT(Counting::peak, std::size_t{64} << 20);
    }
    EXPECT_EQ(Counting::live, 0u);
}

// --- what the matches reach ---------------------------------------------------

// 7-Zip (26.02) returns wrong bytes, and success, for a match of 9 bytes or
// more at the largest offset the format allows, 2^W - 3. The encoder keeps
// every match inside the window counted from its start (offset + length at
// most 2^W), and still reaches that far.
TEST(LzxMatches, EveryMatchEndsInsideTheWindowAndTheFurthestOffsetIsUsed)
{
    for (int w = kMinWindowBits; w <= kMaxWindowBits; ++w) {
        const std::uint32_t window = 1u << w;
        std::string text = cabtest::farMatchInput(w);
        text += text.substr(text.size() - (window - kMaxMatch), 30);
        const std::vector<std::uint8_t> in(text.begin(), text.end());
        LzxEncoder enc;
        enc.init(ZAlloc{Counting::alloc, Counting::free});
        ASSERT_TRUE(enc.reset(w));
        lzxtest::TokenLister lister(w);
        std::vector<std::uint8_t> out(kMaxFrameCompressed);
        for (std::size_t at = 0; at < in.size(); at += kFrameSize) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(kFrameSize, in.size() - at));
            const std::uint32_t size = enc.encodeFrame(in.data() + at, n, out.data());
            ASSERT_TRUE(lister.frame(out.data(), size, n)) << "window " << w << ": " << lister.listing().error;
        }
        const lzxtest::Listing &l = lister.listing();
        ASSERT_TRUE(l.data == in) << "window " << w << ": the listing does not rebuild the input";
        bool furthest = false;
        for (const lzxtest::ListedMatch &m : l.matches) {
            EXPECT_LE(m.offset + m.length, window)
                << "window " << w << ": " << m.length << " bytes from " << m.offset << " back at " << m.position;
            furthest = furthest || m.offset == window - kMaxMatch;
        }
        EXPECT_TRUE(furthest) << "window " << w << ": the copy from 2^W - 257 back was not matched";
    }
}

// --- the two halves -------------------------------------------------------------

// Matches found ahead of the coding, as far as readyToFind allows, give the
// frames encodeFrame gives, also where the window buffer drops its oldest
// part (the input is longer than the buffer at 2^15 and at 2^16).
TEST(LzxHalves, FindingAheadGivesTheSameFramesAsOneFrameAtATime)
{
    std::vector<std::uint8_t> data;
    const std::string text = "2005-03-03  201-01-001  KOWALSKI JAN    1234.56 PLN\r\n";
    std::mt19937 rng(7);
    while (data.size() < 2600000) {
        for (char ch : text)
            data.push_back(static_cast<std::uint8_t>(rng() % 9 == 0 ? '0' + rng() % 10 : ch));
        if (data.size() % 400000 < 60) {
            const std::vector<std::uint8_t> n = noise(50000, static_cast<unsigned>(data.size()));
            data.insert(data.end(), n.begin(), n.end());
        }
    }
    for (int w : {15, 16}) {
        SCOPED_TRACE(w);
        auto frameAt = [&](std::size_t k) {
            const std::size_t at = k * kFrameSize;
            return std::pair{data.data() + at, static_cast<std::uint32_t>(std::min<std::size_t>(kFrameSize, data.size() - at))};
        };
        const std::size_t frames = (data.size() + kFrameSize - 1) / kFrameSize;
        std::vector<std::vector<std::uint8_t>> one, ahead;
        LzxEncoder enc;
        enc.init(ZAlloc{Counting::alloc, Counting::free});
        ASSERT_TRUE(enc.reset(w));
        std::vector<std::uint8_t> out(kMaxFrameCompressed);
        for (std::size_t k = 0; k < frames; ++k) {
            const auto [p, n] = frameAt(k);
            one.emplace_back(out.begin(), out.begin() + enc.encodeFrame(p, n, out.data()));
        }
        ASSERT_TRUE(enc.reset(w));
        std::size_t found = 0;
        int waited = 0;
        for (std::size_t k = 0; k < frames; ++k) {
            while (found < frames && enc.readyToFind(frameAt(found).second)) {
                const auto [p, n] = frameAt(found);
                enc.findMatches(p, n);
                ++found;
            }
            EXPECT_LE(found - k, std::size_t{LzxEncoder::kFoundBuffers});
            waited += found - k < std::size_t{LzxEncoder::kFoundBuffers} && found < frames;
            ahead.emplace_back(out.begin(), out.begin() + enc.codeFrame(out.data()));
        }
        EXPECT_GT(waited, 0) << "dropping the buffer's oldest part waits for the frames found before it";
        ASSERT_EQ(ahead.size(), one.size());
        for (std::size_t k = 0; k < frames; ++k)
            EXPECT_TRUE(ahead[k] == one[k]) << "frame " << k;
    }
}
