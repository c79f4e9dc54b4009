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
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    // Where a wait for several events sleeps instead of on a condition variable: a backend that
    // can watch its devices in the same sleep lets the waiting thread do the device's work itself
    // (see PosixEventWait.h), so no other thread has to be woken first to set the event.
    class Sleeper {
    public:
        // Blocks until wake() is called (also a call made since the last sleep), the sleeper's
        // own sources are ready, or the deadline passes; false only for the deadline.
        virtual bool sleep(Deadline deadline) = 0;
        // Serves the sources found ready by the last sleep; this may set events.
        virtual void serve() = 0;
        // Ends the current or the next sleep; any thread, any time.
        virtual void wake() = 0;

    protected:
        ~Sleeper() = default;
    };

    Event(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // True when the event was (or became) set within the time-out.
    bool wait(Timeout timeout);

    // Waits until one of the events is set; gives the lowest index of those set, or nothing on
    // time-out. An auto-reset event that is reported is consumed. With a sleeper the wait sleeps
    // (and serves) there.
    static std::optional<std::size_t> waitAny(Event* const* events, std::size_t count,
                                              Timeout timeout, Sleeper* sleeper = nullptr);

private:
    struct Waiter {
        std::mutex lock;
        std::condition_variable woken;
        bool signalled = false;
        Sleeper* sleeper = nullptr;
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
