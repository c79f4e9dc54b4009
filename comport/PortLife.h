#pragma once

// What a port shares with the code running on its behalf, kept apart from the port so that it
// outlives it: a handler may close or even destroy the port from inside a notification, and the
// code that called the handler (on this thread or on the event thread) must find that out before
// it touches the port again.

#include "comport/ArrivalMarks.h"
#include "comport/DeviceGate.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace comport {

struct PortLife {
    // False once the port has been destroyed (set by its destructor when no other thread is inside
    // a call on it any more).
    std::atomic<bool> alive{true};
    // The device, as every thread that calls it reaches it.
    DeviceGate device;
    // Link notifications under way (on any thread: with smNone the event thread notifies too).
    std::atomic<int> notifying{0};

    // Opening and closing take turns: one thread at a time opens or closes the port, the others
    // wait for their turn. Under turnLock:
    std::mutex turnLock;
    std::thread::id holder;    // the thread opening or closing; none between turns
    bool holderCloses = false; // whether it closes
    // The threads inside an open, a close or a hand-over of line events, once per call: the
    // destructor waits until no other thread is.
    std::vector<std::thread::id> inside;
    // Set by the destructor: no open is started any more.
    std::atomic<bool> dying{false};
    // The thread running a hand-over of the event thread that a close waits for (none while no
    // such hand-over runs): a call from there cannot wait for the close, which waits for it.
    std::atomic<std::thread::id> handOverOn{};
    // Window handlers of the port running on its window's thread.
    std::atomic<int> windowHandlers{0};
    // Set while a close on the window's thread serves the events sent before it: their sender is
    // not released before they are handled, since it would then clear the input they announce.
    std::atomic<bool> windowServesClose{false};
    // Set (under turnLock) when a close is asked for while one is under way: the rest of the
    // hand-over the request came from is dropped, since it would only meet a closed device.
    std::atomic<bool> closeAsked{false};
    // When received bytes reached the port (noted by the event thread as it wakes for them).
    ArrivalMarks arrivals;
    // Line error flags that the event thread's look at the input queue cleared: the next query of
    // the line's errors reports them.
    std::atomic<std::uint32_t> clearedErrors{0};
};

// A thread inside a call on the port (an open, a close, a hand-over of line events), for the
// length of the call. entered() is false when the port has been destroyed already: the call must
// not touch it.
class PortCall {
public:
    explicit PortCall(std::shared_ptr<PortLife> life) : life_(std::move(life)) {
        std::lock_guard g(life_->turnLock);
        entered_ = life_->alive.load();
        if (entered_) life_->inside.push_back(std::this_thread::get_id());
    }
    ~PortCall() {
        if (!entered_) return;
        std::lock_guard g(life_->turnLock);
        auto& inside = life_->inside;
        inside.erase(std::find(inside.begin(), inside.end(), std::this_thread::get_id()));
    }
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;

    bool entered() const { return entered_; }

private:
    std::shared_ptr<PortLife> life_;
    bool entered_ = false;
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
