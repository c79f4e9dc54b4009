#pragma once

#include <atomic>
#include <csignal>
#include <memory>

namespace torvinupload {

// Turns a request to stop into something the upload loop sees, instead of a death that would
// leave the port and the terminal as they were, and wakes the main thread's queue so that the
// loop notices at once. On Linux: Ctrl-C (SIGINT) and SIGTERM, blocked in this thread and in
// every thread started after it (the port's event thread among them) and taken by a thread of
// its own. On Windows: Ctrl-C and Ctrl-Break (as SIGINT), and closing the console window, logging
// off or shutting down (as SIGTERM), taken by the console's handler.
// Create it on the main thread before the port is opened.
class InterruptWatch {
public:
    InterruptWatch();
    // Stops watching (serving the main thread's queue meanwhile); on Linux a signal still pending
    // then acts as it would have.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // 0, or the signal that asked the program to stop.
    int signal() const { return signal_.load(); }

private:
    // Records the first request and wakes the main thread; from the watching thread.
    void record(int number);

    struct Platform;
    std::unique_ptr<Platform> platform_;
    std::atomic<int> signal_{0};
};

} // namespace torvinupload
