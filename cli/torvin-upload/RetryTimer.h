#pragma once

#include <chrono>
#include <optional>

namespace torvinupload {

// The window's Timer1 for a plain loop: a periodic timer switched by one flag. Switching a stopped
// timer on starts its interval afresh; switching a running one on changes nothing; switching it
// off stops it. It only keeps time: the loop asks when the next tick is due and runs the tick.
class RetryTimer {
public:
    using Clock = std::chrono::steady_clock;

    explicit RetryTimer(Clock::duration interval = std::chrono::seconds(1)) : interval_(interval) {}

    bool enabled() const { return next_.has_value(); }
    void setEnabled(bool enabled, Clock::time_point now = Clock::now());

    // When the next tick is due; nothing while the timer is stopped.
    std::optional<Clock::time_point> nextTick() const { return next_; }

    // True when a tick is due at `now`; the timer then counts from this tick. A loop that fell
    // behind gets one tick, not a burst: like a window timer, missed ticks are not made up.
    bool takeTick(Clock::time_point now = Clock::now());

private:
    Clock::duration interval_;
    std::optional<Clock::time_point> next_;
};

} // namespace torvinupload
