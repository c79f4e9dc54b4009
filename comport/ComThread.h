#pragma once

// The event thread of an open port: it tells the device which line events to watch, waits for
// them, and hands each batch to the port's handling operations in one of three ways (the port's
// SyncMethod): on the main thread, the next batch waiting for it (smThreadSync), as messages to the
// port's hidden window (smWindowSync), or directly on this thread (smNone). It never reads or
// writes data.

#include "comport/ComTypes.h"
#include "comport/PortLife.h"
#include "comport/driver/ComDriver.h"
#include "framework/MessageWindow.h"
#include "framework/QueuedCall.h"
#include "framework/Thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace comport {

class TCustomComPort;

// The window message that carries one line event to the port's hidden window; wParam is the
// event's mask bit, lParam 0.
inline constexpr std::uint32_t portEventMessage = fw::wmUser + 1;

// The device's event mask for a set of events, and back; mask bits without a member are dropped.
std::uint32_t eventsToMask(TComEvents events);
TComEvents maskToEvents(std::uint32_t mask);

class TComThread : public fw::TThread {
public:
    // Sets the device's event mask from the port's Events and the thread's priority from the
    // port's; create it with fw::TThread::create<TComThread>(port), which starts the body once
    // this has returned. EThread when the priority is refused.
    explicit TComThread(TCustomComPort& port);
    // Asks the thread to end and waits for it, serving the hand-overs it may be inside of.
    ~TComThread() override;

    std::string className() const override { return "TComThread"; }

    // Waits until the body has made what it waits with; 0, or the error code that keeps it from
    // ever waiting (the thread has ended then).
    std::uint32_t waitUntilReady();
    // The thread waits for line events from its start, but hands none over before this is
    // called (by openPort, once it has finished).
    void beginDelivery();

    // Asks the thread to end; returns at once.
    void signalStop();

    // Whether the calling thread is running this thread's handlers right now (a handler of the
    // port is on its stack).
    bool deliveringHere() const;

    // For a close on a thread that does not serve the main thread's queue (smThreadSync): the
    // hand-overs the main thread has not begun to run are dropped, rather than waited for.
    void dropUnservedHandOvers();

    // For a port closed (or destroyed) by one of its own handlers: the thread cannot be waited
    // for there, since it waits for that very handler (smThreadSync) or is the caller (smNone).
    // It is let go instead: the rest of its hand-over is skipped, it touches neither the port
    // nor the device again, and it frees itself when it ends.
    static void abandon(fw::TThread::Ptr<TComThread> thread);

protected:
    void execute() override;
    void terminatedSet() override { signalStop(); }

private:
    // Bytes have come: marks when, before the hand-over to the handler.
    void noteArrival();
    void deliverEvents();
    // Waits for the smThreadSync hand-over that the main thread may still be running.
    void finishHandOver();
    // smThreadSync: waits a few microseconds, without sleeping, for the hand-over just started.
    void spinWhileHandedOver();
    void runEventHandlers();
    void sendEventMessages();
    // Ends a wait request that the device may still hold, before its record goes away.
    void releaseWaitRequest();
    // Runs call(handle) while the device this thread was made for is open; false, without
    // calling, once the port has closed it (a handler's close lets this thread go before it
    // closes the device, whose number may then name another device).
    template <typename Call> bool withDevice(Call&& call);

    TCustomComPort& ownerPort;
    // Tells whether a handler has destroyed the port (while its owner's close waited for this
    // thread, so that it was not let go).
    const std::shared_ptr<PortLife> portLife_;
    // The device layer, held so that it outlives the thread whatever happens to the port.
    std::shared_ptr<driver::ComDriver> device_;
    const driver::Handle handle_;
    const std::uint64_t generation_; // of the device behind the port's gate
    // Fixed while the port is open; kept here, since the port may go before this thread.
    const TSyncMethod syncMethod_;
    const fw::TWindowHandle window_;
    driver::EventHandle stopEvent = 0;
    driver::EventHandle goEvent_ = 0;    // set by beginDelivery()
    driver::EventHandle readyEvent_ = 0; // set by the body once it can wait, or cannot
    std::atomic<std::uint32_t> readyCode_{0};
    TComEvents currentEvents;
    driver::Overlapped waitRequest_;
    std::uint32_t waitMask_ = 0;
    std::uint32_t watched_ = 0; // the device's event mask
    // smThreadSync: the batch handed to the main thread. The thread does not wait for it there
    // and then but goes back to waiting for the device, and waits for the hand-over only once it
    // has the next batch (or is to end): the main thread need not wake it when it is done.
    fw::TQueuedCall handOver_;
    int spinSkip_ = 0, spinBackoff_ = 0; // hand-overs left without a spin, and the next such run
    std::atomic<bool> abandoned_{false};
    std::atomic<bool> dropHandOvers_{false};
    std::atomic<std::thread::id> handlersOn_{};
};

} // namespace comport
