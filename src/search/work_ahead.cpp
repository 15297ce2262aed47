#include "search/work_ahead.h"

#include <algorithm>
#include <pthread.h>

namespace qevra::search {

WorkAhead::WorkAhead(std::size_t count, unsigned threads, Work work, std::size_t chunksAhead)
    : count_(count)
    , work_(std::move(work))
    , chunks_((count + kChunk - 1) / kChunk)
    , chunksAhead_(chunksAhead)
    , done_(chunks_, false)
{
    try {
        for (unsigned t = 0; t < threads && t < chunks_; ++t)
            workers_.emplace_back([this] {
                // Named, so that top -H and profilers tell them apart.
                ::pthread_setname_np(::pthread_self(), "qevra-ahead");
                this->work();
            });
    } catch (...) {
        // Fewer workers, or none: then the caller works.
    }
}

WorkAhead::~WorkAhead()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void WorkAhead::waitFor(std::size_t i, const std::function<void()>& meanwhile)
{
    if (workers_.empty()) {
        while (doneHere_ <= i && doneHere_ < count_) {
            work_(doneHere_, doneHere_ + 1);
            ++doneHere_;
        }
        return;
    }
    const std::size_t chunk = i / kChunk;
    if (chunk < seenDone_)
        return;
    std::unique_lock lock(mutex_);
    if (chunk > current_) {
        current_ = chunk;
        changed_.notify_all();
    }
    const auto ready = [&] { return doneFromFirst_ > chunk; };
    if (meanwhile) {
        while (!changed_.wait_for(lock, kSlice, ready)) {
            lock.unlock();
            meanwhile();
            lock.lock();
        }
    } else {
        changed_.wait(lock, ready);
    }
    seenDone_ = doneFromFirst_;
}

void WorkAhead::work()
{
    for (;;) {
        std::size_t chunk = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                return stopping_ || next_ >= chunks_ || next_ < current_
                    || next_ - current_ < chunksAhead_;
            });
            if (stopping_ || next_ >= chunks_)
                return;
            chunk = next_++;
        }
        work_(chunk * kChunk, std::min((chunk + 1) * kChunk, count_));
        {
            std::lock_guard lock(mutex_);
            done_[chunk] = true;
            while (doneFromFirst_ < chunks_ && done_[doneFromFirst_])
                ++doneFromFirst_;
        }
        changed_.notify_all();
    }
}

} // namespace qevra::search
