#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace qevra::search {

// Runs work over every index below `count`, a chunk of indexes at a time,
// on worker threads: chunks are taken in order and never far ahead of the
// index the caller waits for, and the caller takes the results in order.
// With no worker, the work runs on the calling thread, one index at a time,
// when that index is waited for.
//
// A chunk's work comes in three steps, so that the caller may give up at
// any moment without waiting for a file system that never answers: the
// first (`Work`) runs under the lock while the caller still wants the
// results, and copies whatever the slow step needs; the slow step runs
// without the lock and must touch nothing of the caller's; the step it
// returns (`Commit`) runs under the lock, and only if the caller has not
// given up meanwhile, to hand the results over.
class WorkAhead {
public:
    using Commit = std::function<void()>;
    using Slow = std::function<Commit()>;
    using Work = std::function<Slow(std::size_t begin, std::size_t end)>;

    // `chunksAhead`: how many chunks the workers may be ahead of the one
    // waited for.
    WorkAhead(
        std::size_t count, unsigned threads, Work work, std::size_t chunksAhead = kChunksAhead);
    // Gives up what is not done: the workers take nothing more and hand
    // nothing over. Workers still busy (a file system that does not answer)
    // are left to end on their own, holding only what is theirs; the
    // others are joined.
    ~WorkAhead();
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;

    // Returns true once every index up to i is done, running `meanwhile`
    // (when given) every kSlice of waiting for the workers; false, with i
    // not done, as soon as `meanwhile` answers false. Indexes must be
    // waited for in ascending order.
    bool waitFor(std::size_t i, const std::function<bool()>& meanwhile = {});

    // Items per chunk, and how many chunks the workers may be ahead of the
    // one waited for: far enough to keep the disk busy, near enough that a
    // Stop or a failure wastes little.
    static constexpr std::size_t kChunk = 256;
    static constexpr std::size_t kChunksAhead = 16;
    static constexpr std::size_t kAsFarAsItCan = SIZE_MAX;
    static constexpr std::chrono::milliseconds kSlice { 25 };
    // How long giving up waits for busy workers before leaving them.
    static constexpr std::chrono::milliseconds kGrace { 30 };

private:
    struct State;

    const std::shared_ptr<State> state_;
    std::size_t doneHere_ = 0; // without workers: the items done so far
    std::size_t seenDone_ = 0; // the chunks the caller found done, from the first
    std::vector<std::thread> workers_;
};

} // namespace qevra::search
