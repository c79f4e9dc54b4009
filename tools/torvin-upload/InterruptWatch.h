#pragma once

#include <atomic>
#include <csignal>
#include <thread>

namespace torvinupload {

// Turns Ctrl-C (SIGINT) and SIGTERM into a request the upload loop sees, instead of a death that
// would leave the port and the terminal as they were. The signals are blocked in this thread and
// in every thread started after it (the port's event thread among them) and taken by a thread of
// its own, which then wakes the main thread's queue so that the loop notices at once.
// Create it on the main thread before the port is opened.
class InterruptWatch {
public:
    InterruptWatch();
    // Stops the watching thread (serving the main thread's queue meanwhile) and restores the
    // signal mask; a signal still pending then acts as it would have.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // 0, or the signal that asked the program to stop.
    int signal() const { return signal_.load(); }

private:
    void watch();

    sigset_t watched_{};
    sigset_t previous_{};
    std::atomic<int> signal_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace torvinupload
