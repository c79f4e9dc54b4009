#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace comport::driver {

// A waitable event in user space: a flag with a condition variable, so that setting, resetting
// and testing it cost no system call. Manual-reset events stay set until reset; auto-reset events
// are consumed by the wait that sees them.
class Event {
public:
    using Timeout = std::optional<std::chrono::milliseconds>; // none: wait without limit

    Event(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // True when the event was (or became) set within the time-out.
    bool wait(Timeout timeout);

    // Waits until one of the events is set; gives the lowest index of those set, or nothing on
    // time-out. An auto-reset event that is reported is consumed.
    static std::optional<std::size_t> waitAny(Event* const* events, std::size_t count,
                                              Timeout timeout);

private:
    struct Waiter {
        std::mutex lock;
        std::condition_variable woken;
        bool signalled = false;
    };

    bool tryConsumeLocked();

    const bool manual_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool signalled_;
    int plainWaiters_ = 0;
    std::vector<Waiter*> waiters_;
};

} // namespace comport::driver
