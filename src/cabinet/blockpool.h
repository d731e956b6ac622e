// Compression of a folder's data blocks on several threads, handed back in
// the order they were read.
//
// An MSZIP block refers back only into the previous block of input, which
// is read before the block is compressed, so blocks compress independently,
// each against its predecessor's input as preset dictionary: the bytes come
// out the same whatever thread does the work. LZX frames share the encoder's
// window and go through it in order, in two halves (lzxencoder.h): the
// matches of a frame are found while the frame before it is coded, so two
// threads share a folder; the bytes come out as on one thread.
//
// Blocks live in a small ring, so memory stays fixed however much is
// written. The caller's thread takes the oldest block back and compresses
// queued ones itself while it waits; no callback of the library user is
// made from a worker, and workers never allocate.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "cabinet/cabformat.h"
#include "cabinet/lzxencoder.h"
#include "cabinet/mszip.h"

namespace cab::detail {

// Threads that compress (the caller's included); 0 goes back to the machine's
// cores. Read when a writer context is made. For tests and benchmarks, as is
// the variable QV_CAB_THREADS.
void setWriterThreads(int threads);
int writerThreads();

class BlockPool {
public:
    // Cores beyond four gained nothing measurable: reading the files and
    // writing the blocks on one thread then take as long as compressing.
    static constexpr int kMaxThreads = 4;
    static constexpr int kSlots = 2 * kMaxThreads + 2;
    static constexpr std::uint32_t kMaxOut = std::max(kMaxMszipBlock, lzx::kMaxFrameCompressed);

    enum class Kind : std::uint8_t { Stored, Mszip, Lzx };
    struct Block {
        const std::uint8_t *data;
        std::uint32_t size;          // compressed bytes
        std::uint32_t uncompressed;  // bytes of input
    };

    BlockPool() = default;
    BlockPool(const BlockPool &) = delete;
    BlockPool &operator=(const BlockPool &) = delete;
    ~BlockPool();

    // The encoders are the caller's; workers get their own MSZIP encoders
    // when first needed.
    void init(ZAlloc mem, int level, int threads, MszipEncoder *mszip, LzxEncoder *lzx);

    // Where the next block's input goes (kBlockSize bytes).
    std::uint8_t *input();
    // Queues the block in input() (n bytes); with chained, the previous block
    // is its dictionary.
    void submit(std::uint32_t n, Kind kind, bool chained);
    // Blocks queued and not yet taken back.
    int backlog() const { return static_cast<int>(tail_ - head_); }
    // True when the oldest block must be taken back before input() is filled.
    bool full() const { return backlog() > kSlots - 2; }
    // The oldest block, compressed; valid until pop().
    Block oldest();
    void pop();
    // Forgets every queued block (after a failure); waits for those under way.
    void discard();

private:
    // An LZX frame goes Queued, Finding, Found, Running (coded), Done; an
    // MSZIP block Queued, Running, Done; a stored one is Done at once.
    enum class State : std::uint8_t { Free, Queued, Finding, Found, Running, Done };
    struct Slot {
        State state = State::Free;
        Kind kind = Kind::Stored;
        std::uint32_t n = 0;
        std::uint32_t size = 0;
        const std::uint8_t *dict = nullptr;
        std::uint32_t dictLen = 0;
        std::uint8_t in[kBlockSize];
        std::uint8_t out[kMaxOut];
    };

    Slot &slot(std::uint64_t seq) { return slots_[seq % kSlots]; }
    Slot *runnable();  // under lock_; the slot's next step may start
    // Takes the slot's next step, lock_ held on entry and exit but not while
    // the step runs.
    void step(Slot &s, MszipEncoder &mszip, std::unique_lock<std::mutex> &hold);
    void startWorkers();
    void work(int index);
    void stop();

    ZAlloc mem_;
    int level_ = 0;
    int threads_ = 1;
    MszipEncoder *mszip_ = nullptr;
    LzxEncoder *lzx_ = nullptr;
    bool started_ = false;
    int workerCount_ = 0;
    bool stopping_ = false;
    std::uint64_t head_ = 0;  // oldest block not yet taken back
    std::uint64_t tail_ = 0;  // the block being filled
    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::thread workers_[kMaxThreads - 1];
    MszipEncoder encoders_[kMaxThreads - 1];
    Slot slots_[kSlots];
};

}  // namespace cab::detail
