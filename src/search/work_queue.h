#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qevra::search {

// Tasks run by worker threads; a task may post more tasks, and the work
// ends when every task posted has finished. The calling thread only waits
// and asks, every poll interval, whether to go on. When it answers no, the
// work is cancelled and the call returns at once: workers still inside a
// task (a read that does not return) are left to end on their own, which
// is why each holds `keepAlive` (the owner of the queue and of everything
// its tasks touch) as long as it runs.
class WorkQueue {
public:
    explicit WorkQueue(std::chrono::milliseconds pollInterval = std::chrono::milliseconds(20));
    // Cancels what is left and joins the workers.
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // Posts a task; from any thread. A task must not let an exception out.
    void post(std::function<void()> task);
    // Runs the posted work to its end on up to `threads` workers (on the
    // calling thread when none can start). `keepGoing` runs on the calling
    // thread every poll interval; when it answers false the work is
    // cancelled. True when the work ended uncancelled.
    bool run(unsigned threads, const std::function<bool()>& keepGoing,
        std::shared_ptr<void> keepAlive = {});

    // How long a cancelled run waits for busy workers before leaving them.
    static constexpr std::chrono::milliseconds kGrace { 30 };

    // Cancels the work: no more tasks start, and waits that watch the flag
    // end.
    void cancel();
    bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }
    const std::atomic<bool>& cancelFlag() const { return cancelled_; }
    // Runs when the work is cancelled, so that other waits can end too.
    void onCancel(std::function<void()> wake) { wake_ = std::move(wake); }

private:
    void work(std::size_t worker);
    bool runHere(const std::function<bool()>& keepGoing);
    bool waitHere(const std::function<bool()>& keepGoing);
    void finishOne();
    void stopWorkers();

    const std::chrono::milliseconds pollInterval_;
    std::mutex mutex_; // guards the queue, the count and `finished_`
    std::condition_variable tasksCv_; // a task was posted, or the work ended
    std::condition_variable doneCv_; // the work ended
    std::deque<std::function<void()>> tasks_;
    std::size_t pending_ = 0; // posted and not finished
    bool finished_ = false;
    std::atomic<bool> cancelled_ { false };
    std::function<void()> wake_;
    std::vector<std::thread> workers_;
    std::vector<bool> ended_; // by worker; guarded by the mutex
};

} // namespace qevra::search
