#pragma once

#ifndef _WIN32

// The wait for modem-line changes on a device whose driver offers one (TIOCMIWAIT): a thread of
// its own blocks in the driver and reports every wake-up; the driver's change counters then tell
// what changed, so a short pulse is not missed even when the line is back by the time anyone
// looks.
//
// The wait is a blocking ioctl that neither closing the descriptor nor anything else in the
// program ends. The thread is released with a signal (releaseSignal(), a real-time signal whose
// handler does nothing and which is installed without SA_RESTART, so the ioctl fails with
// EINTR); the signal is sent again every few milliseconds until the thread has noticed, because
// one that arrives just before the thread enters the ioctl would be lost. A program that uses
// that signal for something else must not use this wait.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace comport::driver::posix {

class PosixModemWait {
public:
    // Starts waiting on `fd`. `woke` runs on the waiting thread after each return of the wait:
    // with 0 after a change, or once with the error that ended the wait (ENOTTY or EINVAL: the
    // driver has no such wait; EIO: the device hung up), after which the thread ends.
    PosixModemWait(int fd, std::function<void(int error)> woke);
    // Releases the thread and waits for it. Must not be called while `woke` could be waiting for
    // something the caller holds.
    ~PosixModemWait();
    PosixModemWait(const PosixModemWait&) = delete;
    PosixModemWait& operator=(const PosixModemWait&) = delete;

    static int releaseSignal();

private:
    void run();

    const int fd_;
    std::function<void(int)> woke_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable ended_;
    bool finished_ = false;
    std::thread thread_;
};

} // namespace comport::driver::posix

#endif
