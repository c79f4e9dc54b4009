#pragma once

#ifndef _WIN32

// One open terminal device with the platform's overlapped model on top of non-blocking I/O.
// A request that can finish at once finishes in the caller's thread with one system call; one
// that has to wait (the line is busy, the time-outs ask for a wait) is queued for the device's
// I/O thread, started on the first such request and kept until the device closes. Reads and
// writes each keep their order.
//
// The wait for line events belongs on the same I/O thread: a pending event wait is one more
// request the loop polls for (input for "characters received", output drained for "output
// empty"), completed through its record like a read.

#include "comport/driver/ComDriver.h"
#include "comport/driver/InputFilter.h"
#include "comport/driver/PosixTermios.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace comport::driver::posix {

class PosixDevice {
public:
    // Opens and claims the device: not a terminal gives ENOTTY, a device held by anyone else
    // EBUSY. Returns nothing and sets `error` on failure.
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

    // Non-blocking read through the input filter; 0 bytes with EAGAIN when nothing is there,
    // EIO when the device has hung up.
    std::uint32_t readNow(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got);
    bool immediateReadMode() const;
    void activateRead(Request& r, Clock::time_point now);
    void activateWrite(Request& r, Clock::time_point now);
    // Moves the head request on; true when it has ended.
    bool advanceRead(Request& r, short revents, Clock::time_point now);
    bool advanceWrite(Request& r, short revents, Clock::time_point now);
    void progressLocked(short revents);
    void abortLocked(bool reads, bool writes);
    void enqueueLocked(std::deque<Request>& queue, Request r);
    void workerLoop();
    void wakeWorker();

    const int fd_;
    std::mutex lock_; // guards everything below and serialises system calls on fd_
    bool closed_ = false;
    bool stopping_ = false;
    Dcb dcb_;
    CommTimeouts timeouts_;
    std::uint32_t inQueue_ = 0;
    std::uint32_t outQueue_ = 0;
    LineMode lineMode_;
    InputFilter filter_;
    bool hasCounters_ = true;
    std::uint32_t softErrors_ = 0;
    struct Counters {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    } counters_;
    std::deque<Request> reads_;
    std::deque<Request> writes_;
    int wakeFd_ = -1;
    std::thread worker_;
};

// "COMn" names the n-th serial port (/dev/ttyS(n-1)); "\\.\" in front is the platform's device
// prefix and is dropped; an absolute path is used as it stands; another bare name is looked up
// in /dev. Nothing for a name that cannot be a device.
std::optional<std::string> resolveDevicePath(const std::string& name);

} // namespace comport::driver::posix

#endif
