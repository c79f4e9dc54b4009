#pragma once

#ifndef _WIN32

// One open terminal device with the platform's overlapped model on top of non-blocking I/O.
// A request that can finish at once finishes in the caller's thread with one system call; one
// that has to wait (the line is busy, the time-outs ask for a wait) is queued for the device's
// I/O thread, started on the first such request and kept until the device closes. Reads and
// writes each keep their order.
//
// Line events: while an event mask is set, what the kernel receives is moved into the device's
// own input queue (so that each arrival is seen once, the event character can be spotted without
// taking bytes from the program, and the queue's fill level is known); reads are served from that
// queue first. The input is watched by the thread that waits for the pending event wait, in its
// own sleep (PosixEventWait.h), so an arrival wakes that thread and no other; reads and writes
// take it in as well. "Output empty" is watched by the I/O thread after each write, the modem
// lines by a PosixModemWait where the driver counts their changes. An event that is in the mask
// is kept until a wait takes it, as the platform's driver does.

#include "comport/driver/ComDriver.h"
#include "comport/driver/Event.h"
#include "comport/driver/posix/InputFilter.h"
#include "comport/driver/posix/PosixLockFile.h"
#include "comport/driver/posix/PosixModemWait.h"
#include "comport/driver/posix/PosixTermios.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace comport::driver::posix {

class PosixDevice {
public:
    // Opens and claims the device (the serial tools' lock file, flock, TIOCEXCL): not a terminal
    // gives ENOTTY, a device held by anyone else EBUSY. Returns nothing and sets `error` on
    // failure.
    static std::shared_ptr<PosixDevice> open(const std::string& path, int& error);
    ~PosixDevice();
    PosixDevice(const PosixDevice&) = delete;
    PosixDevice& operator=(const PosixDevice&) = delete;

    int fd() const { return fd_; }

    // Each returns 0 on success, errorIoPending for a queued request, or an errno value.
    std::uint32_t close();
    std::uint32_t setupComm(std::uint32_t inQueue, std::uint32_t outQueue);
    std::uint32_t getState(Dcb& dcb);
    std::uint32_t setState(const Dcb& dcb);
    std::uint32_t getTimeouts(CommTimeouts& timeouts);
    std::uint32_t setTimeouts(const CommTimeouts& timeouts);
    std::uint32_t read(void* buffer, std::uint32_t count, std::uint32_t* moved, Overlapped* req);
    std::uint32_t write(const void* bytes, std::uint32_t count, std::uint32_t* moved,
                        Overlapped* req);
    std::uint32_t cancel(Overlapped* req);
    std::uint32_t purge(std::uint32_t flags);
    std::uint32_t clearErrors(std::uint32_t* errors, ComStat* status);
    std::uint32_t modemStatus(std::uint32_t* status);
    std::uint32_t escape(std::uint32_t function);
    std::uint32_t setMask(std::uint32_t mask);
    std::uint32_t getMask(std::uint32_t* mask);
    std::uint32_t waitEvent(std::uint32_t* mask, Overlapped* req);
    // ComDriver::beginHandOver and endHandOver, and takeEvents.
    void handOver(bool begins);
    std::uint32_t takeEvents(std::uint32_t mask);

    // --- the event wait, served by the thread that waits for it (PosixEventWait.h) ----------
    // Whether `event` is the completion event of this device's pending event wait.
    bool waitsOn(EventHandle event);
    // Makes `waiter` the one that watches the input for events, until it lets go; the first of
    // several waiters keeps it. Its wake() is called when what to watch for changes.
    void attachInputWaiter(Event::Sleeper* waiter);
    void detachInputWaiter(Event::Sleeper* waiter);
    // What that waiter polls the descriptor for: POLLIN, or 0 (a hang-up only) while the input
    // queue is full; false when there is nothing to watch (closed, no mask, hung up). `lookAt`
    // is when the waiter is to call serveInput() even if the poll reports nothing: the next look
    // at the output queue for "output empty", if one is planned.
    bool inputWatch(short& events, Event::Deadline& lookAt);
    // Takes in what the poll reported (input into the queue, a hang-up; 0 for a planned look)
    // and looks at the output queue if bytes went out since it was last seen empty; what it
    // finds completes the event wait once, together.
    void serveInput(short revents);

private:
    using Clock = std::chrono::steady_clock;

    struct Request {
        Request(Overlapped* request, std::uint8_t* to, const std::uint8_t* from, std::uint32_t n,
                std::uint32_t already)
            : ov(request), in(to), out(from), count(n), done(already) {}

        Overlapped* ov;
        std::uint8_t* in = nullptr;        // read target
        const std::uint8_t* out = nullptr; // write source
        std::uint32_t count = 0;
        std::uint32_t done = 0;
        bool active = false;        // timers running (the request is at the head)
        bool firstByteEnds = false; // a read that ends as soon as anything arrived
        std::optional<Clock::time_point> deadline;
        std::optional<Clock::duration> interval;
        Clock::time_point lastByte{};
    };

    explicit PosixDevice(int fd) : fd_(fd) {}

    // Takes bytes from the input queue, refilling it from the kernel; 0 bytes with EAGAIN when
    // nothing is there, EIO when the device has hung up.
    std::uint32_t readNow(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got);
    // Moves what the kernel has received, through the input filter, into the input queue (up to
    // its size) and raises the input events. Returns 0, or the error that ended reading (EIO
    // once the device has hung up).
    std::uint32_t pumpLocked();
    std::size_t queuedLocked() const { return inQueueBytes_.size() - inHead_; }
    std::size_t queueCapacityLocked() const;
    bool pumpingLocked() const { return eventMask_ != 0 && !hungUp_; }

    // Line events: records those in the mask and completes a waiting request with them.
    void raiseLocked(std::uint32_t events);
    void completeWaitLocked(std::uint32_t events, std::uint32_t status);
    // Compares the driver's counters with the last look and raises what changed.
    void checkCountersLocked();
    // After bytes went out: raises "output empty" once the driver's output queue has drained,
    // or plans another look (txCheckAt_), which the event wait's waiter takes (kicked to see
    // it unless `waiterComing`), or else the I/O thread.
    void checkOutputLocked(Clock::time_point now, bool waiterComing = false);
    void hangUpLocked();
    // The bytes in the driver's output queue (TIOCOUTQ); 0 where there is no such queue.
    int outputQueuedLocked() const;
    // Tells the input waiter to poll again, what to watch for having changed.
    void kickInputWaiterLocked();
    void modemWoke(int error);
    // Starts the I/O thread if it is not running; 0, or why it cannot run (no descriptor, no
    // thread to be had).
    std::uint32_t ensureWorkerLocked();
    bool immediateReadMode() const;
    void activateRead(Request& r, Clock::time_point now);
    void activateWrite(Request& r, Clock::time_point now);
    // Moves the head request on; true when it has ended.
    bool advanceRead(Request& r, short revents, Clock::time_point now);
    bool advanceWrite(Request& r, short revents, Clock::time_point now);
    void progressLocked(short revents);
    void abortLocked(bool reads, bool writes);
    // Queues a request for the I/O thread: errorIoPending, or the error that ended it at once.
    std::uint32_t enqueueLocked(std::deque<Request>& queue, Request r);
    void workerLoop();
    void wakeWorker();

    const int fd_;
    PosixLockFile lockFile_;
    // Held by a write from start to end, and by close() while it closes fd_: a write's system
    // call runs without lock_.
    std::mutex writeTurn_;
    std::mutex lock_; // guards everything below and serialises the other system calls on fd_
    bool closed_ = false;
    bool stopping_ = false;
    Dcb dcb_;
    CommTimeouts timeouts_;
    std::uint32_t inQueue_ = 0;
    std::uint32_t outQueue_ = 0;
    LineMode lineMode_;
    InputFilter filter_;
    bool hasCounters_ = true;
    // A pseudo-terminal hands what is written straight to its other end: no output queue.
    bool noOutputQueue_ = false;
    struct Counters {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    } counters_;

    // The input queue: bytes [inHead_, end) of inQueueBytes_, oldest first.
    std::vector<std::uint8_t> inQueueBytes_;
    std::size_t inHead_ = 0;

    // Line events.
    std::uint32_t eventMask_ = 0;
    std::uint32_t history_ = 0;         // events in the mask that no wait has taken yet
    Overlapped* eventWait_ = nullptr;   // the waiting request, if any
    std::uint32_t* eventOut_ = nullptr; // where it wants the events
    bool hungUp_ = false;               // the line is gone: nothing more to watch
    bool above80_ = false;              // the queue was at 80 % or more at the last look
    bool outputPending_ = false;        // bytes went out since the last "output empty"
    bool outputSeenEmpty_ = true; // the output queue was empty at the last look, no write since
    bool kernelDrained_ = false;  // the last pump read the kernel dry; nobody counted since
    bool holdEvents_ = false;     // events raised now complete the wait at the end, together
    bool handingOver_ = false;    // a wake-up's events are being handled (handOver)
    std::uint32_t held_ = 0;      // seen, kept for the waiter's next wake-up, to share it
    std::optional<Clock::time_point> txCheckAt_;
    Clock::duration txBackoff_{};
    int txLastQueued_ = 0;
    struct LineCounters {
        int cts = 0, dsr = 0, rng = 0, dcd = 0, frame = 0, overrun = 0, parity = 0, brk = 0;
    } eventCounters_; // the driver's counters as the event side last saw them
    Event::Sleeper* inputWaiter_ = nullptr;
    std::unique_ptr<PosixModemWait> modemWait_;
    bool modemWaitTried_ = false;
    std::deque<Request> reads_;
    std::deque<Request> writes_;
    int wakeFd_ = -1;
    std::thread worker_;
};

// "COMn" names the n-th serial port (/dev/ttyS(n-1)); "\\.\" in front is the platform's device
// prefix and is dropped; a path, absolute or relative, is used as it stands; a bare name is
// looked up in /dev. Nothing for a name that cannot be a device.
std::optional<std::string> resolveDevicePath(const std::string& name);

} // namespace comport::driver::posix

#endif
