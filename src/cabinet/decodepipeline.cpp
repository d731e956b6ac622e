#include "cabinet/decodepipeline.h"

namespace cab::detail {

bool DecodePipeline::init(ZAlloc mem)
{
    mem_ = mem;
    return inflater_.init(mem);
}

std::uint32_t DecodePipeline::maxBlockData(TCOMP type)
{
    if (type == tcompTYPE_MSZIP)
        return kMaxMszipBlock;
    if ((type & tcompMASK_TYPE) == tcompTYPE_LZX)
        return lzx::kMaxFrameCompressed;
    return kBlockSize;
}

int DecodePipeline::startFolder(TCOMP type, int lzxWindowBits)
{
    drain();
    type_ = type;
    failed_ = false;
    takenInFolder_ = 0;
    if ((type & tcompMASK_TYPE) == tcompTYPE_LZX) {
        const auto r = lzx_.reset(mem_, lzxWindowBits);
        if (r != LzxDecoder::Result::Ok)
            return r == LzxDecoder::Result::NoMemory ? FDIERROR_ALLOC_FAIL : FDIERROR_BAD_COMPR_TYPE;
    } else if (type == tcompTYPE_MSZIP && !inflater_.startFolder()) {
        return FDIERROR_ALLOC_FAIL;
    }
    return FDIERROR_NONE;
}

// Checks and decodes one block; runs on the worker, or inline.
void DecodePipeline::decode(Slot &s)
{
    s.data = s.out;
    if (failed_) {
        s.result = FDIERROR_MDI_FAIL;
        return;
    }
    s.result = FDIERROR_NONE;
    if (s.check && !checksumHolds(s.csum, s.head, s.reserve, s.in, s.inLen)) {
        s.result = FDIERROR_CORRUPT_CABINET;
    } else if (type_ == tcompTYPE_NONE) {
        if (s.inLen != s.size)
            s.result = FDIERROR_CORRUPT_CABINET;
        s.data = s.in;
    } else if ((type_ & tcompMASK_TYPE) == tcompTYPE_LZX) {
        if (lzx_.decodeFrame(s.in, s.inLen, s.out, s.size, s.last) != LzxDecoder::Result::Ok)
            s.result = FDIERROR_MDI_FAIL;
    } else {
        const auto r = inflater_.decode(s.in, s.inLen, s.out, s.size);
        if (r != MszipDecoder::Result::Ok)
            s.result = r == MszipDecoder::Result::NoMemory ? FDIERROR_ALLOC_FAIL : FDIERROR_MDI_FAIL;
    }
    if (s.result != FDIERROR_NONE)
        failed_ = true;
}

void DecodePipeline::work()
{
    std::unique_lock lock(m_);
    for (;;) {
        work_.wait(lock, [&] { return quit_ || decoded_ < submitted_; });
        if (quit_)
            return;
        Slot &s = slots_[decoded_ % kSlots];
        lock.unlock();
        decode(s);
        lock.lock();
        ++decoded_;
        done_.notify_one();
    }
}

void DecodePipeline::startWorker()
{
    if (running_)
        return;
    quit_ = false;
    try {
        thread_ = std::thread(&DecodePipeline::work, this);
        running_ = true;
    } catch (...) {
        running_ = false;  // no thread: the caller's thread decodes
    }
}

bool DecodePipeline::hasRoom()
{
    std::lock_guard lock(m_);
    // The block handed out last (taken - 1) is still being written from.
    return submitted_ - taken_ + 1 < kSlots;
}

DecodePipeline::Slot &DecodePipeline::slotToFill()
{
    std::lock_guard lock(m_);
    return slots_[submitted_ % kSlots];
}

void DecodePipeline::submit()
{
    if (!running_) {
        decode(slots_[submitted_ % kSlots]);
        ++submitted_;
        ++decoded_;
        return;
    }
    {
        std::lock_guard lock(m_);
        ++submitted_;
    }
    work_.notify_one();
}

bool DecodePipeline::queued()
{
    std::lock_guard lock(m_);
    return submitted_ > taken_;
}

int DecodePipeline::take(const std::uint8_t *&data, std::uint32_t &size)
{
    Slot *s;
    {
        std::unique_lock lock(m_);
        done_.wait(lock, [&] { return decoded_ > taken_; });
        s = &slots_[taken_ % kSlots];
        ++taken_;
    }
    if (s->result != FDIERROR_NONE)
        return s->result;
    data = s->data;
    size = s->size;
    if (++takenInFolder_ == kInlineBlocks)
        startWorker();
    return FDIERROR_NONE;
}

void DecodePipeline::drain()
{
    std::unique_lock lock(m_);
    done_.wait(lock, [&] { return decoded_ == submitted_; });
    taken_ = submitted_;
}

void DecodePipeline::stop()
{
    if (!running_)
        return;
    drain();
    {
        std::lock_guard lock(m_);
        quit_ = true;
    }
    work_.notify_one();
    thread_.join();
    running_ = false;
}

}  // namespace cab::detail
