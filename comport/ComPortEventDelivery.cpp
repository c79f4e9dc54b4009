// Starting and stopping line-event delivery for an open port, and the hidden window that
// delivers events on the opening thread (smWindowSync).

#include "comport/ComThread.h"
#include "comport/CustomComPort.h"
#include "framework/ErrorDisplay.h"
#include "framework/MessageWindow.h"
#include "framework/ThreadError.h"

namespace comport {

void TCustomComPort::startEventDelivery() {
    // Nothing to watch, or (with OnException taking the open failure) no device to watch.
    if (events_.empty() || portHandle() == driver::invalidHandleValue) return;
    try {
        if (syncMethod_ == smWindowSync)
            notifyWindow_ = std::make_unique<fw::TMessageWindow>(
                [this](fw::TMessage& message) { handleNotifyMessage(message); });
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
    // The hidden window goes before the thread is waited for, not after: the wait serves what is
    // sent to this thread's windows, and the line events the thread has still to send, or has
    // queued, would be handled by a port that is closing; by one being destroyed, too, when a
    // handler destroys it, whose handler would be called again from inside its own delete. Gone
    // with the window, they are dropped and their sender released, as after the close.
    notifyWindow_.reset();
    if (!eventThread_) return;
    if (eventThread_->deliveringHere())
        TComThread::abandon(std::move(eventThread_)); // closed by one of its own handlers
    else
        eventThread_.reset(); // waits, serving the hand-over it may be inside of
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
    // The event thread is released before the event is handled, so it can wait again.
    message.result = 0;
    if (fw::inSendMessage()) fw::replyMessage(0);
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
