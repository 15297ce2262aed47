#pragma once

#include <chrono>

namespace qevra::platform {

// Lets pending window events run, at most once per interval, so that a long
// loop stays live without paying for the events step on every iteration.
class EventPump {
public:
    using Clock = std::chrono::steady_clock;

    explicit EventPump(std::chrono::milliseconds interval = std::chrono::milliseconds(25))
        : interval_(interval)
    {
    }

    // Runs pending events when the interval has passed since the last run;
    // true when it ran them (the moment to refresh progress displays too).
    bool operator()()
    {
        const Clock::time_point now = Clock::now();
        if (now - last_ < interval_)
            return false;
        runNow(now);
        return true;
    }

    // Runs pending events now.
    void runNow(Clock::time_point now = Clock::now());

    void setInterval(std::chrono::milliseconds interval) { interval_ = interval; }

private:
    std::chrono::milliseconds interval_;
    Clock::time_point last_ {};
};

} // namespace qevra::platform
