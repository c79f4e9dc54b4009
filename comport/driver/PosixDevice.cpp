#ifndef _WIN32

#include "comport/driver/PosixDevice.h"

#include "comport/driver/ComDriverBase.h"
#include "comport/driver/OutputSettle.h"

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

std::uint64_t millis(std::uint32_t perByte, std::uint32_t count, std::uint32_t constant) {
    return std::uint64_t{perByte} * count + constant;
}

// The input queue's size when the program has not asked for one, and the largest one asked for
// that is taken: a bigger one is a mistake (a negative size seen unsigned is 2 GiB and more).
constexpr std::size_t defaultInputQueue = 4096;
constexpr std::uint32_t maxQueue = 16u << 20;

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

std::optional<std::string> resolveDevicePath(const std::string& name) {
    std::string n = name;
    if (n.rfind("\\\\.\\", 0) == 0) n.erase(0, 4);
    if (n.empty()) return std::nullopt;
    if (n.front() == '/') return n;
    if (n.size() > 3 && std::toupper(static_cast<unsigned char>(n[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(n[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(n[2])) == 'M') {
        const std::string digits = n.substr(3);
        if (digits.size() <= 4 && std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            })) {
            const int number = std::stoi(digits);
            if (number < 1) return std::nullopt;
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    if (n == "." || n == "..") return std::nullopt;
    // A relative path (./ttyBoard, dev/ttyUSB0) is taken from the working directory, as any
    // program takes a path; only a bare name is looked up in /dev.
    if (n.find('/') != std::string::npos) return n;
    return "/dev/" + n;
}

// --- opening and closing -------------------------------------------------------------------

std::shared_ptr<PosixDevice> PosixDevice::open(const std::string& path, int& error) {
    // The serial tools' lock file comes first: opening a line can already change its modem lines
    // under the program that holds it.
    PosixLockFile lockFile;
    if (const int e = lockFile.take(path)) {
        error = e;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    auto refuse = [&](int code) {
        ::close(fd);
        error = code;
        return nullptr;
    };
    if (!::isatty(fd)) return refuse(ENOTTY);
    // The lock is what keeps a second user out (TIOCEXCL does not stop root); both are taken
    // before anything about the line is changed.
    if (::flock(fd, LOCK_EX | LOCK_NB) < 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(fd, TIOCEXCL) < 0) return refuse(errno);
    if (int e = makeRaw(fd)) {
        ::ioctl(fd, TIOCNXCL);
        return refuse(e);
    }
    requestLowLatency(fd);
    auto device = std::shared_ptr<PosixDevice>(new PosixDevice(fd));
    device->lockFile_ = std::move(lockFile);
    device->dcb_.BaudRate = 9600;
    device->dcb_.ByteSize = 8;
    device->dcb_.fBinary = true;
    // What the driver counted before this open is not this program's business.
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        device->counters_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    } else {
        device->hasCounters_ = false; // pseudo-terminals and some adapters keep no counters
    }
    return device;
}

PosixDevice::~PosixDevice() {
    close();
}

std::uint32_t PosixDevice::close() {
    std::unique_ptr<PosixModemWait> modemWait;
    {
        std::lock_guard g(lock_);
        if (closed_) return EBADF;
        closed_ = true;
        stopping_ = true;
        abortLocked(true, true);
        completeWaitLocked(0, ECANCELED);
        modemWait = std::move(modemWait_);
    }
    // Without the lock: the waiting thread may be about to take it (and then sees closed_).
    modemWait.reset();
    wakeWorker();
    if (worker_.joinable()) worker_.join();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    settleOutput({[this] {
                      int queued = 0;
                      return ::ioctl(fd_, TIOCOUTQ, &queued) < 0 ? 0 : queued;
                  },
                  [](std::chrono::microseconds pause) { std::this_thread::sleep_for(pause); },
                  [this] { (void)flushQueues(fd_, false, true); }},
                 characterTime(dcb_));
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    const std::uint32_t result = ::close(fd_) < 0 ? static_cast<std::uint32_t>(errno) : 0;
    lockFile_.release();
    return result;
}

// --- settings ------------------------------------------------------------------------------

std::uint32_t PosixDevice::setupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    if (inQueue > maxQueue || outQueue > maxQueue) return EINVAL;
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    kickInputWaiterLocked(); // the queue may have room now
    return 0;
}

std::uint32_t PosixDevice::getState(Dcb& dcb) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    dcb = dcb_;
    return 0;
}

std::uint32_t PosixDevice::setState(const Dcb& dcb) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    if (int e = applyDcb(fd_, dcb, lineMode_)) return static_cast<std::uint32_t>(e);
    dcb_ = dcb;
    filter_.configure(lineMode_.parityMarks, dcb.ErrorChar, dcb.fNull);
    return 0;
}

std::uint32_t PosixDevice::getTimeouts(CommTimeouts& timeouts) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    timeouts = timeouts_;
    return 0;
}

std::uint32_t PosixDevice::setTimeouts(const CommTimeouts& timeouts) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    timeouts_ = timeouts;
    return 0;
}

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
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    auto* out = static_cast<const std::uint8_t*>(bytes);
    if (writes_.empty()) {
        std::uint32_t done = 0;
        if (count > 0) {
            const ssize_t n = ::write(fd_, out, count);
            if (n < 0 && errno != EAGAIN) return static_cast<std::uint32_t>(errno);
            if (n > 0) {
                done = static_cast<std::uint32_t>(n);
                outputSeenEmpty_ = false;
                if (eventMask_ & commEvent::txEmpty) outputPending_ = true;
            }
        }
        if (done == count) {
            completeRequest(req, 0, done);
            if (moved) *moved = done;
            // "Output empty" is looked for at once only when a wait is pending and no look is
            // planned already; otherwise the next wait, or the planned look, sees to it. A
            // program that writes byte by byte is spared a system call per byte.
            if (eventWait_ && !txCheckAt_) checkOutputLocked(Clock::now());
            return 0;
        }
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
        if (::ioctl(fd_, TIOCOUTQ, &out) < 0) out = 0;
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
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) < 0) queued = 0;
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
