// Starting and stopping line-event delivery for an open port, and the hidden window that
// delivers events on the opening thread (smWindowSync).

#include "comport/ComThread.h"
#include "comport/CustomComPort.h"
#include "framework/ErrorDisplay.h"
#include "framework/MainThread.h"
#include "framework/MessageWindow.h"
#include "framework/ThreadError.h"

#include <thread>

namespace comport {

void TCustomComPort::startEventDelivery() {
    // Nothing to watch, or (with OnException taking the open failure) no device to watch.
    if (events_.empty() || portHandle() == driver::invalidHandleValue) return;
    try {
        if (syncMethod_ == smWindowSync)
            notifyWindow_ =
                std::make_unique<fw::TMessageWindow>([this, life = life_](fw::TMessage& message) {
                    // The port's destructor, on another thread, waits for the handlers running
                    // here; once it has gone, a message still on its way finds nothing.
                    const PortCall call(life);
                    if (!call.entered()) {
                        if (fw::inSendMessage()) fw::replyMessage(0);
                        return;
                    }
                    ++life->windowHandlers;
                    handleNotifyMessage(message);
                    --life->windowHandlers;
                });
        eventThread_ = fw::TThread::create<TComThread>(*this);
        if (const std::uint32_t code = eventThread_->waitUntilReady())
            throw fw::EThread("The port's event thread cannot wait for line events: " +
                              driver_->systemErrorMessage(code) + " (" + std::to_string(code) +
                              "). Close other programs or ports, then open the port again.");
    } catch (...) {
        eventThread_.reset();
        notifyWindow_.reset();
        throw;
    }
}

void TCustomComPort::beginEventDelivery() {
    // A handler of OnAfterOpen may have closed the port (no thread then) or reopened it (its
    // own openPort has begun the new thread's delivery already).
    if (eventThread_) eventThread_->beginDelivery();
}

void TCustomComPort::stopEventDelivery() {
    // Both leave the port first: a handler run below may close or even destroy it.
    fw::TThread::Ptr<TComThread> thread = std::move(eventThread_);
    std::unique_ptr<fw::TMessageWindow> window = std::move(notifyWindow_);
    // The window's thread closing the port serves, while it waits for the event thread, what the
    // thread has sent or still sends before it sees the stop: events announced before the close
    // are handled, as the other methods hand them over. Not so on another thread, which cannot run
    // them, nor from one of the window's own handlers (the rest of its batch would be handled by a
    // port closing under it, or destroyed, from inside its own delete): the window goes first, and
    // the events it has not taken are dropped, their sender released.
    if (window &&
        (window->ownerThread() != std::this_thread::get_id() || life_->windowHandlers.load() > 0))
        window.reset();
    const std::shared_ptr<PortLife> life = life_;
    life->windowServesClose = window != nullptr;
    if (thread) {
        if (thread->deliveringHere()) {
            TComThread::abandon(std::move(thread)); // closed by one of its own handlers
        } else {
            // Only the main thread runs what is handed to it; a close on another thread cannot
            // wait for that, as the main thread may be waiting for the close.
            if (!fw::isMainThread()) thread->dropUnservedHandOvers();
            thread.reset(); // waits, serving the hand-over it may be inside of
        }
    }
    life->windowServesClose = false;
}

std::uintptr_t TCustomComPort::notifyWindowHandle() const {
    return notifyWindow_ ? notifyWindow_->handle() : 0;
}

void TCustomComPort::handleNotifyMessage(fw::TMessage& message) {
    if (message.msg != portEventMessage) {
        message.result =
            fw::defWindowProc(notifyWindowHandle(), message.msg, message.wParam, message.lParam);
        return;
    }
    // The event thread is released before the event is handled, so it can wait again; not while
    // the port closes, when it would only end and clear the input the event announces.
    message.result = 0;
    if (fw::inSendMessage() && !life_->windowServesClose) fw::replyMessage(0);
    if (!connected_ || !deliveringEvents()) return;
    runShowingFailure([&] { handleLineEvent(message.wParam); });
}

void TCustomComPort::runShowingFailure(const std::function<void()>& step) noexcept {
    try {
        step();
    } catch (const std::exception& error) {
        fw::showException(error);
    } catch (...) {
        fw::showException(fw::Exception(
            "A serial port event handler failed with an unknown error; the port goes on "
            "delivering events."));
    }
}

} // namespace comport
