#include "comport/ComThread.h"

#include "comport/CustomComPort.h"
#include "framework/ErrorDisplay.h"
#include "framework/MainThread.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

namespace comport {

namespace {

namespace ce = driver::commEvent;

// Each member's mask bit, indexed by the member's ordinal.
constexpr std::uint32_t maskBits[] = {ce::rxChar, ce::txEmpty, ce::rxFlag, ce::ring, ce::brk,
                                      ce::cts,    ce::dsr,     ce::err,    ce::rlsd, ce::rx80Full};
static_assert(std::size(maskBits) == evRx80Full + 1);

// The order in which the members of one wake-up are handed over: errors first, so that the
// error query sees the line's state before the waiting-count query (which also reads the
// error state) can.
constexpr TComEvent deliveryOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                       evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

} // namespace

std::uint32_t eventsToMask(TComEvents events) {
    std::uint32_t mask = 0;
    for (int e = evRxChar; e <= evRx80Full; ++e)
        if (events.contains(static_cast<TComEvent>(e))) mask |= maskBits[e];
    return mask;
}

TComEvents maskToEvents(std::uint32_t mask) {
    TComEvents events;
    for (int e = evRxChar; e <= evRx80Full; ++e)
        if (mask & maskBits[e]) events.include(static_cast<TComEvent>(e));
    return events;
}

TComThread::TComThread(TCustomComPort& port)
    : ownerPort(port), portLife_(port.life_), device_(port.driver_), handle_(port.portHandle()),
      generation_(port.life_->device.generation()), syncMethod_(port.SyncMethod()),
      window_(port.notifyWindowHandle()) {
    stopEvent = device_->createEvent(true, false);
    goEvent_ = device_->createEvent(true, false);
    readyEvent_ = device_->createEvent(true, false);
    try {
        setPriority(port.threadPriority_);
    } catch (...) {
        device_->closeEvent(stopEvent);
        device_->closeEvent(goEvent_);
        device_->closeEvent(readyEvent_);
        throw;
    }
    watched_ = eventsToMask(port.Events());
    device_->setCommMask(handle_, watched_);
}

template <typename Call> bool TComThread::withDevice(Call&& call) {
    const DeviceUse use(portLife_->device, generation_);
    if (!use.reaches()) return false;
    call(use.handle());
    return true;
}

TComThread::~TComThread() {
    signalStop();
    // An abandoned thread frees itself from its body; it has ended by then.
    if (fw::detail::currentThreadId() != threadId()) waitFor();
    // Closed here rather than by the body: the destructor may still set it after the body has
    // returned, and an event closed twice or set after closing is not something to risk.
    device_->closeEvent(stopEvent);
    device_->closeEvent(goEvent_);
    device_->closeEvent(readyEvent_);
}

std::uint32_t TComThread::waitUntilReady() {
    device_->waitForSingleObject(readyEvent_, driver::infinite);
    return readyCode_.load();
}

void TComThread::beginDelivery() {
    device_->setEvent(goEvent_);
}

void TComThread::signalStop() {
    device_->setEvent(stopEvent);
    std::this_thread::yield();
}

bool TComThread::deliveringHere() const {
    return handlersOn_.load() == std::this_thread::get_id();
}

void TComThread::dropUnservedHandOvers() {
    dropHandOvers_.store(true);
    // A hand-over started before the flag was seen is taken back here; one started after it is
    // taken back by the thread itself (deliverEvents).
    handOver_.cancel();
}

void TComThread::abandon(fw::TThread::Ptr<TComThread> thread) {
    TComThread* self = thread.release();
    self->abandoned_.store(true);
    // Its hand-over, under way on this thread, is no longer one that a close waits for.
    std::thread::id here = std::this_thread::get_id();
    self->portLife_->handOverOn.compare_exchange_strong(here, std::thread::id{});
    self->signalStop();
}

void TComThread::execute() {
    waitRequest_ = driver::Overlapped{};
    // Signalled at first, so that it tells "completed" from "still running" like any request.
    waitRequest_.hEvent = device_->createEvent(true, true);
    const driver::EventHandle waitList[2] = {stopEvent, waitRequest_.hEvent};

    // Nothing is handed over before openPort has finished: a handler that closes (or closes and
    // reopens) the port would otherwise run while openPort still works on it.
    const driver::EventHandle startList[2] = {stopEvent, goEvent_};
    // A thread that could not wait would end quietly at its first wait, and the port would stay
    // open without events: openPort learns it here and fails instead.
    readyCode_ = device_->prepareWaits();
    device_->setEvent(readyEvent_);
    const bool delivering = readyCode_.load() == 0 &&
                            device_->waitForMultipleObjects(
                                2, startList, false, driver::infinite) == driver::waitObject0 + 1;

    while (delivering && !abandoned_.load()) {
        // A wait that cannot even start (the device has gone) would complete nothing, so the
        // loop would spin on the old completion: it ends the thread like a failed wait.
        bool waiting = false;
        if (!withDevice([&](driver::Handle h) {
                waiting = device_->waitCommEvent(h, &waitMask_, &waitRequest_) ||
                          device_->getLastError() == driver::errorIoPending;
            }) ||
            !waiting)
            break;
        // The stop event comes first, so a stop wins over a wait that completed with it.
        std::uint32_t woken = device_->waitForMultipleObjects(2, waitList, false, driver::infinite);
        if (handOver_.pending()) {
            // The next batch waits for the one before; a stop that came meanwhile wins over it.
            const bool running = !handOver_.ran();
            handOver_.finish();
            if (running && device_->waitForSingleObject(stopEvent, 0) == driver::waitObject0)
                woken = driver::waitObject0;
        }
        if (abandoned_.load()) break;
        if (woken != driver::waitObject0 + 1) break;
        std::uint32_t unused = 0;
        bool completed = false;
        if (!withDevice([&](driver::Handle h) {
                completed = device_->getOverlappedResult(h, &waitRequest_, &unused, false);
            }))
            break;
        if (completed) {
            if ((waitMask_ & ce::rxChar) && device_->countsOnEventThread()) noteArrival();
            currentEvents = maskToEvents(waitMask_);
            deliverEvents();
        }
        if (abandoned_.load()) break;
    }

    finishHandOver();
    if (abandoned_.load()) {
        // The port has closed its device (and may be gone): only what is ours is left. The
        // close ended a wait request still pending; the record goes once the device is done.
        releaseWaitRequest();
        device_->closeEvent(waitRequest_.hEvent);
        delete this;
        return;
    }
    withDevice([&](driver::Handle h) { device_->setCommMask(h, 0); });
    releaseWaitRequest();
    // The input only: what writeBytes has reported written is the caller's, and must still leave
    // the port while the close drains the output. Clearing the output here as well (before that
    // drain) dropped what the device still held; a caller that wants it gone purges it itself.
    withDevice([&](driver::Handle h) { device_->purgeComm(h, driver::purge::rxClear); });
    device_->closeEvent(waitRequest_.hEvent);
    waitRequest_.hEvent = 0;
}

void TComThread::releaseWaitRequest() {
    // Clearing the mask completes a waiting request; should the device have refused that, the
    // request is cancelled, and the record is not given up while the device may still write it.
    if (device_->waitForSingleObject(waitRequest_.hEvent, 0) == driver::waitObject0) return;
    // A device closed meanwhile has ended the request itself.
    withDevice([&](driver::Handle h) { device_->cancelIoEx(h, &waitRequest_); });
    device_->waitForSingleObject(waitRequest_.hEvent, driver::infinite);
}

void TComThread::noteArrival() {
    // Here rather than in the handler: the hand-over to it may take a while, and the owner asks
    // when the bytes came.
    withDevice([&](driver::Handle h) {
        std::uint32_t errors = 0;
        driver::ComStat status;
        if (!device_->clearCommError(h, &errors, &status)) return; // the handler's query tells
        portLife_->arrivals.seen(generation_, status.cbInQue, device_->monotonicTime());
        portLife_->clearedErrors.fetch_or(errors);
    });
}

void TComThread::deliverEvents() {
    switch (syncMethod_) {
    case smThreadSync:
        // Not for a close that will not wait for the main thread to run it.
        if (dropHandOvers_.load()) break;
        // Each handler's failure is dealt with on the main thread (runEventHandlers), so the
        // hand-over itself never fails.
        handOver_.start([this] { runEventHandlers(); });
        if (dropHandOvers_.load()) handOver_.cancel();
        spinWhileHandedOver();
        break;
    case smWindowSync:
        sendEventMessages();
        break;
    case smNone:
        runEventHandlers();
        break;
    }
}

// The main thread usually runs a hand-over within microseconds. Waiting for it here that long
// keeps this thread from waiting on the device while the handlers have still to read what woke
// it, a wake-up for nothing on every reply (measured: a quarter off the reply round trip). After
// spins that did not pay (a loaded machine, a main thread busy elsewhere) the next ones are left
// out, for longer each time, so it costs little where it does not help.
void TComThread::spinWhileHandedOver() {
    static const bool manyProcessors = std::thread::hardware_concurrency() > 1;
    if (!manyProcessors) return;
    if (spinSkip_ > 0) {
        --spinSkip_;
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    while (!handOver_.ran()) {
        for (int i = 0; i < 32; ++i) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= until) {
            spinBackoff_ = std::min(spinBackoff_ * 2 + 1, 63);
            spinSkip_ = spinBackoff_;
            return;
        }
    }
    spinBackoff_ = 0;
}

void TComThread::finishHandOver() {
    if (handOver_.pending()) handOver_.finish();
}

void TComThread::runEventHandlers() {
    // The port's destructor waits for the handlers under way, and none start once it has gone.
    const PortCall call(portLife_);
    if (!call.entered()) return;
    const std::thread::id here = std::this_thread::get_id();
    handlersOn_.store(here);
    // A close waits for this hand-over, unless a handler has let the thread go already.
    if (!abandoned_.load()) portLife_->handOverOn.store(here);
    // Not on a device that a handler has closed (its handle may name another one by now).
    withDevice([&](driver::Handle h) { device_->beginHandOver(h); });
    for (TComEvent e : deliveryOrder) {
        // A handler that closed the port ends the hand-over.
        if (abandoned_.load() || !portLife_->alive.load() || !ownerPort.deliveringEvents()) break;
        // "Output empty" after what the handlers so far wrote goes out in its place in this
        // hand-over rather than in one of its own.
        if (e == evTxEmpty && !currentEvents.contains(e) && (watched_ & maskBits[e])) {
            std::uint32_t taken = 0;
            withDevice([&](driver::Handle h) { taken = device_->takeEvents(h, maskBits[e]); });
            if (taken) currentEvents.include(e);
        }
        if (!currentEvents.contains(e)) continue;
        // A failing handler is shown and the other events still go out: ending the thread would
        // leave the port open with nothing ever delivered again.
        TCustomComPort::runShowingFailure([&] { ownerPort.handleLineEvent(maskBits[e]); });
    }
    withDevice([&](driver::Handle h) { device_->endHandOver(h); });
    std::thread::id handing = here;
    portLife_->handOverOn.compare_exchange_strong(handing, std::thread::id{});
    handlersOn_.store(std::thread::id{});
}

void TComThread::sendEventMessages() {
    for (TComEvent e : deliveryOrder)
        if (currentEvents.contains(e)) fw::sendMessage(window_, portEventMessage, maskBits[e], 0);
}

} // namespace comport
