// LZX encoder: a match finder over the window, a cost-driven parse of each
// frame, and one block per frame; the finder and the parse run as two halves
// that a second thread can overlap (the finder on the next frame while the
// parse codes this one), with the same output on any number of threads.
//
// Match finder: the latest 16 positions of each hash of 4 bytes sit in a row
// of their own, newest first, with a one-byte tag of their first 6 bytes
// beside each; the tags of a row are compared all at once, and only the
// positions whose tag matches are read in the window. A row is one cache
// line of positions, where a walk down a binary tree of the earlier
// positions missed the cache at every node. The latest position of each
// 3-byte hash is kept apart for short matches. Every position goes into its
// row; the matches a position gets are those of rising length along its row,
// as far back as the largest offset.
//
// Parse: the frame's cheapest path through literals, matches and repeated
// offsets, in bits by the code lengths of the previous frame (the first
// frame of a folder uses a flat guess). Each path step carries R0-R2 as they
// stand after it, so repeats are priced where they really apply; ledger
// records make them pay, since fields recur at the record length and its
// multiples. Lazy matching missed the size target by 4 % when it was tried;
// a second parse priced by the frame's own first parse gained 0.2 % for 30 %
// more time, so there is one.
//
// Measured on 40 MB of the benchmark's "mixed" and "registers" shapes and on
// 63 MB of the "flat" shape (files in name order, window 2^21), size against
// our MSZIP and CPU MB/s on one thread of the build machine:
//   binary tree of 6 nodes ... mixed 0.898  8 MB/s, registers 0.836 13 MB/s, flat 0.839  5 MB/s
//   rows of 16 with tags ..... mixed 0.900 16 MB/s, registers 0.831 22 MB/s, flat 0.844 13 MB/s
// The same sizes within half a per cent, at two to three times the speed.
// (A tree walked deeper packs smaller, 0.868 on "mixed" at 12 nodes, but at
// a third of the speed.)
//
// Blocks: a frame becomes a verbatim block, or an aligned-offset block when
// coding the low three offset bits with their own tree is cheaper, or an
// uncompressed block when neither shrinks it; all three sizes are counted
// exactly before anything is written, and the parse is replayed against the
// data first, so no slip can reach the output. Tree lengths are sent as the
// cheapest mix of deltas and runs against the previous block's lengths. The
// stream header says "no E8 translation": ledger data holds no x86 code, so
// the translation could only cost time.
#include "cabinet/lzxencoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QV_LZX_SSE2 1
#else
#define QV_LZX_SSE2 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define QV_LZX_INLINE inline __attribute__((always_inline))
#define QV_LZX_PREFETCH(p) __builtin_prefetch(p)
#else
#define QV_LZX_INLINE inline
#define QV_LZX_PREFETCH(p) static_cast<void>(p)
#endif

namespace cab::detail {

using namespace lzx;

namespace {

// Tuning, each measured against its neighbours on the samples above: rows of
// 8 positions are 13 % faster and 1 % larger; rows of 32 take 40 % more time
// for 1 % less; matches of 24 bytes taken whole are the knee (32: 1 % smaller,
// 16 % slower). A row passes over positions that match in 4 or 5 bytes only
// (their tags differ); the 3-byte hash still offers the nearest short match.
constexpr int kRowBits = 16;
constexpr int kRowWays = 16;
constexpr std::uint32_t kTagBytes = 6;
constexpr int kHash3Bits = 14;
constexpr std::uint32_t kNiceLength = 24;
constexpr int kMaxCandidates = 12;
// How far ahead the finder asks for the rows it will read.
constexpr std::uint32_t kAhead = 4;
// A frame in which fewer than one 4-byte group in 64 was seen before gets no
// match search at all: random or compressed data ran at 2 MB/s through the
// tree walks, and now at disk speed.
constexpr int kSeenBits = 16;
constexpr std::uint32_t kRareRepeats = 64;

constexpr int kMainLimit = kMaxCodeLength;
constexpr int kLengthLimit = kMaxCodeLength;
constexpr int kAlignedLimit = 7;  // 3-bit fields
constexpr int kPretreeLimit = 15;  // 4-bit fields
constexpr int kPretreeSymbolBits = 4;
constexpr int kBlockHeaderBits = 3 + 24;
constexpr int kAlignedTreeBits = kAlignedSymbols * kAlignedLengthBits;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
// Cost of a symbol the model has not seen: about what a single use in a
// frame of 32 KiB costs.
constexpr std::uint16_t kUnseenCost = 14;
// No match ends beyond the window counted from where it copies from
// (offset + length <= 2^W): 7-Zip (26.02) gives back wrong bytes, and
// success, for a match of 9 bytes or more at 2^W - 3, the largest offset the
// format allows. Offsets up to 2^W - 257 keep every length clear of that;
// on 40 MB of each benchmark shape the output grew by 0.002-0.017 % at 2^21
// and 0.011-0.034 % at 2^15.
constexpr std::uint32_t reachLimit(int windowBits) { return (1u << windowBits) - kMaxMatch; }
// Positions count from past the largest window, so that 0 in a hash head or
// tree link ("none") is always out of reach.
constexpr std::uint32_t kOrigin = 1u << (kMaxWindowBits + 1);

struct Match {
    std::uint32_t len;
    std::uint32_t dist;
};

// One step of the parse, stored at the position where it ends.
struct Node {
    std::uint32_t cost;
    std::uint32_t fmt;   // formatted offset: 0-2 a repeat, else distance + 2
    std::uint32_t len;   // 0 for a literal
    std::uint32_t r[3];  // repeated offsets after the step, filled when the node is expanded
};

struct Item {
    std::uint32_t len;  // 0 for a literal
    std::uint32_t fmt;
};

int slotOf(std::uint32_t fmt)
{
    if (fmt < 4)
        return static_cast<int>(fmt);
    if (fmt < kPositionBase[36]) {
        const int k = std::bit_width(fmt) - 1;
        return 2 * k + static_cast<int>((fmt >> (k - 1)) & 1);
    }
    return 36 + static_cast<int>((fmt - kPositionBase[36]) >> 17);
}

std::uint32_t hash3(const std::uint8_t *p)
{
    const std::uint32_t v = p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kHash3Bits);
}

// Length of the common prefix of p and q, from len up to limit.
QV_LZX_INLINE std::uint32_t extend(const std::uint8_t *p, const std::uint8_t *q, std::uint32_t len,
                                 std::uint32_t limit)
{
    if constexpr (std::endian::native == std::endian::little) {
        while (len + 8 <= limit) {
            std::uint64_t a, b;
            std::memcpy(&a, p + len, 8);
            std::memcpy(&b, q + len, 8);
            if (const std::uint64_t x = a ^ b)
                return len + static_cast<std::uint32_t>(std::countr_zero(x) >> 3);
            len += 8;
        }
    }
    while (len < limit && p[len] == q[len])
        ++len;
    return len;
}

std::uint32_t delta(std::uint8_t prev, std::uint8_t next) { return (prev + 17u - next) % 17u; }

void canonicalCodes(const std::uint8_t *lengths, int n, std::uint16_t *codes)
{
    std::uint32_t count[kMaxCodeLength + 2] = {};
    for (int i = 0; i < n; ++i)
        ++count[lengths[i]];
    count[0] = 0;
    std::uint32_t next[kMaxCodeLength + 2] = {};
    std::uint32_t code = 0;
    for (int bits = 1; bits <= kMaxCodeLength; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int i = 0; i < n; ++i)
        codes[i] = lengths[i] ? static_cast<std::uint16_t>(next[lengths[i]]++) : 0;
}

// Bits go into 16-bit words from the top down; words are stored low byte
// first.
class BitWriter {
public:
    BitWriter(std::uint8_t *out, std::uint32_t room) : out_(out), room_(room) {}
    void put(std::uint32_t value, int bits)
    {
        acc_ = (acc_ << bits) | value;
        fill_ += bits;
        while (fill_ >= 16) {
            fill_ -= 16;
            word(static_cast<std::uint16_t>(acc_ >> fill_));
        }
    }
    void align()
    {
        if (fill_)
            put(0, 16 - fill_);
    }
    // Only on a 16-bit boundary.
    void bytes(const std::uint8_t *p, std::uint32_t n)
    {
        if (pos_ + n > room_) {
            overflow_ = true;
            return;
        }
        std::memcpy(out_ + pos_, p, n);
        pos_ += n;
    }
    std::uint32_t size() const { return pos_; }
    bool overflow() const { return overflow_; }

private:
    void word(std::uint16_t w)
    {
        if (pos_ + 2 > room_) {
            overflow_ = true;
            return;
        }
        out_[pos_] = static_cast<std::uint8_t>(w);
        out_[pos_ + 1] = static_cast<std::uint8_t>(w >> 8);
        pos_ += 2;
    }
    std::uint8_t *out_;
    std::uint32_t room_;
    std::uint32_t pos_ = 0;
    std::uint64_t acc_ = 0;
    int fill_ = 0;
    bool overflow_ = false;
};

// A coded tree range: its pretree and symbols.
struct TreePlan {
    std::uint8_t pretree[kPretreeSymbols];
    int count;
    std::uint32_t bits;
};

}  // namespace

// --- pieces shared with the tests ---------------------------------------------

void lzx::buildCodeLengths(const std::uint32_t *freq, int n, int maxLength, std::uint8_t *lengths)
{
    std::fill(lengths, lengths + n, std::uint8_t{0});
    int sym[kMaxMainSymbols];
    int m = 0;
    for (int i = 0; i < n; ++i)
        if (freq[i])
            sym[m++] = i;
    if (m < 2) {
        const int a = m ? sym[0] : 0;
        lengths[a] = 1;
        lengths[a == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(sym, sym + m, [&](int a, int b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });

    // Huffman's merge with two queues: the sorted leaves, and the inner nodes
    // in the order they are made (their weights never fall).
    std::uint64_t weight[2 * kMaxMainSymbols];
    int parent[2 * kMaxMainSymbols];
    for (int k = 0; k < m; ++k)
        weight[k] = freq[sym[k]];
    int leaf = 0, inner = m;
    auto pick = [&](int made) {
        if (leaf < m && (inner >= made || weight[leaf] <= weight[inner]))
            return leaf++;
        return inner++;
    };
    for (int made = m; made < 2 * m - 1; ++made) {
        const int a = pick(made);
        const int b = pick(made);
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
    }
    int depth[2 * kMaxMainSymbols];
    depth[2 * m - 2] = 0;
    for (int k = 2 * m - 3; k >= 0; --k)
        depth[k] = depth[parent[k]] + 1;

    // Too long: cut to the limit, then pay the excess of the Kraft sum by
    // lengthening the rarest of the deepest codes below the limit, and fill
    // any room left by shortening the commonest of the deepest codes.
    bool tooLong = false;
    for (int k = 0; k < m; ++k)
        tooLong |= depth[k] > maxLength;
    if (tooLong) {
        const std::uint64_t full = std::uint64_t{1} << maxLength;
        std::uint64_t kraft = 0;
        for (int k = 0; k < m; ++k) {
            depth[k] = std::min(depth[k], maxLength);
            kraft += full >> depth[k];
        }
        while (kraft > full) {
            int pickK = -1;
            for (int k = 0; k < m; ++k)
                if (depth[k] < maxLength && (pickK < 0 || depth[k] > depth[pickK]))
                    pickK = k;
            if (pickK < 0)
                break;  // more symbols than codes of that length: cannot happen for our trees
            ++depth[pickK];
            kraft -= full >> depth[pickK];
        }
        while (kraft < full) {
            int pickK = -1;
            for (int k = m - 1; k >= 0; --k)
                if (pickK < 0 || depth[k] > depth[pickK])
                    pickK = k;
            kraft += full >> depth[pickK];
            --depth[pickK];
        }
    }
    for (int k = 0; k < m; ++k)
        lengths[sym[k]] = static_cast<std::uint8_t>(depth[k]);
}

int lzx::planTreeOps(const std::uint8_t *prev, const std::uint8_t *lengths, int n, const std::uint8_t *symbolBits,
                     TreeOp *ops)
{
    // Cheapest cover of the range, from its end backwards.
    std::uint32_t best[kMaxMainSymbols + 1];
    std::uint8_t runOf[kMaxMainSymbols];
    std::uint8_t symOf[kMaxMainSymbols];
    int zeros = 0, same = 0;
    best[n] = 0;
    for (int j = n - 1; j >= 0; --j) {
        zeros = lengths[j] == 0 ? zeros + 1 : 0;
        same = (j + 1 < n && lengths[j + 1] == lengths[j] && prev[j + 1] == prev[j]) ? same + 1 : 1;
        const std::uint32_t d = delta(prev[j], lengths[j]);
        std::uint32_t c = symbolBits[d] + best[j + 1];
        int sym = static_cast<int>(d), run = 1;
        // Of the zero runs, only the longest of each kind, and those that
        // leave a remainder a run can still take, are worth pricing.
        auto tryRun = [&](int symbol, int k, std::uint32_t extraBits) {
            if (const std::uint32_t cc = symbolBits[symbol] + extraBits + best[j + k]; cc < c) {
                c = cc;
                sym = symbol;
                run = k;
            }
        };
        if (zeros >= 4) {
            const int longest17 = std::min(19, zeros);
            tryRun(17, longest17, 4);
            if (zeros - 4 >= 4 && zeros - 4 < longest17)
                tryRun(17, zeros - 4, 4);
        }
        if (zeros >= 20) {
            const int longest18 = std::min(51, zeros);
            tryRun(18, longest18, 5);
            for (const int rest : {4, 20})
                if (zeros - rest >= 20 && zeros - rest < longest18)
                    tryRun(18, zeros - rest, 5);
        }
        for (int k = 4; k <= std::min(5, same); ++k)
            if (const std::uint32_t cc = symbolBits[19] + 1u + symbolBits[d] + best[j + k]; cc < c) {
                c = cc;
                sym = 19;
                run = k;
            }
        best[j] = c;
        symOf[j] = static_cast<std::uint8_t>(sym);
        runOf[j] = static_cast<std::uint8_t>(run);
    }
    int count = 0;
    for (int j = 0; j < n; j += runOf[j]) {
        TreeOp op{symOf[j], 0, 0};
        if (op.symbol == 17)
            op.extra = static_cast<std::uint8_t>(runOf[j] - 4);
        else if (op.symbol == 18)
            op.extra = static_cast<std::uint8_t>(runOf[j] - 20);
        else if (op.symbol == 19) {
            op.extra = static_cast<std::uint8_t>(runOf[j] - 4);
            op.delta = static_cast<std::uint8_t>(delta(prev[j], lengths[j]));
        }
        ops[count++] = op;
    }
    return count;
}

// --- the encoder ----------------------------------------------------------------

// The match finder's side: the window, the trees, and where they stand.
struct LzxEncoder::Finder {
    int windowBits;
    std::uint32_t windowSize, mask, maxOff;
    std::uint32_t bufBase;  // position of the window buffer's first byte
    std::uint32_t bufSize;
    std::uint32_t end;      // position of the next byte to come
    // The last positions of the frame before, searched but not yet put into
    // the tree: the bytes after them only came with this frame.
    std::uint32_t pendingFrom, pendingTo;
    std::uint32_t head3[1u << kHash3Bits];
    std::uint32_t seen[1u << kSeenBits];  // recent 4-byte groups, by hash
    // The latest kRowWays positions of each hash of 4 bytes, newest at
    // rowHead and on round the row; a tag of their first kTagBytes bytes
    // beside each spares reading the window for most that cannot match.
    std::uint32_t rows[1u << kRowBits][kRowWays];
    std::uint8_t tags[1u << kRowBits][kRowWays];
    std::uint8_t rowHead[1u << kRowBits];
};

// What the finder hands the coder for one frame: the matches of each
// position, longest last.
struct LzxEncoder::Found {
    std::uint32_t start;          // position of the frame's first byte
    std::uint32_t n;
    const std::uint8_t *frame;    // its bytes in the window; the window reaches maxOff before it
    bool literals;                // nothing for matches to find
    std::uint32_t first[kFrameSize + 1];  // matches of position i: match[first[i] .. first[i + 1])
    Match match[kFrameSize * kMaxCandidates];
};

// The coder's side: the parse and the block.
struct LzxEncoder::State {
    std::uint32_t maxOff;
    int slots, mainSize;
    std::uint32_t r[3];
    bool first;     // the stream header is still to come
    bool haveTrees; // a block with trees has been sent
    std::uint8_t prevMain[kMaxMainSymbols];
    std::uint8_t prevLength[kLengthSymbols];

    // The frame.
    Node node[kFrameSize + 1];
    Item items[kFrameSize];
    std::uint32_t itemCount;

    // Prices of the parse.
    std::uint16_t litCost[kNumChars];
    std::uint16_t headCost[kMaxPositionSlots][8];  // main symbol plus footer bits
    std::uint16_t lenCost[kLengthSymbols];

    // The block being built.
    std::uint32_t freqMain[kMaxMainSymbols], freqLength[kLengthSymbols], freqAligned[kAlignedSymbols];
    std::uint8_t mainLen[kMaxMainSymbols], lengthLen[kLengthSymbols], alignedLen[kAlignedSymbols];
    TreeOp ops[3][kMaxMainSymbols];
    TreePlan plan[3];
};

LzxEncoder::~LzxEncoder() { release(); }

void LzxEncoder::release()
{
    auto drop = [this](auto *&p) {
        if (p) {
            using T = std::remove_reference_t<decltype(*p)>;
            p->~T();
            mem_.free(p);
        }
        p = nullptr;
    };
    drop(s_);
    drop(f_);
    for (Found *&b : found_)
        drop(b);
    if (window_)
        mem_.free(window_);
    window_ = nullptr;
    allocatedBits_ = 0;
}

namespace {

// The window buffer holds the window and, beyond it, room for frames to come:
// the oldest part is dropped only every so many frames (at least 64), while
// no frame waits to be coded.
std::uint32_t bufferSize(int windowBits)
{
    const std::uint32_t window = 1u << windowBits;
    return window + std::max(window, std::uint32_t{64} * kFrameSize);
}

template <typename T>
bool make(ZAlloc &mem, T *&p)
{
    if (p)
        return true;
    void *raw = mem.alloc(sizeof(T));
    if (!raw)
        return false;
    p = new (raw) T;
    return true;
}

}  // namespace

bool LzxEncoder::reset(int windowBits)
{
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits || !mem_.alloc)
        return false;
    bool ok = make(mem_, s_) && make(mem_, f_);
    for (Found *&b : found_)
        ok = ok && make(mem_, b);
    if (!ok) {
        release();
        return false;
    }
    // A larger window than any before: the buffers grow, and stay for later folders.
    if (allocatedBits_ < windowBits) {
        if (window_)
            mem_.free(window_);
        window_ = static_cast<std::uint8_t *>(mem_.alloc(bufferSize(windowBits)));
        if (!window_) {
            release();
            return false;
        }
        allocatedBits_ = windowBits;
    }
    Finder &f = *f_;
    f.windowBits = windowBits;
    f.windowSize = 1u << windowBits;
    f.mask = f.windowSize - 1;
    f.maxOff = reachLimit(windowBits);
    f.bufBase = kOrigin;
    f.bufSize = bufferSize(windowBits);
    f.end = kOrigin;
    f.pendingFrom = f.pendingTo = kOrigin;
    std::memset(f.head3, 0, sizeof f.head3);
    std::memset(f.seen, 0, sizeof f.seen);
    std::memset(f.rows, 0, sizeof f.rows);
    std::memset(f.tags, 0, sizeof f.tags);
    std::memset(f.rowHead, 0, sizeof f.rowHead);
    State &s = *s_;
    s.maxOff = f.maxOff;
    s.slots = positionSlots(windowBits);
    s.mainSize = mainTreeSize(windowBits);
    s.r[0] = s.r[1] = s.r[2] = 1;
    s.first = true;
    s.haveTrees = false;
    std::memset(s.prevMain, 0, sizeof s.prevMain);
    std::memset(s.prevLength, 0, sizeof s.prevLength);
    framesFound_ = 0;
    framesCoded_ = 0;
    return true;
}

namespace {

using Finder = LzxEncoder::Finder;
using Found = LzxEncoder::Found;
using State = LzxEncoder::State;

std::uint32_t rowHash(const std::uint8_t *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - kRowBits);
}

// A position's row and tag, from its first kTagBytes bytes.
struct RowKey {
    std::uint32_t row;
    std::uint8_t tag;
};

RowKey rowKey(const std::uint8_t *p)
{
    std::uint64_t v = 0;
    std::memcpy(&v, p, kTagBytes);
    return RowKey{rowHash(p), static_cast<std::uint8_t>((v * 0x9E3779B97F4A7C15ull) >> 56)};
}

// Bit i set where tags[i] is tag.
std::uint32_t tagMatches(const std::uint8_t *tags, std::uint8_t tag)
{
    static_assert(kRowWays == 16);
#if QV_LZX_SSE2
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i *>(tags));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(row, _mm_set1_epi8(static_cast<char>(tag)))));
#else
    std::uint32_t m = 0;
    for (int i = 0; i < kRowWays; ++i)
        m |= std::uint32_t{tags[i] == tag} << i;
    return m;
#endif
}

// Position cur becomes its row's newest.
void insert(Finder &f, std::uint32_t cur, RowKey key)
{
    const std::uint32_t at = (f.rowHead[key.row] - 1u) & (kRowWays - 1);
    f.rowHead[key.row] = static_cast<std::uint8_t>(at);
    f.rows[key.row][at] = cur;
    f.tags[key.row][at] = key.tag;
}

// The matches of position cur, of rising length (at most kMaxCandidates, the
// longest kept), with avail bytes of the frame after it: the latest position
// of its 3-byte hash, then its row from the newest on, as far as the largest
// offset. A match of kNiceLength ends the search.
int findAt(Finder &f, const std::uint8_t *win, std::uint32_t cur, std::uint32_t avail, RowKey key, Match *out)
{
    if (avail < 3)
        return 0;
    const std::uint8_t *p = win + (cur - f.bufBase);
    const std::uint32_t limit = std::min<std::uint32_t>(avail, kMaxMatch);
    const std::uint32_t nice = std::min(limit, kNiceLength);
    std::uint32_t best = 1;
    int count = 0;
    const std::uint32_t h3 = hash3(p);
    const std::uint32_t c3 = f.head3[h3];
    f.head3[h3] = cur;
    if (cur - c3 <= f.maxOff) {
        const std::uint32_t len = extend(p, win + (c3 - f.bufBase), 0, nice);
        if (len >= 3) {
            out[count++] = Match{len, cur - c3};
            best = len;
        }
    }
    if (avail >= kTagBytes && best < nice) {
        const std::uint32_t head = f.rowHead[key.row];
        std::uint32_t m = tagMatches(f.tags[key.row], key.tag);
        m = ((m >> head) | (m << (kRowWays - head))) & 0xFFFFu;  // bit k: the k-th newest
        for (; m; m &= m - 1) {
            const std::uint32_t cand = f.rows[key.row][(head + std::countr_zero(m)) & (kRowWays - 1)];
            if (cur - cand > f.maxOff)
                break;  // the rest of the row is older still
            const std::uint8_t *q = win + (cand - f.bufBase);
            if (best >= 4) {
                std::uint32_t x, y;
                std::memcpy(&x, p + best - 3, 4);
                std::memcpy(&y, q + best - 3, 4);
                if (x != y)
                    continue;  // cannot be longer than the best so far
            }
            const std::uint32_t len = extend(p, q, 0, nice);
            if (len > best) {
                best = len;
                if (count == kMaxCandidates)
                    --count;
                out[count++] = Match{len, cur - cand};
                if (len >= nice)
                    break;
            }
        }
    }
    if (count && best == nice && nice < limit) {
        Match &m = out[count - 1];
        m.len = extend(p, p - m.dist, nice, limit);
    }
    return count;
}

// How many of the frame's 4-byte groups were seen before, in this frame or
// earlier ones.
std::uint32_t repeatedGroups(Finder &f, const std::uint8_t *frame, std::uint32_t n)
{
    std::uint32_t hits = 0;
    for (std::uint32_t i = 0; i + 4 <= n; ++i) {
        std::uint32_t v;
        std::memcpy(&v, frame + i, 4);
        std::uint32_t &slot = f.seen[(v * 2654435761u) >> (32 - kSeenBits)];
        hits += slot == v;
        slot = v;
    }
    return hits;
}

// The frame's matches at every position, every position going into its row
// after its search. A match of kNiceLength or more is taken whole: the
// positions it covers are not searched, which lost no size at all. The last
// positions of a frame go into their rows with the next frame, which brings
// the bytes their tags need.
void findFrame(Finder &f, const std::uint8_t *win, Found &out)
{
    const std::uint32_t start = out.start, n = out.n;
    for (std::uint32_t pos = f.pendingFrom; pos < f.pendingTo; ++pos)
        if (f.end - pos >= kTagBytes)
            insert(f, pos, rowKey(win + (pos - f.bufBase)));
    f.pendingFrom = start + (n > kTagBytes ? n - kTagBytes + 1 : 0);
    f.pendingTo = start + n;

    const std::uint8_t *frame = win + (start - f.bufBase);
    // Random or compressed data: nothing for matches to find.
    out.literals = repeatedGroups(f, frame, n) * kRareRepeats < n;
    if (out.literals) {
        std::fill(out.first, out.first + n + 1, 0u);
        return;
    }
    std::uint32_t total = 0;
    std::uint32_t skipTo = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        out.first[i] = total;
        const RowKey key = i + kTagBytes <= n ? rowKey(frame + i) : RowKey{0, 0};
        if (i >= skipTo) {
            if (i + kAhead + kTagBytes <= n) {
                const std::uint32_t ahead = rowHash(frame + i + kAhead);
                QV_LZX_PREFETCH(f.rows[ahead]);
                QV_LZX_PREFETCH(f.tags[ahead]);
                QV_LZX_PREFETCH(&f.rowHead[ahead]);
            }
            const int count = findAt(f, win, start + i, n - i, key, out.match + total);
            total += static_cast<std::uint32_t>(count);
            if (count && out.match[total - 1].len >= kNiceLength)
                skipTo = i + out.match[total - 1].len;
        }
        if (i + kTagBytes <= n)
            insert(f, start + i, key);
    }
    out.first[n] = total;
}

// Prices in bits from a block's code lengths.
void setPrices(State &s, const std::uint8_t *mainLen, const std::uint8_t *lengthLen)
{
    auto price = [](std::uint8_t len) { return len ? std::uint16_t{len} : kUnseenCost; };
    for (int b = 0; b < kNumChars; ++b)
        s.litCost[b] = price(mainLen[b]);
    for (int slot = 0; slot < s.slots; ++slot)
        for (int h = 0; h < 8; ++h)
            s.headCost[slot][h] =
                static_cast<std::uint16_t>(price(mainLen[kNumChars + slot * 8 + h]) + kFooterBits[slot]);
    for (int k = 0; k < kLengthSymbols; ++k)
        s.lenCost[k] = price(lengthLen[k]);
}

// Before any statistics: literals at 8 bits, match symbols at 7 plus their
// footer, long lengths at 6 more.
void setFlatPrices(State &s)
{
    for (auto &c : s.litCost)
        c = 8;
    for (int slot = 0; slot < s.slots; ++slot)
        for (int h = 0; h < 8; ++h)
            s.headCost[slot][h] = static_cast<std::uint16_t>(7 + kFooterBits[slot]);
    for (auto &c : s.lenCost)
        c = 6;
}

void applyStep(std::uint32_t *r, std::uint32_t len, std::uint32_t fmt)
{
    if (len == 0 || fmt == 0)
        return;
    if (fmt < 3) {
        std::swap(r[0], r[fmt]);
        return;
    }
    r[2] = r[1];
    r[1] = r[0];
    r[0] = fmt - 2;
}

void literalsOnly(State &s, std::uint32_t n)
{
    std::memcpy(s.node[0].r, s.r, sizeof s.r);
    for (std::uint32_t i = 0; i < n; ++i)
        s.items[i] = Item{0, 0};
    s.itemCount = n;
}

// The cheapest path through the frame over the matches the finder found:
// each position is priced from the cheapest way to reach it. Of each match
// only its full length and lengths up to 8 are priced, since those have
// symbols of their own (measured: pricing every length gave nothing). Past a
// match of kNiceLength or more the parse goes on at its end.
void parse(State &s, const Found &found)
{
    const std::uint32_t start = found.start, n = found.n;
    const std::uint8_t *frame = found.frame;
    Node *node = s.node;
    node[0].cost = 0;
    node[0].len = 0;
    std::memcpy(node[0].r, s.r, sizeof s.r);
    for (std::uint32_t j = 1; j <= n; ++j)
        node[j].cost = kInfinite;
    std::uint32_t skipTo = 0;

    for (std::uint32_t i = 0; i < n; ++i) {
        Node &a = node[i];
        if (i < skipTo || a.cost == kInfinite)
            continue;
        if (i > 0) {
            const Node &from = node[i - (a.len ? a.len : 1)];
            std::memcpy(a.r, from.r, sizeof a.r);
            applyStep(a.r, a.len, a.fmt);
        }
        const std::uint8_t *p = frame + i;
        const std::uint32_t base = a.cost;
        auto relax = [&](std::uint32_t len, std::uint32_t cost, std::uint32_t fmt) {
            Node &b = node[i + len];
            if (cost < b.cost) {
                b.cost = cost;
                b.len = len;
                b.fmt = fmt;
            }
        };
        auto matchCost = [&](const std::uint16_t *head, std::uint32_t len) {
            return base + (len <= 8 ? head[len - 2] : head[7] + s.lenCost[len - 9]);
        };
        if (const std::uint32_t c = base + s.litCost[*p]; c < node[i + 1].cost) {
            node[i + 1].cost = c;
            node[i + 1].len = 0;
        }
        const std::uint32_t avail = std::min<std::uint32_t>(n - i, kMaxMatch);
        if (avail < kMinMatch)
            continue;
        std::uint32_t longest = 0;

        // Repeated offsets, where they reach back into the folder.
        const std::uint32_t reach = std::min(start + i - kOrigin, s.maxOff);
        for (std::uint32_t k = 0; k < 3; ++k) {
            const std::uint32_t d = a.r[k];
            if (d > reach || p[0] != p[-static_cast<std::ptrdiff_t>(d)] || (k > 0 && d == a.r[0]) ||
                (k == 2 && d == a.r[1]))
                continue;
            const std::uint32_t l = extend(p, p - d, 1, avail);
            if (l < kMinMatch)
                continue;
            longest = std::max(longest, l);
            for (std::uint32_t len = 2; len <= std::min<std::uint32_t>(l, 8); ++len)
                relax(len, matchCost(s.headCost[k], len), k);
            if (l > 8)
                relax(l, matchCost(s.headCost[k], l), k);
        }

        // Matches from the finder, each priced from where the shorter one ends.
        std::uint32_t shorter = 1;
        for (std::uint32_t c = found.first[i]; c < found.first[i + 1]; ++c) {
            const Match &m = found.match[c];
            const std::uint32_t fmt = m.dist + 2;
            const std::uint16_t *head = s.headCost[slotOf(fmt)];
            for (std::uint32_t len = shorter + 1; len <= std::min<std::uint32_t>(m.len, 8); ++len)
                relax(len, matchCost(head, len), fmt);
            if (m.len > 8)
                relax(m.len, matchCost(head, m.len), fmt);
            shorter = m.len;
        }
        longest = std::max(longest, shorter);
        if (longest >= kNiceLength)
            skipTo = i + longest;  // that node was priced above with the match's full length
    }

    // Walk back from the end.
    std::uint32_t count = 0;
    for (std::uint32_t j = n; j > 0;) {
        const Node &b = node[j];
        s.items[count++] = Item{b.len, b.fmt};
        j -= b.len ? b.len : 1;
    }
    std::reverse(s.items, s.items + count);
    s.itemCount = count;
}

// Replays the parse against the data: it covers the frame exactly, every
// match copies what is really there, from inside the window and the folder.
// A slip of the parse must cost compression, never the data.
bool parseHolds(const State &s, const std::uint8_t *frame, std::uint32_t start, std::uint32_t n)
{
    std::uint32_t r[3];
    std::memcpy(r, s.node[0].r, sizeof r);
    std::uint32_t pos = 0;
    for (std::uint32_t k = 0; k < s.itemCount; ++k) {
        const Item &it = s.items[k];
        if (it.len == 0) {
            ++pos;
            continue;
        }
        applyStep(r, it.len, it.fmt);
        const std::uint32_t d = r[0];
        if (it.len < kMinMatch || it.len > kMaxMatch || it.len > n - pos || d == 0 || d > s.maxOff ||
            d > start + pos - kOrigin)
            return false;
        // The window holds the original bytes, so an overlapping copy compares the same way.
        if (std::memcmp(frame + pos, frame + pos - static_cast<std::ptrdiff_t>(d), it.len) != 0)
            return false;
        pos += it.len;
    }
    return pos == n;
}

void countSymbols(State &s, const std::uint8_t *frame)
{
    std::memset(s.freqMain, 0, sizeof s.freqMain);
    std::memset(s.freqLength, 0, sizeof s.freqLength);
    std::memset(s.freqAligned, 0, sizeof s.freqAligned);
    std::uint32_t pos = 0;
    for (std::uint32_t k = 0; k < s.itemCount; ++k) {
        const Item &it = s.items[k];
        if (it.len == 0) {
            ++s.freqMain[frame[pos++]];
            continue;
        }
        const int slot = slotOf(it.fmt);
        const std::uint32_t h = std::min<std::uint32_t>(it.len - 2, 7);
        ++s.freqMain[kNumChars + slot * 8 + h];
        if (h == 7)
            ++s.freqLength[it.len - 9];
        if (kFooterBits[slot] >= 3)
            ++s.freqAligned[(it.fmt - kPositionBase[slot]) & 7];
        pos += it.len;
    }
}

// Plans one coded range twice: the pretree fitted to the first plan prices
// the second, whose own pretree is the one sent.
std::uint32_t planRange(const std::uint8_t *prev, const std::uint8_t *lengths, int n, TreeOp *ops, TreePlan &plan)
{
    std::uint8_t bits[kPretreeSymbols];
    std::fill(bits, bits + kPretreeSymbols, std::uint8_t{kPretreeSymbolBits});
    for (int round = 0; round < 2; ++round) {
        plan.count = planTreeOps(prev, lengths, n, bits, ops);
        std::uint32_t freq[kPretreeSymbols] = {};
        for (int k = 0; k < plan.count; ++k) {
            ++freq[ops[k].symbol];
            if (ops[k].symbol == 19)
                ++freq[ops[k].delta];
        }
        buildCodeLengths(freq, kPretreeSymbols, kPretreeLimit, plan.pretree);
        for (int k = 0; k < kPretreeSymbols; ++k)
            bits[k] = plan.pretree[k] ? plan.pretree[k] : std::uint8_t{kPretreeLimit};
    }
    std::uint32_t total = kPretreeSymbols * kPretreeLengthBits;
    for (int k = 0; k < plan.count; ++k) {
        const TreeOp &op = ops[k];
        total += plan.pretree[op.symbol];
        if (op.symbol == 17)
            total += 4;
        else if (op.symbol == 18)
            total += 5;
        else if (op.symbol == 19)
            total += 1 + plan.pretree[op.delta];
    }
    plan.bits = total;
    return total;
}

void writeRange(BitWriter &bw, const TreeOp *ops, const TreePlan &plan)
{
    std::uint16_t codes[kPretreeSymbols];
    canonicalCodes(plan.pretree, kPretreeSymbols, codes);
    for (int k = 0; k < kPretreeSymbols; ++k)
        bw.put(plan.pretree[k], kPretreeLengthBits);
    for (int k = 0; k < plan.count; ++k) {
        const TreeOp &op = ops[k];
        bw.put(codes[op.symbol], plan.pretree[op.symbol]);
        if (op.symbol == 17)
            bw.put(op.extra, 4);
        else if (op.symbol == 18)
            bw.put(op.extra, 5);
        else if (op.symbol == 19) {
            bw.put(op.extra, 1);
            bw.put(codes[op.delta], plan.pretree[op.delta]);
        }
    }
}

}  // namespace

bool LzxEncoder::readyToFind(std::uint32_t n) const
{
    const std::uint32_t found = framesFound_, coded = framesCoded_;
    if (found - coded >= kFoundBuffers)
        return false;
    // Dropping the oldest part of the buffer moves bytes a frame still to be
    // coded reads.
    const Finder &f = *f_;
    return f.end - f.bufBase + n <= f.bufSize || found == coded;
}

void LzxEncoder::findMatches(const std::uint8_t *in, std::uint32_t n)
{
    Finder &f = *f_;
    const std::uint32_t used = f.end - f.bufBase;
    if (used + n > f.bufSize) {
        const std::uint32_t keep = f.windowSize;
        std::memmove(window_, window_ + (used - keep), keep);
        f.bufBase = f.end - keep;
    }
    std::memcpy(window_ + (f.end - f.bufBase), in, n);
    Found &out = *found_[framesFound_ % kFoundBuffers];
    out.start = f.end;
    out.n = n;
    out.frame = window_ + (f.end - f.bufBase);
    f.end += n;
    findFrame(f, window_, out);
    framesFound_ = framesFound_ + 1;
}

std::uint32_t LzxEncoder::encodeFrame(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out)
{
    findMatches(in, n);
    return codeFrame(out);
}

std::uint32_t LzxEncoder::codeFrame(std::uint8_t *out)
{
    State &s = *s_;
    const Found &found = *found_[framesCoded_ % kFoundBuffers];
    const std::uint32_t start = found.start, n = found.n;
    const std::uint8_t *frame = found.frame;

    if (!s.haveTrees)
        setFlatPrices(s);
    else
        setPrices(s, s.prevMain, s.prevLength);
    if (found.literals)
        literalsOnly(s, n);
    else
        parse(s, found);
    countSymbols(s, frame);
    buildCodeLengths(s.freqMain, s.mainSize, kMainLimit, s.mainLen);
    buildCodeLengths(s.freqLength, kLengthSymbols, kLengthLimit, s.lengthLen);
    buildCodeLengths(s.freqAligned, kAlignedSymbols, kAlignedLimit, s.alignedLen);

    // Exact sizes of the three kinds of block.
    std::uint64_t symbolBits = 0, footerBits = 0, alignedBits = 0;
    for (int k = 0; k < s.mainSize; ++k)
        symbolBits += std::uint64_t{s.freqMain[k]} * s.mainLen[k];
    for (int k = 0; k < kLengthSymbols; ++k)
        symbolBits += std::uint64_t{s.freqLength[k]} * s.lengthLen[k];
    for (int slot = 0; slot < s.slots; ++slot) {
        std::uint64_t uses = 0;
        for (int h = 0; h < 8; ++h)
            uses += s.freqMain[kNumChars + slot * 8 + h];
        footerBits += uses * kFooterBits[slot];
        alignedBits += uses * (kFooterBits[slot] >= 3 ? kFooterBits[slot] - 3 : kFooterBits[slot]);
    }
    for (int k = 0; k < kAlignedSymbols; ++k)
        alignedBits += std::uint64_t{s.freqAligned[k]} * s.alignedLen[k];
    const std::uint64_t treeBits = planRange(s.prevMain, s.mainLen, kNumChars, s.ops[0], s.plan[0]) +
                                   planRange(s.prevMain + kNumChars, s.mainLen + kNumChars, s.mainSize - kNumChars,
                                             s.ops[1], s.plan[1]) +
                                   planRange(s.prevLength, s.lengthLen, kLengthSymbols, s.ops[2], s.plan[2]);
    const std::uint64_t lead = (s.first ? 1 : 0) + kBlockHeaderBits + treeBits + symbolBits;
    auto bytesOf = [](std::uint64_t bits) { return ((bits + 15) / 16) * 2; };
    const std::uint64_t verbatimSize = bytesOf(lead + footerBits);
    const std::uint64_t alignedSize = bytesOf(lead + kAlignedTreeBits + alignedBits);
    const std::uint64_t storedSize = 4 + 12 + n + (n & 1);

    const bool aligned = alignedSize < verbatimSize;
    if (std::min(verbatimSize, alignedSize) < storedSize && parseHolds(s, frame, start, n)) {
        BitWriter bw(out, kMaxFrameCompressed);
        if (s.first)
            bw.put(0, 1);  // no E8 translation
        bw.put(aligned ? kBlockAligned : kBlockVerbatim, 3);
        bw.put(n, 24);
        if (aligned)
            for (int k = 0; k < kAlignedSymbols; ++k)
                bw.put(s.alignedLen[k], kAlignedLengthBits);
        writeRange(bw, s.ops[0], s.plan[0]);
        writeRange(bw, s.ops[1], s.plan[1]);
        writeRange(bw, s.ops[2], s.plan[2]);

        std::uint16_t mainCode[kMaxMainSymbols], lengthCode[kLengthSymbols], alignedCode[kAlignedSymbols];
        canonicalCodes(s.mainLen, s.mainSize, mainCode);
        canonicalCodes(s.lengthLen, kLengthSymbols, lengthCode);
        canonicalCodes(s.alignedLen, kAlignedSymbols, alignedCode);
        std::uint32_t pos = 0;
        for (std::uint32_t k = 0; k < s.itemCount; ++k) {
            const Item &it = s.items[k];
            if (it.len == 0) {
                const std::uint8_t b = frame[pos++];
                bw.put(mainCode[b], s.mainLen[b]);
                continue;
            }
            const int slot = slotOf(it.fmt);
            const std::uint32_t h = std::min<std::uint32_t>(it.len - 2, 7);
            const std::uint32_t sym = kNumChars + static_cast<std::uint32_t>(slot) * 8 + h;
            bw.put(mainCode[sym], s.mainLen[sym]);
            if (h == 7)
                bw.put(lengthCode[it.len - 9], s.lengthLen[it.len - 9]);
            const int footer = kFooterBits[slot];
            const std::uint32_t v = it.fmt - kPositionBase[slot];
            if (aligned && footer >= 3) {
                bw.put(v >> 3, footer - 3);
                bw.put(alignedCode[v & 7], s.alignedLen[v & 7]);
            } else {
                bw.put(v, footer);
            }
            applyStep(s.r, it.len, it.fmt);
            pos += it.len;
        }
        bw.align();
        if (!bw.overflow()) {
            std::memcpy(s.prevMain, s.mainLen, sizeof s.prevMain);
            std::memcpy(s.prevLength, s.lengthLen, sizeof s.prevLength);
            s.first = false;
            s.haveTrees = true;
            framesCoded_ = framesCoded_ + 1;
            return bw.size();
        }
    }

    // Uncompressed: the header ends 27 or 28 bits in, never on a word
    // boundary, so every reader pads it the same way. The repeated offsets
    // stay as they were before this frame.
    BitWriter bw(out, kMaxFrameCompressed);
    if (s.first)
        bw.put(0, 1);
    bw.put(kBlockUncompressed, 3);
    bw.put(n, 24);
    bw.align();
    std::uint8_t r[12];
    for (int k = 0; k < 3; ++k)
        for (int b = 0; b < 4; ++b)
            r[4 * k + b] = static_cast<std::uint8_t>(s.node[0].r[k] >> (8 * b));
    std::memcpy(s.r, s.node[0].r, sizeof s.r);
    bw.bytes(r, sizeof r);
    bw.bytes(frame, n);
    if (n & 1) {
        const std::uint8_t pad = 0;
        bw.bytes(&pad, 1);
    }
    s.first = false;
    framesCoded_ = framesCoded_ + 1;
    return bw.size();
}

}  // namespace cab::detail
