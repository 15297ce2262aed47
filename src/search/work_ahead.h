#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qevra::search {

// Runs `work(i)` for every i below `count` on worker threads, in chunks taken
// in order and never far ahead of the index the caller waits for; the
// caller takes the results in order. With no worker, each `work(i)` runs on
// the calling thread when it is waited for. `work` must be safe to run on
// several threads at once for different i.
class WorkAhead {
public:
    WorkAhead(std::size_t count, unsigned threads, std::function<void(std::size_t)> work);
    // Stops the workers (what they have not taken is never done) and joins.
    ~WorkAhead();
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;

    // Returns once `work(i)` has run. Indexes must be waited for in
    // ascending order.
    void waitFor(std::size_t i);

    // Items per chunk, and how many chunks the workers may be ahead of the
    // one waited for: far enough to keep the disk busy, near enough that a
    // Stop or a failure wastes little.
    static constexpr std::size_t kChunk = 256;
    static constexpr std::size_t kChunksAhead = 16;

private:
    void work();

    const std::size_t count_;
    const std::function<void(std::size_t)> work_;
    const std::size_t chunks_;
    std::size_t doneHere_ = 0; // without workers: the items done so far
    std::mutex mutex_; // guards the fields below
    std::condition_variable changed_;
    std::vector<bool> done_; // by chunk
    std::size_t next_ = 0; // the next chunk to take
    std::size_t current_ = 0; // the chunk waited for
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace qevra::search
