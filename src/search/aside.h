#pragma once

#include "search/progress.h"
#include "search/worker_thread.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace qevra::search {

// Runs `work` on a thread of its own while steps of the comparing (of no
// size) keep the caller's events going. Nothing when the work fails, or
// when a step answers false first (`stopped`): the work then ends on its
// own, holding only what is its own.
template <typename T>
std::optional<T> aside(Progress& progress, std::function<T()> work, bool& stopped)
{
    stopped = false;
    struct Shared {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::optional<T> result;
    };
    const auto shared = std::make_shared<Shared>();
    try {
        std::thread([shared, work = std::move(work)] {
            becomeWorker("qevra-memory");
            std::optional<T> result;
            try {
                result = work();
            } catch (const std::exception&) {
                // Nothing rather than an end.
            }
            const std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            shared->done = true;
            shared->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(shared->mutex);
    while (!shared->ended.wait_for(
        lock, std::chrono::milliseconds(25), [&] { return shared->done; })) {
        lock.unlock();
        const bool goOn = progress.step(Phase::Comparing, 0, 0);
        lock.lock();
        if (!goOn && !shared->done) {
            stopped = true;
            return std::nullopt;
        }
    }
    return std::move(shared->result);
}

} // namespace qevra::search
