// A device's line: its error flags, queue counts, modem lines and escape functions, and the
// line events that the event waits report.

#ifndef _WIN32

#include "comport/driver/posix/PosixDevice.h"

#include "comport/driver/ComDriverBase.h"
#include "comport/driver/posix/OutputSettle.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace comport::driver::posix {

namespace {

bool noModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Events that the modem-line wait reports.
constexpr std::uint32_t modemEvents =
    commEvent::cts | commEvent::dsr | commEvent::rlsd | commEvent::ring;

// How long one character takes on the line, for planning when the output should have gone.
std::chrono::microseconds characterTime(const Dcb& dcb) {
    const std::uint32_t rate = dcb.BaudRate ? dcb.BaudRate : 9600;
    const std::uint32_t bits = 1 + dcb.ByteSize + (dcb.Parity != parity::none ? 1 : 0) +
                               (dcb.StopBits == stopBits::one ? 1 : 2);
    return std::chrono::microseconds(std::uint64_t{bits} * 1000000 / rate + 1);
}

} // namespace

// --- line state ----------------------------------------------------------------------------

std::uint32_t PosixDevice::clearErrors(std::uint32_t* errors, ComStat* status) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    // The kernel's count includes what the input filter takes out (marks, doubled \377,
    // discarded nulls): those bytes are filtered first, so that the count is what a read hands
    // out.
    // Right after a pump that read the kernel dry (the event side's wake-up that the caller is
    // handling), the queue is the count: what arrived since is announced by the next event.
    const bool counted = status && pumpingLocked() && std::exchange(kernelDrained_, false);
    if (!counted && filter_.active() && !hungUp_) pumpLocked();
    int in = 0, out = 0;
    if (!counted && !filter_.active() && ::ioctl(fd_, FIONREAD, &in) < 0)
        return static_cast<std::uint32_t>(errno);
    // Only this program writes to the line: nothing written since the queue was seen empty
    // means it still is.
    if (!outputSeenEmpty_) {
        out = outputQueuedLocked();
        outputSeenEmpty_ = out <= 0;
    }

    std::uint32_t flags = 0;
    if (hasCounters_) {
        serial_icounter_struct ic{};
        if (::ioctl(fd_, TIOCGICOUNT, &ic) == 0) {
            if (ic.frame != counters_.frame) flags |= commError::frame;
            if (ic.parity != counters_.parity) flags |= commError::rxParity;
            if (ic.overrun != counters_.overrun) flags |= commError::overrun;
            if (ic.brk != counters_.brk) flags |= commError::brk;
            if (ic.buf_overrun != counters_.bufOverrun) flags |= commError::rxOver;
            counters_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
        } else {
            hasCounters_ = false; // pseudo-terminals and some adapters keep no counters
        }
    }
    if (!hasCounters_ && filter_.takeReplaced() > 0) flags |= commError::rxParity;
    if (errors) *errors = flags;
    if (status) {
        *status = ComStat{};
        auto waiting = static_cast<std::uint32_t>(queuedLocked() + static_cast<std::size_t>(in));
        // The queue the program sees holds at most the size it asked for; the rest waits in the
        // kernel behind it.
        if (inQueue_ > 0) waiting = std::min(waiting, inQueue_);
        status->cbInQue = waiting;
        status->cbOutQue = static_cast<std::uint32_t>(out);
    }
    return 0;
}

std::uint32_t PosixDevice::modemStatus(std::uint32_t* status) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) < 0) {
        if (!noModemLines(errno)) return static_cast<std::uint32_t>(errno);
        lines = 0; // no modem lines: all read off
    }
    std::uint32_t s = 0;
    if (lines & TIOCM_CTS) s |= modemStatus::ctsOn;
    if (lines & TIOCM_DSR) s |= modemStatus::dsrOn;
    if (lines & TIOCM_RNG) s |= modemStatus::ringOn;
    if (lines & TIOCM_CAR) s |= modemStatus::rlsdOn;
    if (status) *status = s;
    return 0;
}

std::uint32_t PosixDevice::escape(std::uint32_t function) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    auto line = [&](int bit, bool on) -> std::uint32_t {
        if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 || noModemLines(errno)) return 0;
        return static_cast<std::uint32_t>(errno);
    };
    const bool rtsByDriver =
        dcb_.fRtsControl == rtsControl::handshake || dcb_.fRtsControl == rtsControl::toggle;
    switch (function) {
    case escape::setDtr:
        return line(TIOCM_DTR, true);
    case escape::clrDtr:
        return line(TIOCM_DTR, false);
    case escape::setRts:
        return rtsByDriver ? EINVAL : line(TIOCM_RTS, true);
    case escape::clrRts:
        return rtsByDriver ? EINVAL : line(TIOCM_RTS, false);
    case escape::setBreak:
        return ::ioctl(fd_, TIOCSBRK) < 0 ? static_cast<std::uint32_t>(errno) : 0;
    case escape::clrBreak:
        return ::ioctl(fd_, TIOCCBRK) < 0 ? static_cast<std::uint32_t>(errno) : 0;
    case escape::setXoff:
        return static_cast<std::uint32_t>(suspendOutput(fd_, true));
    case escape::setXon:
        return static_cast<std::uint32_t>(suspendOutput(fd_, false));
    default:
        return EINVAL;
    }
}
// --- line events ---------------------------------------------------------------------------

std::uint32_t PosixDevice::setMask(std::uint32_t mask) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    eventMask_ = mask;
    history_ = 0;
    held_ = 0;
    // A waiting request ends with no events, as the platform's does when the mask changes.
    completeWaitLocked(0, 0);
    if (!(mask & commEvent::txEmpty)) {
        outputPending_ = false;
        txCheckAt_.reset();
    }
    if (mask == 0) return 0;
    if (hasCounters_) {
        // Changes counted before the mask was set are not reported.
        serial_icounter_struct ic{};
        if (::ioctl(fd_, TIOCGICOUNT, &ic) == 0)
            eventCounters_ = {ic.cts,   ic.dsr,     ic.rng,    ic.dcd,
                              ic.frame, ic.overrun, ic.parity, ic.brk};
        if ((mask & modemEvents) && !modemWaitTried_ && !hungUp_) {
            modemWaitTried_ = true;
            modemWait_ = std::make_unique<PosixModemWait>(fd_, [this](int e) { modemWoke(e); });
        }
    }
    return 0;
}

std::uint32_t PosixDevice::getMask(std::uint32_t* mask) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    if (mask) *mask = eventMask_;
    return 0;
}

std::uint32_t PosixDevice::waitEvent(std::uint32_t* mask, Overlapped* req) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    if (!mask || !req || eventMask_ == 0 || eventWait_) return EINVAL;
    const auto now = Clock::now();
    if (history_ != 0) {
        checkOutputLocked(now); // output written while nobody waited goes with what is due
        *mask = std::exchange(history_, 0) | std::exchange(held_, 0);
        completeRequest(req, 0, 0);
        return 0;
    }
    // A line that has gone produces no more events; the wait fails instead of never ending.
    if (hungUp_) return EIO;
    *mask = 0;
    startRequest(req);
    eventWait_ = req;
    eventOut_ = mask;
    // Output written while nobody waited (a handler's answer) is looked at now, while the far
    // end takes the answer in, rather than on the way to the next hand-over. "Output empty" is
    // then held for this wait's waiter to hand over with whatever wakes it next, or one
    // character's time from now: it shares a hand-over instead of costing one of its own.
    holdEvents_ = true;
    checkOutputLocked(now, true);
    holdEvents_ = false;
    held_ |= std::exchange(history_, 0);
    if (held_ != 0) {
        const auto at = now + characterTime(dcb_);
        if (!txCheckAt_ || at < *txCheckAt_) txCheckAt_ = at;
    }
    // Nothing watches the input until a thread waits for this request (PosixEventWait.h); bytes
    // that arrive meanwhile stay in the kernel and wake that wait at once.
    return errorIoPending;
}

bool PosixDevice::waitsOn(EventHandle event) {
    std::lock_guard g(lock_);
    return eventWait_ && eventWait_->hEvent == event;
}

void PosixDevice::attachInputWaiter(Event::Sleeper* waiter) {
    std::lock_guard g(lock_);
    if (!inputWaiter_) inputWaiter_ = waiter;
}

void PosixDevice::detachInputWaiter(Event::Sleeper* waiter) {
    std::lock_guard g(lock_);
    if (inputWaiter_ == waiter) inputWaiter_ = nullptr;
}

bool PosixDevice::inputWatch(short& events, Event::Deadline& lookAt) {
    std::lock_guard g(lock_);
    if (closed_ || !pumpingLocked()) return false;
    events = queuedLocked() < queueCapacityLocked() ? POLLIN : 0;
    lookAt = txCheckAt_;
    return true;
}

void PosixDevice::serveInput(short revents) {
    std::lock_guard g(lock_);
    if (closed_) return;
    holdEvents_ = true;
    if (pumpingLocked() && (revents & (POLLIN | POLLHUP | POLLERR))) pumpLocked();
    // The line is gone even when a full queue kept the pump from reading the end of it.
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) hangUpLocked();
    const auto now = Clock::now();
    if (txCheckAt_ && now >= *txCheckAt_) txCheckAt_.reset();
    checkOutputLocked(now, true);
    holdEvents_ = false;
    raiseLocked(std::exchange(held_, 0));
    // The I/O thread may have been woken for the same bytes and found them gone already.
    if (!reads_.empty()) wakeWorker();
}

void PosixDevice::kickInputWaiterLocked() {
    if (inputWaiter_) inputWaiter_->wake();
}

void PosixDevice::raiseLocked(std::uint32_t events) {
    history_ |= events & eventMask_;
    if (history_ != 0 && eventWait_ && !holdEvents_) {
        completeWaitLocked(history_ | std::exchange(held_, 0), 0);
        history_ = 0;
    }
}

void PosixDevice::completeWaitLocked(std::uint32_t events, std::uint32_t status) {
    if (!eventWait_) return;
    if (eventOut_) *eventOut_ = events;
    completeRequest(eventWait_, status, 0);
    eventWait_ = nullptr;
    eventOut_ = nullptr;
}

void PosixDevice::checkCountersLocked() {
    serial_icounter_struct ic{};
    if (::ioctl(fd_, TIOCGICOUNT, &ic) < 0) return;
    const LineCounters now{ic.cts, ic.dsr, ic.rng, ic.dcd, ic.frame, ic.overrun, ic.parity, ic.brk};
    const LineCounters& was = eventCounters_;
    std::uint32_t events = 0;
    if (now.cts != was.cts) events |= commEvent::cts;
    if (now.dsr != was.dsr) events |= commEvent::dsr;
    if (now.dcd != was.dcd) events |= commEvent::rlsd;
    if (now.rng != was.rng) events |= commEvent::ring;
    if (now.frame != was.frame || now.overrun != was.overrun || now.parity != was.parity)
        events |= commEvent::err;
    if (now.brk != was.brk) events |= commEvent::brk;
    eventCounters_ = now;
    raiseLocked(events);
}

void PosixDevice::checkOutputLocked(Clock::time_point now, bool waiterComing) {
    if (!outputPending_ || !writes_.empty() || closed_) return;
    const int queued = outputQueuedLocked();
    if (queued <= 0) {
        outputSeenEmpty_ = true;
        outputPending_ = false;
        txCheckAt_.reset();
        txBackoff_ = {};
        raiseLocked(commEvent::txEmpty);
        return;
    }
    // Look again when the bytes should be on the line; when nothing moved since the last look
    // (flow control holds the output), look less and less often.
    const Clock::duration expected = characterTime(dcb_) * queued;
    if (queued == txLastQueued_)
        txBackoff_ = std::min<Clock::duration>(std::max(txBackoff_ * 2, expected),
                                               std::chrono::milliseconds(500));
    else
        txBackoff_ = expected;
    txLastQueued_ = queued;
    txCheckAt_ = now + std::max<Clock::duration>(txBackoff_, std::chrono::milliseconds(1));
    // The waiter of the event wait looks then, in its own sleep; the I/O thread when none waits.
    if (waiterComing) return;
    if (inputWaiter_) {
        kickInputWaiterLocked();
        return;
    }
    // Without the I/O thread the next event wait looks instead (waitEvent).
    if (ensureWorkerLocked() == 0) wakeWorker();
}

int PosixDevice::outputQueuedLocked() const {
    int queued = 0;
    if (noOutputQueue_ || ::ioctl(fd_, TIOCOUTQ, &queued) < 0) return 0;
    return queued;
}

void PosixDevice::handOver(bool begins) {
    std::lock_guard g(lock_);
    handingOver_ = begins;
    // What the handlers wrote and no takeEvents() reported is looked at as after any write.
    if (!begins && !closed_ && eventWait_ && !txCheckAt_) checkOutputLocked(Clock::now());
}

std::uint32_t PosixDevice::takeEvents(std::uint32_t mask) {
    std::lock_guard g(lock_);
    if (closed_) return 0;
    mask &= eventMask_;
    std::uint32_t due = (history_ | held_) & mask;
    history_ &= ~mask;
    held_ &= ~mask;
    if ((mask & commEvent::txEmpty) && outputPending_ && writes_.empty() &&
        outputQueuedLocked() <= 0) {
        outputSeenEmpty_ = true;
        outputPending_ = false;
        txCheckAt_.reset();
        txBackoff_ = {};
        due |= commEvent::txEmpty;
    }
    return due;
}

void PosixDevice::hangUpLocked() {
    if (hungUp_) return;
    hungUp_ = true;
    outputPending_ = false;
    txCheckAt_.reset();
    // The waiting request fails quietly; the next read or write reports what happened.
    completeWaitLocked(0, EIO);
}

void PosixDevice::modemWoke(int error) {
    std::lock_guard g(lock_);
    if (closed_) return;
    if (error == 0)
        checkCountersLocked();
    else if (error != ENOTTY && error != EINVAL)
        hangUpLocked();
    // ENOTTY, EINVAL: the driver has no modem-line wait; those events never come.
}

} // namespace comport::driver::posix

#endif
