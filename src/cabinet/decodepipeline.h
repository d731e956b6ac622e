// The reader's decoding of one folder's data blocks, a few blocks ahead of
// the files being written.
//
// The caller's thread reads whole blocks into free slots and submits them; a
// worker checks each block's checksum and hands it to the folder's codec
// (copied as it is, inflated for MSZIP, the next frame of the LZX stream),
// in order; the caller takes the decoded blocks back in the same order. So
// every callback of the library user stays on the thread that called FDICopy,
// and the worker never allocates. A folder gets the worker only once it has
// needed kInlineBlocks blocks: small cabinets are done sooner without a
// thread, and where no thread can be had, blocks decode inline.
//
// Block k lives in slot k % kSlots: read up to submitted, decoded up to
// decoded, handed out up to taken; a slot is free again once the block after
// it is handed out, since the caller still writes from the block it took.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cabinet/cabformat.h"
#include "cabinet/lzxdecoder.h"
#include "cabinet/mszip.h"

namespace cab::detail {

class DecodePipeline {
public:
    static constexpr std::uint32_t kMaxBlockData =
        kMaxMszipBlock > lzx::kMaxFrameCompressed ? kMaxMszipBlock : lzx::kMaxFrameCompressed;
    static constexpr std::uint32_t kSlots = 8;         // blocks in flight; also bounds the memory used
    static constexpr std::uint32_t kInlineBlocks = 4;  // blocks of a folder decoded before the worker starts

    // One data block on its way.
    struct Slot {
        std::uint32_t inLen = 0;
        std::uint32_t size = 0;  // uncompressed bytes
        bool check = false;      // the checksum is still to verify
        bool last = false;       // LZX: no frame follows in this folder
        std::uint32_t csum = 0;
        std::uint32_t reserve = 0;
        std::uint8_t head[4 + kMaxSmallReserve];  // cbData, cbUncomp, reserve: what the checksum covers
        std::uint8_t in[kMaxBlockData];

    private:
        friend class DecodePipeline;
        int result = 0;  // FDIERROR_ code of the decoding
        const std::uint8_t *data = nullptr;
        std::uint8_t out[kBlockSize];
    };

    DecodePipeline() = default;
    DecodePipeline(const DecodePipeline &) = delete;
    DecodePipeline &operator=(const DecodePipeline &) = delete;
    ~DecodePipeline() { stop(); }

    // False when the MSZIP decoder cannot be set up (out of memory).
    bool init(ZAlloc mem);
    // The largest cbData a block of this method may have.
    static std::uint32_t maxBlockData(TCOMP type);

    // Starts a folder of a supported method: blocks still in flight are
    // forgotten and the codec reset. FDIERROR_ code.
    int startFolder(TCOMP type, int lzxWindowBits);
    // A slot is free to read a block into, and the one that is.
    bool hasRoom();
    Slot &slotToFill();
    // The slot's block is filled: it is decoded on the worker, or now.
    void submit();
    // Blocks submitted and not yet taken.
    bool queued();
    // The oldest block, once decoded: its bytes, valid until the next take,
    // or its FDIERROR_ code. After one fails, none of the folder's later
    // blocks is decoded.
    int take(const std::uint8_t *&data, std::uint32_t &size);
    bool running() const { return running_; }
    // Waits for the worker to finish what it has and forgets the blocks in flight.
    void drain();
    // Ends the worker.
    void stop();

private:
    void decode(Slot &s);
    void work();
    void startWorker();

    ZAlloc mem_;
    MszipDecoder inflater_;
    LzxDecoder lzx_;
    // The worker's view of the folder, set while it is idle.
    TCOMP type_ = 0;
    bool failed_ = false;
    std::uint32_t takenInFolder_ = 0;

    std::mutex m_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::uint64_t submitted_ = 0;
    std::uint64_t decoded_ = 0;
    std::uint64_t taken_ = 0;
    bool quit_ = false;
    bool running_ = false;  // false: no thread (yet, or to be had); blocks decode inline
    std::thread thread_;
    Slot slots_[kSlots];
};

}  // namespace cab::detail
