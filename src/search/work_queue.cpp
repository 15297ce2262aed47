#include "search/work_queue.h"

#include "search/worker_thread.h"

#include <algorithm>

namespace qevra::search {

WorkQueue::WorkQueue(std::chrono::milliseconds pollInterval)
    : pollInterval_(pollInterval)
{
}

WorkQueue::~WorkQueue()
{
    stopWorkers();
}

void WorkQueue::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        ++pending_;
    }
    tasksCv_.notify_one();
}

bool WorkQueue::run(
    unsigned threads, const std::function<bool()>& keepGoing, std::shared_ptr<void> keepAlive)
{
    {
        std::lock_guard lock(mutex_);
        if (pending_ == 0)
            return !cancelled();
        ended_.assign(threads, true);
    }
    try {
        for (unsigned i = 0; i < threads; ++i) {
            {
                std::lock_guard lock(mutex_);
                ended_[i] = false;
            }
            workers_.emplace_back([this, i, keepAlive] { work(i); });
        }
    } catch (...) {
        // Fewer workers, or none: then the calling thread works.
        std::lock_guard lock(mutex_);
        for (std::size_t i = workers_.size(); i < ended_.size(); ++i)
            ended_[i] = true;
    }
    const bool completed = workers_.empty() ? runHere(keepGoing) : waitHere(keepGoing);
    stopWorkers();
    return completed && !cancelled();
}

void WorkQueue::cancel()
{
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    tasksCv_.notify_all();
    if (wake_)
        wake_();
}

void WorkQueue::work(std::size_t worker)
{
    becomeWorker("qevra-compare");
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            tasksCv_.wait(lock, [&] { return !tasks_.empty() || finished_ || cancelled(); });
            if (cancelled() || tasks_.empty()) {
                ended_[worker] = true;
                doneCv_.notify_all();
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        task = nullptr;
        finishOne();
    }
}

void WorkQueue::finishOne()
{
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        done = --pending_ == 0;
        if (done)
            finished_ = true;
    }
    if (done) {
        tasksCv_.notify_all();
        doneCv_.notify_all();
    }
}

bool WorkQueue::waitHere(const std::function<bool()>& keepGoing)
{
    std::unique_lock lock(mutex_);
    while (!finished_) {
        if (doneCv_.wait_for(lock, pollInterval_, [&] { return finished_; }))
            break;
        lock.unlock();
        const bool goOn = !keepGoing || keepGoing();
        lock.lock();
        if (!goOn) {
            lock.unlock();
            cancel();
            return false;
        }
    }
    return true;
}

bool WorkQueue::runHere(const std::function<bool()>& keepGoing)
{
    auto asked = std::chrono::steady_clock::now();
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty())
                return true;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        finishOne();
        if (std::chrono::steady_clock::now() - asked >= pollInterval_) {
            if (keepGoing && !keepGoing()) {
                cancel();
                return false;
            }
            asked = std::chrono::steady_clock::now();
        }
    }
}

void WorkQueue::stopWorkers()
{
    if (workers_.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        cancelled_ = cancelled_ || pending_ != 0;
    }
    tasksCv_.notify_all();
    if (cancelled() && wake_)
        wake_();
    // Workers end at once unless a task holds them; those still busy after
    // a short grace are left to end on their own.
    std::vector<bool> ended;
    {
        std::unique_lock lock(mutex_);
        doneCv_.wait_for(lock, kGrace,
            [&] { return std::all_of(ended_.begin(), ended_.end(), [](bool e) { return e; }); });
        ended = ended_;
    }
    for (std::size_t i = 0; i < workers_.size(); ++i) {
        if (ended[i])
            workers_[i].join();
        else
            workers_[i].detach();
    }
    workers_.clear();
}

} // namespace qevra::search
