#include "search/work_ahead.h"

#include "search/worker_thread.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <pthread.h>

namespace qevra::search {

// What the caller and the workers share; a worker keeps it alive as long as
// it runs, so the caller may go without waiting for it.
struct WorkAhead::State {
    State(std::size_t items, Work chunkWork, std::size_t ahead)
        : count(items)
        , work(std::move(chunkWork))
        , chunks((items + kChunk - 1) / kChunk)
        , chunksAhead(ahead)
        , done(chunks, false)
    {
    }

    void run(std::size_t worker);

    const std::size_t count;
    const Work work; // called under the lock, and only before `stopping`
    const std::size_t chunks;
    const std::size_t chunksAhead;
    std::mutex mutex; // guards the fields below
    std::condition_variable changed;
    std::vector<bool> done; // by chunk
    std::size_t doneFromFirst = 0; // the chunks done from the first on
    std::size_t next = 0; // the next chunk to take
    std::size_t current = 0; // the chunk waited for
    bool stopping = false;
    std::vector<bool> ended; // by worker
};

void WorkAhead::State::run(std::size_t worker)
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [&] {
            return stopping || next >= chunks || next < current || next - current < chunksAhead;
        });
        if (stopping || next >= chunks)
            break;
        const std::size_t chunk = next++;
        Slow slow = work(chunk * kChunk, std::min((chunk + 1) * kChunk, count));
        lock.unlock();
        Commit commit = slow ? slow() : Commit();
        slow = nullptr;
        lock.lock();
        if (stopping)
            break;
        if (commit)
            commit();
        done[chunk] = true;
        while (doneFromFirst < chunks && done[doneFromFirst])
            ++doneFromFirst;
        changed.notify_all();
    }
    ended[worker] = true;
    changed.notify_all();
}

WorkAhead::WorkAhead(std::size_t count, unsigned threads, Work work, std::size_t chunksAhead)
    : state_(std::make_shared<State>(count, std::move(work), chunksAhead))
{
    const std::size_t wanted = std::min<std::size_t>(threads, state_->chunks);
    state_->ended.assign(wanted, false);
    try {
        for (std::size_t w = 0; w < wanted; ++w)
            workers_.emplace_back([state = state_, w] {
                becomeWorker("qevra-ahead");
                state->run(w);
            });
    } catch (...) {
        // Fewer workers, or none: then the caller works.
    }
    if (workers_.size() < wanted) {
        std::lock_guard lock(state_->mutex);
        for (std::size_t w = workers_.size(); w < wanted; ++w)
            state_->ended[w] = true;
    }
}

WorkAhead::~WorkAhead()
{
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
    const auto allEnded = [&] {
        return std::all_of(state_->ended.begin(), state_->ended.end(), [](bool e) { return e; });
    };
    state_->changed.wait_for(lock, kGrace, allEnded);
    std::vector<bool> ended = state_->ended;
    lock.unlock();
    for (std::size_t w = 0; w < workers_.size(); ++w) {
        if (ended[w])
            workers_[w].join();
        else
            workers_[w].detach();
    }
}

bool WorkAhead::waitFor(std::size_t i, const std::function<bool()>& meanwhile)
{
    State& state = *state_;
    if (workers_.empty()) {
        while (doneHere_ <= i && doneHere_ < state.count) {
            Slow slow = state.work(doneHere_, doneHere_ + 1);
            if (Commit commit = slow ? slow() : Commit())
                commit();
            ++doneHere_;
        }
        return true;
    }
    const std::size_t chunk = i / kChunk;
    if (chunk < seenDone_)
        return true;
    std::unique_lock lock(state.mutex);
    if (chunk > state.current) {
        state.current = chunk;
        state.changed.notify_all();
    }
    const auto ready = [&] { return state.doneFromFirst > chunk; };
    if (meanwhile) {
        while (!state.changed.wait_for(lock, kSlice, ready)) {
            lock.unlock();
            const bool goOn = meanwhile();
            lock.lock();
            if (!goOn)
                return false;
        }
    } else {
        state.changed.wait(lock, ready);
    }
    seenDone_ = state.doneFromFirst;
    return true;
}

} // namespace qevra::search
