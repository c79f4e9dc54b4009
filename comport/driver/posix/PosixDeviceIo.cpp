// The request queue of a device and its I/O thread: overlapped reads and writes, their
// time-outs, cancelling and purging.

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

std::uint64_t millis(std::uint32_t perByte, std::uint32_t count, std::uint32_t constant) {
    return std::uint64_t{perByte} * count + constant;
}

// The input queue's size when the program has not asked for one, and the largest one asked for
// that is taken: a bigger one is a mistake (a negative size seen unsigned is 2 GiB and more).
constexpr std::size_t defaultInputQueue = 4096;

} // namespace

// --- reading and writing -------------------------------------------------------------------

std::uint32_t PosixDevice::readNow(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got) {
    got = 0;
    std::uint32_t error = 0;
    const bool wasFull = queuedLocked() >= queueCapacityLocked();
    while (got < count) {
        if (queuedLocked() == 0) {
            error = pumpLocked();
            if (queuedLocked() == 0) break;
        }
        const std::size_t n = std::min<std::size_t>(count - got, queuedLocked());
        std::memcpy(buffer + got, inQueueBytes_.data() + inHead_, n);
        inHead_ += n;
        got += static_cast<std::uint32_t>(n);
        if (inHead_ == inQueueBytes_.size()) {
            inQueueBytes_.clear();
            inHead_ = 0;
        }
    }
    if (got == 0) return error ? error : EAGAIN;
    if (above80_ && queuedLocked() * 5 < queueCapacityLocked() * 4) above80_ = false;
    // A full queue had stopped the input waiter from taking more from the kernel.
    if (wasFull) kickInputWaiterLocked();
    return 0;
}

std::size_t PosixDevice::queueCapacityLocked() const {
    return inQueue_ > 0 ? inQueue_ : defaultInputQueue;
}

std::uint32_t PosixDevice::pumpLocked() {
    if (inHead_ > 0) {
        inQueueBytes_.erase(inQueueBytes_.begin(),
                            inQueueBytes_.begin() + static_cast<std::ptrdiff_t>(inHead_));
        inHead_ = 0;
    }
    const std::size_t capacity = queueCapacityLocked();
    const std::size_t before = inQueueBytes_.size();
    const std::uint32_t replacedBefore = filter_.replacedSoFar();
    std::uint32_t error = 0;
    bool eventChar = false;
    while (inQueueBytes_.size() < capacity) {
        std::uint8_t raw[1024];
        // The filter only ever shortens, so `want` raw bytes always fit.
        const std::size_t want = std::min(sizeof raw, capacity - inQueueBytes_.size());
        const ssize_t n = ::read(fd_, raw, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (errno != EAGAIN) error = static_cast<std::uint32_t>(errno);
            kernelDrained_ = error == 0;
            break;
        }
        if (n == 0) { // a terminal reads 0 bytes only once it has hung up
            error = EIO;
            break;
        }
        const std::size_t at = inQueueBytes_.size();
        inQueueBytes_.resize(at + static_cast<std::size_t>(n));
        std::size_t produced = static_cast<std::size_t>(n);
        if (filter_.active())
            produced = filter_.decode(raw, produced, inQueueBytes_.data() + at);
        else
            std::memcpy(inQueueBytes_.data() + at, raw, produced);
        inQueueBytes_.resize(at + produced);
        if ((eventMask_ & commEvent::rxFlag) &&
            std::memchr(inQueueBytes_.data() + at, static_cast<unsigned char>(dcb_.EvtChar),
                        produced))
            eventChar = true;
        if (static_cast<std::size_t>(n) < want) {
            kernelDrained_ = true;
            break;
        }
    }
    const std::size_t after = inQueueBytes_.size();
    std::uint32_t events = 0;
    if (after > before) {
        events |= commEvent::rxChar;
        if (eventChar) events |= commEvent::rxFlag;
        if (!above80_ && after * 5 >= capacity * 4) {
            above80_ = true;
            events |= commEvent::rx80Full;
        }
        // Line errors and breaks arrive with (or instead of) a byte; the counters say which.
        if (hasCounters_) checkCountersLocked();
    }
    if (!hasCounters_ && filter_.replacedSoFar() != replacedBefore) events |= commEvent::err;
    raiseLocked(events);
    if (error != 0) hangUpLocked();
    return error;
}

bool PosixDevice::immediateReadMode() const {
    return timeouts_.ReadIntervalTimeout == maxDword && timeouts_.ReadTotalTimeoutMultiplier == 0 &&
           timeouts_.ReadTotalTimeoutConstant == 0;
}

void PosixDevice::activateRead(Request& r, Clock::time_point now) {
    r.active = true;
    r.lastByte = now;
    const CommTimeouts& t = timeouts_;
    if (t.ReadIntervalTimeout == maxDword && t.ReadTotalTimeoutMultiplier == maxDword &&
        t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < maxDword) {
        r.firstByteEnds = true;
        r.deadline = now + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
        return;
    }
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
        r.deadline = now + std::chrono::milliseconds(millis(t.ReadTotalTimeoutMultiplier, r.count,
                                                            t.ReadTotalTimeoutConstant));
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != maxDword)
        r.interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
}

void PosixDevice::activateWrite(Request& r, Clock::time_point now) {
    r.active = true;
    const CommTimeouts& t = timeouts_;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0)
        r.deadline = now + std::chrono::milliseconds(millis(t.WriteTotalTimeoutMultiplier, r.count,
                                                            t.WriteTotalTimeoutConstant));
}

std::uint32_t PosixDevice::read(void* buffer, std::uint32_t count, std::uint32_t* moved,
                                Overlapped* req) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    auto* in = static_cast<std::uint8_t*>(buffer);
    std::uint32_t got = 0;
    if (reads_.empty()) {
        if (count == 0) {
            completeRequest(req, 0, 0);
            return 0;
        }
        // A read that may have to wait needs the I/O thread; one that cannot have it fails
        // before it takes anything from the queue.
        if (!immediateReadMode())
            if (const std::uint32_t e = ensureWorkerLocked()) return e;
        const std::uint32_t e = readNow(in, count, got);
        if (e != 0 && e != EAGAIN) return e;
        Request r(req, in, nullptr, count, got);
        activateRead(r, Clock::now());
        const bool ended = got == count || immediateReadMode() || (r.firstByteEnds && got > 0);
        if (ended) {
            completeRequest(req, 0, got);
            if (moved) *moved = got;
            return 0;
        }
        startRequest(req);
        return enqueueLocked(reads_, r);
    }
    startRequest(req);
    return enqueueLocked(reads_, Request(req, in, nullptr, count, 0));
}

std::uint32_t PosixDevice::write(const void* bytes, std::uint32_t count, std::uint32_t* moved,
                                 Overlapped* req) {
    // Writers take their turn here, so the device's state is free while the bytes go to the
    // kernel: the event thread (waiting for the next reply while a handler writes) need not
    // wait for every byte of an answer written one byte at a time.
    std::lock_guard turn(writeTurn_);
    std::unique_lock g(lock_);
    if (closed_) return EBADF;
    auto* out = static_cast<const std::uint8_t*>(bytes);
    if (writes_.empty()) {
        std::uint32_t done = 0;
        if (count > 0) {
            // Nothing else can write meanwhile: queued writes wait for the I/O thread, which
            // starts none while its queue is empty, and new ones for their turn.
            g.unlock();
            const ssize_t n = ::write(fd_, out, count);
            const int error = errno;
            g.lock();
            if (n < 0 && error != EAGAIN) return static_cast<std::uint32_t>(error);
            if (n > 0) {
                done = static_cast<std::uint32_t>(n);
                outputSeenEmpty_ = false;
                if (eventMask_ & commEvent::txEmpty) outputPending_ = true;
            }
        }
        if (done == count) {
            completeRequest(req, 0, done);
            if (moved) *moved = done;
            // "Output empty" is looked for at once only when a wait is pending, no look is
            // planned already and no hand-over runs; otherwise the next wait, the planned look
            // or the hand-over sees to it. A program that writes byte by byte is spared a
            // system call per byte.
            if (eventWait_ && !txCheckAt_ && !handingOver_) checkOutputLocked(Clock::now());
            return 0;
        }
        // Closed meanwhile: the rest is dropped, as the close drops queued writes (and nothing
        // may start the I/O thread again).
        if (closed_) return ECANCELED;
        Request r(req, nullptr, out, count, done);
        activateWrite(r, Clock::now());
        startRequest(req);
        return enqueueLocked(writes_, r);
    }
    startRequest(req);
    return enqueueLocked(writes_, Request(req, nullptr, out, count, 0));
}

std::uint32_t PosixDevice::enqueueLocked(std::deque<Request>& queue, Request r) {
    // Nobody would ever end a request queued without the I/O thread: it fails, with what it moved.
    if (const std::uint32_t e = ensureWorkerLocked()) {
        completeRequest(r.ov, e, r.done);
        return e;
    }
    queue.push_back(r);
    wakeWorker();
    return errorIoPending;
}

std::uint32_t PosixDevice::ensureWorkerLocked() {
    if (worker_.joinable()) return 0;
    // The thread sleeps on this descriptor between requests; without it, it could not be woken
    // (nor stopped).
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    try {
        wakeFd_ = fd;
        worker_ = std::thread([this] { workerLoop(); });
    } catch (const std::system_error& e) {
        ::close(fd);
        wakeFd_ = -1;
        return static_cast<std::uint32_t>(e.code().value());
    }
    return 0;
}

void PosixDevice::wakeWorker() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

bool PosixDevice::advanceRead(Request& r, short revents, Clock::time_point now) {
    if (!r.active) activateRead(r, now);
    if (r.done < r.count) {
        std::uint32_t got = 0;
        const std::uint32_t e = readNow(r.in + r.done, r.count - r.done, got);
        if (e != 0 && e != EAGAIN) {
            completeRequest(r.ov, e, r.done);
            return true;
        }
        if (got > 0) {
            r.done += got;
            r.lastByte = now;
        } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
            completeRequest(r.ov, EIO, r.done);
            return true;
        }
    }
    const bool ended = r.done == r.count || (r.firstByteEnds && r.done > 0) ||
                       (r.deadline && now >= *r.deadline) ||
                       (r.interval && r.done > 0 && now - r.lastByte >= *r.interval);
    if (ended) completeRequest(r.ov, 0, r.done);
    return ended;
}

bool PosixDevice::advanceWrite(Request& r, short revents, Clock::time_point now) {
    if (!r.active) activateWrite(r, now);
    if (r.done < r.count) {
        const ssize_t n = ::write(fd_, r.out + r.done, r.count - r.done);
        if (n < 0 && errno != EAGAIN) {
            completeRequest(r.ov, static_cast<std::uint32_t>(errno), r.done);
            return true;
        }
        if (n > 0) {
            r.done += static_cast<std::uint32_t>(n);
            outputSeenEmpty_ = false;
            if (eventMask_ & commEvent::txEmpty) outputPending_ = true;
        } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
            completeRequest(r.ov, EIO, r.done);
            return true;
        }
    }
    // A write that runs out of time ends with what went out; that is not a failure.
    const bool ended = r.done == r.count || (r.deadline && now >= *r.deadline);
    if (ended) completeRequest(r.ov, 0, r.done);
    return ended;
}

void PosixDevice::progressLocked(short revents) {
    const auto now = Clock::now();
    while (!reads_.empty() && advanceRead(reads_.front(), revents, now))
        reads_.pop_front();
    while (!writes_.empty() && advanceWrite(writes_.front(), revents, now))
        writes_.pop_front();
    if (txCheckAt_ && now >= *txCheckAt_) txCheckAt_.reset();
    if (!txCheckAt_) checkOutputLocked(now);
}

void PosixDevice::workerLoop() {
    std::unique_lock g(lock_);
    while (!stopping_) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
        // Input for events is watched by the event wait's own waiter (serveInput); here only
        // for a read that waits. A hang-up shows whatever is asked for.
        if (!reads_.empty()) fds[1].events |= POLLIN;
        if (!writes_.empty()) fds[1].events |= POLLOUT;
        std::optional<Clock::time_point> next;
        auto consider = [&](std::deque<Request>& q) {
            if (q.empty() || !q.front().active) return;
            const Request& r = q.front();
            if (r.deadline && (!next || *r.deadline < *next)) next = r.deadline;
            if (r.interval && r.done > 0) {
                const auto t = r.lastByte + *r.interval;
                if (!next || t < *next) next = t;
            }
        };
        consider(reads_);
        consider(writes_);
        if (txCheckAt_ && (!next || *txCheckAt_ < *next)) next = txCheckAt_;
        int timeout = -1;
        if (next) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
            timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
        }
        const nfds_t count = fds[1].events ? 2 : 1;
        g.unlock();
        const int ready = ::poll(fds, count, timeout);
        g.lock();
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
        }
        if (stopping_) break;
        const short revents = count == 2 ? fds[1].revents : 0;
        if (pumpingLocked() && (revents & (POLLIN | POLLHUP | POLLERR))) pumpLocked();
        // The line is gone even when a full queue kept the pump from reading the end of it.
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) hangUpLocked();
        progressLocked(revents);
    }
}

std::uint32_t PosixDevice::cancel(Overlapped* req) {
    std::lock_guard g(lock_);
    if (req && req == eventWait_) {
        completeWaitLocked(0, ECANCELED);
        return 0;
    }
    for (auto* queue : {&reads_, &writes_}) {
        auto it = std::find_if(queue->begin(), queue->end(),
                               [&](const Request& r) { return r.ov == req; });
        if (it != queue->end()) {
            completeRequest(it->ov, ECANCELED, it->done);
            queue->erase(it);
            wakeWorker();
            return 0;
        }
    }
    return ENOENT;
}

void PosixDevice::abortLocked(bool reads, bool writes) {
    if (reads) {
        for (Request& r : reads_)
            completeRequest(r.ov, ECANCELED, r.done);
        reads_.clear();
    }
    if (writes) {
        for (Request& r : writes_)
            completeRequest(r.ov, ECANCELED, r.done);
        writes_.clear();
    }
}

std::uint32_t PosixDevice::purge(std::uint32_t flags) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    abortLocked(flags & purge::rxAbort, flags & purge::txAbort);
    if (flags & purge::rxClear) {
        filter_.reset();
        inQueueBytes_.clear();
        inHead_ = 0;
        above80_ = false;
        kickInputWaiterLocked();
    }
    if (flags & purge::txClear) {
        outputPending_ = false;
        txCheckAt_.reset();
    }
    if (int e = flushQueues(fd_, flags & purge::rxClear, flags & purge::txClear))
        return static_cast<std::uint32_t>(e);
    if (flags & purge::txClear) outputSeenEmpty_ = true;
    wakeWorker();
    return 0;
}

} // namespace comport::driver::posix

#endif
