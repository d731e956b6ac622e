// The LZX decoder on streams built bit by bit: what valid streams decode to,
// and how damaged ones fail, frame by frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "cabinet/lzxdecoder.h"
#include "lzx_streamwriter.h"

using namespace lzxtest;
using cab::detail::LzxDecoder;

namespace {

constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;

struct Decoded {
    bool ok = true;
    std::size_t failedFrame = 0;
    Bytes out;
    bool guardsIntact = true;
};

// Feeds the frames in order, each from a buffer of its exact size into an
// output buffer fenced by guard bytes.
Decoded decodeFrames(int windowBits, const std::vector<Frame> &frames)
{
    Decoded d;
    LzxDecoder dec;
    const cab::detail::ZAlloc mem{[](cab::ULONG n) { return std::malloc(n); }, [](void *p) { std::free(p); }};
    if (dec.reset(mem, windowBits) != LzxDecoder::Result::Ok) {
        d.ok = false;
        return d;
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame &f = frames[i];
        Bytes out(kGuard + lzx::kFrameSize + kGuard, kGuardByte);
        const Bytes in(f.data);
        const auto r = dec.decodeFrame(in.data(), static_cast<std::uint32_t>(in.size()), out.data() + kGuard, f.size,
                                       i + 1 == frames.size());
        for (std::size_t k = 0; k < out.size(); ++k)
            if ((k < kGuard || k >= kGuard + std::min(f.size, lzx::kFrameSize)) && out[k] != kGuardByte)
                d.guardsIntact = false;
        if (r != LzxDecoder::Result::Ok) {
            d.ok = false;
            d.failedFrame = i;
            return d;
        }
        d.out.insert(d.out.end(), out.begin() + kGuard, out.begin() + kGuard + f.size);
    }
    return d;
}

void expectDecodesTo(const Stream &s, const Bytes &expected, const std::string &what)
{
    const Encoded e = StreamWriter{}.encode(s);
    const Decoded d = decodeFrames(s.windowBits, e.frames);
    EXPECT_TRUE(d.ok) << what << ": frame " << d.failedFrame;
    EXPECT_TRUE(d.guardsIntact) << what;
    EXPECT_EQ(d.out.size(), expected.size()) << what;
    EXPECT_TRUE(d.out == expected) << what;
}

// --- valid streams ----------------------------------------------------------

class EveryWindow : public ::testing::TestWithParam<int> {};

TEST_P(EveryWindow, MixedBlocksOverSeveralFramesDecodeExactly)
{
    const int bits = GetParam();
    TokenSource src(static_cast<std::uint32_t>(bits), lzx::maxOffset(bits));
    Stream s;
    s.windowBits = bits;
    s.blocks.push_back(verbatim(src.take(30000)));
    s.blocks.push_back(aligned(src.take(50001)));  // runs over two frame boundaries
    Bytes raw(777);
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint8_t>(i * 7);
    s.blocks.push_back(uncompressed(raw));
    src.skip(777);
    s.blocks.push_back(verbatim(src.take(20000), true));
    s.blocks.push_back(aligned(src.take(12345)));
    const Encoded e = StreamWriter{}.encode(s);
    EXPECT_GT(e.repeatMatches, 100);
    EXPECT_EQ(e.frames.size(), 4u);
    expectDecodesTo(s, expand(s), "window " + std::to_string(bits));
}

INSTANTIATE_TEST_SUITE_P(Lzx, EveryWindow, ::testing::Range(lzx::kMinWindowBits, lzx::kMaxWindowBits + 1));

TEST(LzxStreams, RepeatedOffsetsFollowEachSlot)
{
    // Offsets 5, 9, 13 go in full; then R0, R1 (swapped with R0), R2 (swapped
    // with R0), each checked by the bytes it copies.
    std::vector<Token> t;
    for (int i = 0; i < 20; ++i)
        t.push_back(lit(static_cast<std::uint8_t>('a' + i)));
    for (std::uint32_t off : {5u, 9u, 13u, 13u, 9u, 5u, 13u, 9u, 9u})
        t.push_back(match(3, off));
    Stream s;
    s.blocks.push_back(verbatim(t));
    EXPECT_EQ(StreamWriter{}.encode(s).repeatMatches, 6);
    expectDecodesTo(s, expand(s), "repeats");
}

TEST(LzxStreams, UncompressedBlocksRunAcrossFramesAndSetTheRepeatedOffsets)
{
    // Where the block starts and how long it is decide whether each frame
    // ends on an odd byte and where the padding byte after it falls.
    for (const auto &[lead, size] : uncompressedSplits()) {
        const Stream s = uncompressedAcrossFrames(lead, size);
        EXPECT_EQ(StreamWriter{}.encode(s).repeatMatches, 3);
        expectDecodesTo(s, expand(s), std::to_string(lead) + " + " + std::to_string(size));
    }
}

TEST(LzxStreams, UncompressedBlockStartingOnAWordBoundaryIsPaddedByAWholeWord)
{
    // Lengthen the block before it until its header ends on a word boundary.
    for (int n = 1; n < 64; ++n) {
        Stream s;
        s.blocks = {verbatim(letters(n)), uncompressed(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}), verbatim({match(9, 9)})};
        if (StreamWriter{}.encode(s).wholeWordPadding == 0)
            continue;
        expectDecodesTo(s, expand(s), "after " + std::to_string(n) + " letters");
        return;
    }
    FAIL() << "no stream put the uncompressed block on a word boundary";
}

TEST(LzxStreams, TreeLengthsAreDeltasAgainstThePreviousBlock)
{
    // Each block uses other symbols, so lengths rise, fall and vanish between
    // blocks; runs of zeros and of equal lengths take the run symbols.
    Stream s;
    std::vector<Token> a, b, c;
    for (int i = 0; i < 200; ++i)
        a.push_back(lit(static_cast<std::uint8_t>('a' + i % 26)));
    for (int i = 0; i < 200; ++i)
        b.push_back(i % 10 == 9 ? match(12 + i % 50, 1 + i % 100) : lit(static_cast<std::uint8_t>('0' + i % 10)));
    for (int i = 0; i < 300; ++i)
        c.push_back(lit(static_cast<std::uint8_t>(i)));
    s.blocks = {verbatim(a, true), verbatim(b, true), verbatim(c, false), aligned(a), verbatim(b, true)};
    expectDecodesTo(s, expand(s), "deltas");
}

TEST(LzxStreams, ARunOfEqualLengthsTakesTheFirstElementsPreviousLength)
{
    // The one reading of symbol 19 that cabextract, 7-Zip and bsdtar share.
    const Stream s = runOverChangedLengths();
    expectDecodesTo(s, expand(s), "run over changed lengths");
}

TEST(LzxStreams, LongestMatchesAndTheWindowWrap)
{
    // A 32 KiB window holds one frame: every frame after the first reaches
    // back across the window's end.
    TokenSource src(99, lzx::maxOffset(15));
    Stream s;
    s.windowBits = 15;
    std::vector<Token> t = src.take(70000);
    t.push_back(match(257, 32765));
    t.push_back(match(257, 1));
    s.blocks.push_back(aligned(t));
    expectDecodesTo(s, expand(s), "wrap");
}

TEST(LzxStreams, E8CallsAreRestoredUpToEachFramesLastTenBytes)
{
    const Bytes original = callsNearFrameEnds();
    const Stream s = e8Stream(original);
    ASSERT_NE(expand(s), original);
    expectDecodesTo(s, original, "e8");
}

// --- damaged streams ----------------------------------------------------------

struct Damaged {
    const char *what;
    std::function<std::vector<Frame>()> frames;
    std::size_t failingFrame;
    int windowBits = 16;
};

std::vector<Frame> framesOf(const Stream &s) { return StreamWriter{}.encode(s).frames; }

std::vector<Frame> rawFrame(std::initializer_list<std::pair<std::uint32_t, int>> fields, std::uint32_t size)
{
    BitWriter w;
    for (const auto &[value, bits] : fields)
        w.put(value, bits);
    w.align();
    return {Frame{w.bytes(), size}};
}

Stream oneBlock(Block b)
{
    Stream s;
    s.blocks.push_back(std::move(b));
    return s;
}

Block tweaked(Block b, int which, std::function<void(std::vector<std::uint8_t> &)> f)
{
    b.tweak = [which, f](int w, std::vector<std::uint8_t> &len) {
        if (w == which)
            f(len);
    };
    return b;
}

std::vector<Damaged> damagedStreams()
{
    auto allOnes = [](std::vector<std::uint8_t> &l) { std::fill(l.begin(), l.end(), 1); };
    auto clear = [](std::vector<std::uint8_t> &l) { std::fill(l.begin(), l.end(), 0); };
    std::vector<Damaged> v = {
        {"over-subscribed pretree",
         [] {
             BitWriter w;
             w.put(0, 1), w.put(1, 3), w.put(10, 24);
             for (int i = 0; i < 20; ++i)
                 w.put(1, 4);
             w.align();
             return std::vector<Frame>{Frame{w.bytes(), 10}};
         },
         0},
        {"over-subscribed main tree", [=] { return framesOf(oneBlock(tweaked(verbatim(letters(10)), 0, allOnes))); }, 0},
        {"over-subscribed aligned tree",
         [=] { return framesOf(oneBlock(tweaked(aligned({lit('a'), match(5, 1)}), 2, allOnes))); }, 0},
        {"symbol of an empty main tree", [=] { return framesOf(oneBlock(tweaked(verbatim(letters(10)), 0, clear))); }, 0},
        {"symbol of an empty length tree",
         [=] { return framesOf(oneBlock(tweaked(verbatim({lit('a'), match(40, 1)}), 1, clear))); }, 0},
        {"zero run past the end of the tree",
         [] {
             BitWriter w;
             w.put(0, 1), w.put(1, 3), w.put(10, 24);
             for (int i = 0; i < 20; ++i)
                 w.put(i == 0 || i == 18 ? 1 : 0, 4);  // symbol 0 is code 0, symbol 18 code 1
             for (int i = 0; i < 6; ++i)
                 w.put(1, 1), w.put(31, 5);  // 6 x 51 zeros over 256 elements
             w.align();
             return std::vector<Frame>{Frame{w.bytes(), 10}};
         },
         0},
        {"match before the start of the folder", [] { return framesOf(oneBlock(verbatim({lit('a'), match(3, 2)}))); },
         0},
        {"match past the end of the frame",
         [] {
             std::vector<Token> t = letters(32766);
             t.push_back(match(4, 1));
             t.push_back(lit('z'));
             return framesOf(oneBlock(verbatim(t)));
         },
         0},
        {"match past the end of its block",
         [] {
             Block a = verbatim({lit('a'), lit('b'), match(5, 1)});
             a.size = 4;
             Stream s;
             s.blocks = {a, verbatim(letters(3))};
             return framesOf(s);
         },
         0},
        {"block longer than the folder",
         [] {
             Block b = verbatim(letters(10));
             b.size = 1000;
             return framesOf(oneBlock(b));
         },
         0},
        {"block type 0", [] { return rawFrame({{0, 1}, {0, 3}, {5, 24}}, 5); }, 0},
        {"block type 4", [] { return rawFrame({{0, 1}, {4, 3}, {5, 24}}, 5); }, 0},
        {"block type 7", [] { return rawFrame({{0, 1}, {7, 3}, {5, 24}}, 5); }, 0},
        {"uncompressed block cut short",
         [] {
             std::vector<Frame> f = framesOf(oneBlock(uncompressed(Bytes(100, 'u'))));
             f[0].size = 200;
             return f;
         },
         0},
        {"uncompressed block without its repeated offsets",
         [] {
             std::vector<Frame> f = framesOf(oneBlock(uncompressed(Bytes(100, 'u'))));
             f[0].data.resize(10);
             return f;
         },
         0},
        {"offset 0 from an uncompressed block",
         [] {
             Block u = uncompressed(Bytes(10, 'u'));
             u.rawR[0] = 0;
             Stream s;
             s.blocks = {u, verbatim({match(3, 0)})};
             return framesOf(s);
         },
         0},
        {"offset beyond the window",
         [] {
             Block u = uncompressed(Bytes(40000, 'u'));
             u.rawR[0] = 40000;
             Stream s;
             s.windowBits = 15;
             s.blocks = {u, verbatim({match(3, 40000)})};
             return framesOf(s);
         },
         1, 15},
        {"frame after a short one",
         [] {
             std::vector<Frame> f = framesOf(oneBlock(verbatim(letters(10))));
             f.push_back(f[0]);
             return f;
         },
         1},
        {"frame of 0 bytes", [] { return std::vector<Frame>{Frame{Bytes(4, 0), 0}}; }, 0},
        {"frame of more than 32 KiB", [] { return std::vector<Frame>{Frame{Bytes(4, 0), 32769}}; }, 0},
    };
    return v;
}

TEST(LzxDamage, EachDamagedStreamFailsInItsFrameAndWritesNothingOutside)
{
    for (const Damaged &d : damagedStreams()) {
        const Decoded r = decodeFrames(d.windowBits, d.frames());
        EXPECT_FALSE(r.ok) << d.what;
        EXPECT_EQ(r.failedFrame, d.failingFrame) << d.what;
        EXPECT_TRUE(r.guardsIntact) << d.what;
    }
}

TEST(LzxDamage, NothingMoreOfTheFolderIsDecodedAfterDamage)
{
    TokenSource src(8, lzx::maxOffset(16));
    Stream s;
    s.blocks.push_back(verbatim(src.take(40000)));
    const std::vector<Frame> frames = framesOf(s);
    LzxDecoder dec;
    const cab::detail::ZAlloc mem{[](cab::ULONG n) { return std::malloc(n); }, [](void *p) { std::free(p); }};
    ASSERT_EQ(dec.reset(mem, 16), LzxDecoder::Result::Ok);
    Bytes out(lzx::kFrameSize);
    const Bytes cut(frames[0].data.begin(), frames[0].data.begin() + 100);
    EXPECT_EQ(dec.decodeFrame(cut.data(), 100, out.data(), frames[0].size, false), LzxDecoder::Result::BadData);
    EXPECT_EQ(dec.decodeFrame(frames[1].data.data(), static_cast<std::uint32_t>(frames[1].data.size()), out.data(),
                              frames[1].size, true),
              LzxDecoder::Result::BadData);
    // A new folder starts clean.
    ASSERT_EQ(dec.reset(mem, 16), LzxDecoder::Result::Ok);
    Bytes all;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(dec.decodeFrame(frames[i].data.data(), static_cast<std::uint32_t>(frames[i].data.size()), out.data(),
                                  frames[i].size, i + 1 == frames.size()),
                  LzxDecoder::Result::Ok);
        all.insert(all.end(), out.begin(), out.begin() + frames[i].size);
    }
    EXPECT_EQ(all, expand(s));
}

TEST(LzxDamage, EveryTruncatedFrameFails)
{
    TokenSource src(5, lzx::maxOffset(17));
    Stream s;
    s.windowBits = 17;
    s.blocks.push_back(verbatim(src.take(3000)));
    s.blocks.push_back(uncompressed(Bytes(501, 'r')));
    src.skip(501);
    s.blocks.push_back(aligned(src.take(2000)));
    const std::vector<Frame> whole = framesOf(s);
    ASSERT_EQ(whole.size(), 1u);
    for (std::size_t len = 0; len < whole[0].data.size(); ++len) {
        std::vector<Frame> cut = whole;
        cut[0].data.resize(len);
        const Decoded r = decodeFrames(17, cut);
        EXPECT_TRUE(r.guardsIntact) << len;
        if (len % 2 == 0) {  // a lost odd byte may be one the stream never needed
            EXPECT_FALSE(r.ok) << "truncated to " << len;
        }
    }
}

}  // namespace
