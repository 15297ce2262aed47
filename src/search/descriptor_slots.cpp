#include "search/descriptor_slots.h"

#include <algorithm>
#include <sys/resource.h>

namespace qevra::search {

std::size_t descriptorBudget()
{
    static const std::size_t budget = [] {
        constexpr rlim_t kWanted = 8192;
        rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return std::size_t(128);
        if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < kWanted) {
            rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kWanted
                ? kWanted
                : limit.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        const rlim_t soft = limit.rlim_cur == RLIM_INFINITY ? kWanted : limit.rlim_cur;
        return std::clamp<std::size_t>(static_cast<std::size_t>(soft / 2), 2, 4096);
    }();
    return budget;
}

bool DescriptorSlots::acquire(std::size_t count, const std::atomic<bool>& cancelled)
{
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return free_ >= count || cancelled.load(); });
    if (cancelled.load())
        return false;
    free_ -= count;
    return true;
}

void DescriptorSlots::release(std::size_t count)
{
    if (count == 0)
        return;
    {
        std::lock_guard lock(mutex_);
        free_ += count;
    }
    freed_.notify_all();
}

void DescriptorSlots::wake()
{
    {
        std::lock_guard lock(mutex_);
    }
    freed_.notify_all();
}

} // namespace qevra::search
