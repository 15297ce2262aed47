#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qevra::search {

// Runs `work(begin, end)` over every index below `count`, a chunk of
// indexes at a time, on worker threads: chunks are taken in order and never
// far ahead of the index the caller waits for, and the caller takes the
// results in order. With no worker, the work runs on the calling thread, one
// index at a time, when that index is waited for. `work` must be safe to run
// on several threads at once for different chunks.
class WorkAhead {
public:
    using Work = std::function<void(std::size_t begin, std::size_t end)>;
    // `chunksAhead`: how many chunks the workers may be ahead of the one
    // waited for.
    WorkAhead(
        std::size_t count, unsigned threads, Work work, std::size_t chunksAhead = kChunksAhead);
    // Stops the workers (what they have not taken is never done) and joins.
    ~WorkAhead();
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;

    // Returns once every index up to i is done, running `meanwhile` (when
    // given) every kSlice of waiting for the workers. Indexes must be
    // waited for in ascending order.
    void waitFor(std::size_t i, const std::function<void()>& meanwhile = {});

    // Items per chunk, and how many chunks the workers may be ahead of the
    // one waited for: far enough to keep the disk busy, near enough that a
    // Stop or a failure wastes little.
    static constexpr std::size_t kChunk = 256;
    static constexpr std::size_t kChunksAhead = 16;
    static constexpr std::size_t kAsFarAsItCan = SIZE_MAX;
    static constexpr std::chrono::milliseconds kSlice { 25 };

private:
    void work();

    const std::size_t count_;
    const Work work_;
    const std::size_t chunks_;
    const std::size_t chunksAhead_;
    std::size_t doneHere_ = 0; // without workers: the items done so far
    std::size_t seenDone_ = 0; // the chunks the caller found done, from the first
    std::mutex mutex_; // guards the fields below
    std::condition_variable changed_;
    std::vector<bool> done_; // by chunk
    std::size_t doneFromFirst_ = 0; // the chunks done from the first on
    std::size_t next_ = 0; // the next chunk to take
    std::size_t current_ = 0; // the chunk waited for
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace qevra::search
