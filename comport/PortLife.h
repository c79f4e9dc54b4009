#pragma once

// What a port shares with the code running on its behalf, kept apart from the port so that it
// outlives it: a handler may close or even destroy the port from inside a notification, and the
// code that called the handler (on this thread or on the event thread) must find that out before
// it touches the port again.

#include "comport/ArrivalMarks.h"
#include "comport/DeviceGate.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace comport {

struct PortLife {
    std::atomic<bool> alive{true};
    // The device, as every thread that calls it reaches it.
    DeviceGate device;
    // Link notifications under way (on any thread: with smNone the event thread notifies too).
    std::atomic<int> notifying{0};
    // The thread running closePort (or the destructor's close); none while no close is under way.
    std::mutex closeLock;
    std::thread::id closer; // under closeLock
    // Set (under closeLock) when a close is asked for while one is under way: the rest of the
    // hand-over the request came from is dropped, since it would only meet a closed device.
    std::atomic<bool> closeAsked{false};
    // When received bytes reached the port (noted by the event thread as it wakes for them).
    ArrivalMarks arrivals;
    // Line error flags that the event thread's look at the input queue cleared: the next query of
    // the line's errors reports them.
    std::atomic<std::uint32_t> clearedErrors{0};
};

// Marks a walk over the port's links under way, so that registration refuses to change the list
// beneath it; holds the port's life so that the walk can tell when the port has gone.
class NotifyingScope {
public:
    explicit NotifyingScope(std::shared_ptr<PortLife> life) : life_(std::move(life)) {
        ++life_->notifying;
    }
    ~NotifyingScope() { --life_->notifying; }
    NotifyingScope(const NotifyingScope&) = delete;
    NotifyingScope& operator=(const NotifyingScope&) = delete;

    // False once a callback has destroyed the port.
    bool portAlive() const { return life_->alive.load(); }

private:
    std::shared_ptr<PortLife> life_;
};

} // namespace comport
