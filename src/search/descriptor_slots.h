#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace qevra::search {

// How many files the content stage may hold open at once: half of the
// process's descriptor limit, after raising the soft limit a little where
// the hard one allows; the rest stays for the program and the workers' own
// single files. Taken once per process.
std::size_t descriptorBudget();

// Slots for open files, shared by the workers: a comparison takes one for
// each file it will open and gives them back as it closes them.
class DescriptorSlots {
public:
    explicit DescriptorSlots(std::size_t slots)
        : free_(slots)
    {
    }

    // Waits until `count` slots are free and takes them; false, taking
    // none, when `cancelled` is set meanwhile (wake() then ends the wait).
    bool acquire(std::size_t count, const std::atomic<bool>& cancelled);
    void release(std::size_t count);
    // Ends every wait, so that waiters can see that the work was cancelled.
    void wake();

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t free_;
};

} // namespace qevra::search
