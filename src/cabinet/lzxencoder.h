// LZX compression of one folder, frame by frame.
//
// The folder's bytes arrive in frames of 32 KiB (the last one may be
// shorter); each frame comes back as the compressed bytes of one data block,
// padded to 16 bits, so the writer can cut blocks and cabinets wherever it
// likes. Inside, one LZX block covers exactly one frame: trees fitted to that
// frame, coded against the previous frame's trees, and no match ever crosses
// a frame. The match finder keeps the whole window (up to 2 MiB) of the
// folder so far. All memory comes from the library user's allocator.
#pragma once

#include <atomic>
#include <cstdint>

#include "cabinet/lzxformat.h"
#include "cabinet/mszip.h"

namespace cab::detail {

namespace lzx {

constexpr int kMaxMainSymbols = kNumChars + 8 * kMaxPositionSlots;

// Code lengths of a prefix code fitted to freq[0..n), none longer than
// maxLength. The code is always complete: when fewer than two symbols are
// used, unused ones get a length too, since readers expect a full tree.
void buildCodeLengths(const std::uint32_t *freq, int n, int maxLength, std::uint8_t *lengths);

// One pretree symbol of a coded tree: 0-16 a delta for one element; 17 and 18
// a run of zeros (run - 4 in 4 bits, run - 20 in 5 bits); 19 a run of 4 or 5
// equal lengths (run - 4 in 1 bit, then the delta symbol).
struct TreeOp {
    std::uint8_t symbol;
    std::uint8_t extra;  // the run's bits for 17, 18 and 19
    std::uint8_t delta;  // after a 19
};

// The cheapest pretree symbols, by symbolBits (bits per pretree symbol), that
// turn prev[0..n) into lengths[0..n); no run leaves the range. Returns the
// count written to ops (room for n).
int planTreeOps(const std::uint8_t *prev, const std::uint8_t *lengths, int n, const std::uint8_t *symbolBits,
                TreeOp *ops);

}  // namespace lzx

class LzxEncoder {
public:
    LzxEncoder() = default;
    LzxEncoder(const LzxEncoder &) = delete;
    LzxEncoder &operator=(const LzxEncoder &) = delete;
    ~LzxEncoder();

    void init(ZAlloc mem) { mem_ = mem; }
    // Starts a folder with a window of 2^windowBits bytes (15..21). False when
    // the memory for it cannot be had.
    bool reset(int windowBits);
    // Compresses the folder's next n (1..32768) bytes into out (room for
    // lzx::kMaxFrameCompressed bytes) and returns the block's size. Only the
    // folder's last frame may be shorter than 32768 bytes. The same as
    // findMatches followed by codeFrame.
    std::uint32_t encodeFrame(const std::uint8_t *in, std::uint32_t n, std::uint8_t *out);

    // The two halves of encodeFrame, for a pipeline on two threads: the
    // matches of the next frame are found while the frame before is coded.
    // Frames are found in order and coded in order, each half on one thread
    // at a time; the output is the same as encodeFrame's. A frame may be
    // found once readyToFind says so for its size (the pipeline holds
    // kFoundBuffers frames found and not yet coded).
    static constexpr int kFoundBuffers = 2;
    bool readyToFind(std::uint32_t n) const;
    void findMatches(const std::uint8_t *in, std::uint32_t n);
    // Codes the oldest frame whose matches were found.
    std::uint32_t codeFrame(std::uint8_t *out);

    struct Finder;
    struct Found;
    struct State;

private:
    void release();

    ZAlloc mem_;
    Finder *f_ = nullptr;
    Found *found_[kFoundBuffers] = {};
    State *s_ = nullptr;
    std::uint8_t *window_ = nullptr;  // sized for allocatedBits_
    int allocatedBits_ = 0;
    std::atomic<std::uint32_t> framesFound_{0};
    std::atomic<std::uint32_t> framesCoded_{0};
};

}  // namespace cab::detail
