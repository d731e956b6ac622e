#include "cabinet/blockpool.h"

#include <atomic>
#include <cstdlib>

namespace cab::detail {
namespace {

std::atomic<int> g_threads{0};

}  // namespace

void setWriterThreads(int threads) { g_threads = threads; }

int writerThreads()
{
    int n = g_threads;
    if (n <= 0) {
        if (const char *v = std::getenv("QV_CAB_THREADS"))
            n = std::atoi(v);
    }
    if (n <= 0)
        n = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(n, 1, BlockPool::kMaxThreads);
}

BlockPool::~BlockPool() { stop(); }

void BlockPool::init(ZAlloc mem, int level, int threads, MszipEncoder *mszip, LzxEncoder *lzx)
{
    mem_ = mem;
    level_ = level;
    threads_ = std::clamp(threads, 1, kMaxThreads);
    mszip_ = mszip;
    lzx_ = lzx;
}

std::uint8_t *BlockPool::input() { return slot(tail_).in; }

void BlockPool::submit(std::uint32_t n, Kind kind, bool chained)
{
    if (kind != Kind::Stored && !started_)
        startWorkers();
    Slot &s = slot(tail_);
    const Slot &prev = slot(tail_ - 1);
    {
        std::lock_guard<std::mutex> hold(lock_);
        s.kind = kind;
        s.n = n;
        s.dict = chained && tail_ > 0 ? prev.in : nullptr;
        s.dictLen = chained && tail_ > 0 ? prev.n : 0;
        if (kind == Kind::Stored) {
            s.size = n;
            s.state = State::Done;
        } else {
            s.state = State::Queued;
        }
        ++tail_;
    }
    if (kind != Kind::Stored)
        work_.notify_one();
}

BlockPool::Slot *BlockPool::runnable()
{
    bool finding = false;  // an earlier LZX frame has yet to be found
    bool coding = false;   // an earlier LZX frame has yet to be coded
    for (std::uint64_t seq = head_; seq < tail_; ++seq) {
        Slot &s = slot(seq);
        if (s.kind != Kind::Lzx) {
            if (s.state == State::Queued)
                return &s;
            continue;
        }
        switch (s.state) {
        case State::Queued:
            if (!finding && lzx_->readyToFind(s.n))
                return &s;
            finding = coding = true;
            break;
        case State::Finding: finding = coding = true; break;
        case State::Found:
            if (!coding)
                return &s;
            coding = true;
            break;
        case State::Running: coding = true; break;
        default: break;
        }
    }
    return nullptr;
}

void BlockPool::step(Slot &s, MszipEncoder &mszip, std::unique_lock<std::mutex> &hold)
{
    const State from = s.state;
    s.state = from == State::Queued && s.kind == Kind::Lzx ? State::Finding : State::Running;
    const State running = s.state;
    hold.unlock();
    if (s.kind == Kind::Mszip)
        s.size = mszip.encode(s.in, s.n, s.dict, s.dictLen, s.out);
    else if (running == State::Finding)
        lzx_->findMatches(s.in, s.n);
    else
        s.size = lzx_->codeFrame(s.out);
    hold.lock();
    s.state = running == State::Finding ? State::Found : State::Done;
    // The next frame may be found or coded now, by whichever thread is free.
    work_.notify_all();
    done_.notify_all();
}

BlockPool::Block BlockPool::oldest()
{
    Slot &s = slot(head_);
    std::unique_lock<std::mutex> hold(lock_);
    while (s.state != State::Done) {
        // Rather than wait, take the oldest step that may start.
        if (Slot *r = runnable())
            step(*r, *mszip_, hold);
        else
            done_.wait(hold);
    }
    const std::uint8_t *data = s.kind == Kind::Stored ? s.in : s.out;
    return Block{data, s.size, s.n};
}

void BlockPool::pop()
{
    std::lock_guard<std::mutex> hold(lock_);
    slot(head_).state = State::Free;
    ++head_;
}

void BlockPool::discard()
{
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        bool running = false;
        for (std::uint64_t seq = head_; seq < tail_; ++seq) {
            Slot &s = slot(seq);
            if (s.state == State::Queued || s.state == State::Found)
                s.state = State::Free;
            running = running || s.state == State::Running || s.state == State::Finding;
        }
        if (!running)
            break;
        done_.wait(hold);
    }
    for (std::uint64_t seq = head_; seq < tail_; ++seq)
        slot(seq).state = State::Free;
    head_ = tail_;
}

// Workers start with the first block to compress, so a writer that only
// stores, or a process that never writes, costs no threads. One that cannot
// be had leaves the work to fewer threads.
void BlockPool::startWorkers()
{
    started_ = true;
    for (int i = 0; i < threads_ - 1; ++i) {
        if (!encoders_[i].init(mem_, level_))
            break;
        try {
            workers_[i] = std::thread(&BlockPool::work, this, i);
        } catch (...) {
            break;
        }
        ++workerCount_;
    }
}

void BlockPool::work(int index)
{
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        Slot *s = nullptr;
        while (!stopping_ && (s = runnable()) == nullptr)
            work_.wait(hold);
        if (stopping_)
            return;
        step(*s, encoders_[index], hold);
    }
}

void BlockPool::stop()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    work_.notify_all();
    for (int i = 0; i < workerCount_; ++i)
        workers_[i].join();
    workerCount_ = 0;
}

}  // namespace cab::detail
