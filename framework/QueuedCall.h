#pragma once

// Not part of the installed interface: the port's event thread uses it to wait for the device
// again while the main thread runs what it handed over.

#include <exception>
#include <functional>
#include <memory>

namespace fw {

namespace detail {
struct SyncCall;
}

// synchronize() (MainThread.h) in two halves, for a caller with other work before it needs the
// outcome:
// start() queues the call for the main thread and wakes it, finish() waits until it has run,
// serving the calling thread's sent messages meanwhile, and raises again what it raised. One call
// at a time; finish() must have returned before the next start() and before the object goes. On
// the main thread start() runs the call at once. The record is reused, so a hand-over allocates
// nothing.
class TQueuedCall {
public:
    TQueuedCall();
    ~TQueuedCall();
    TQueuedCall(const TQueuedCall&) = delete;
    TQueuedCall& operator=(const TQueuedCall&) = delete;

    // Raises what the wake hook raised, the call then left unqueued (unless the main thread
    // had already taken it, in which case finish() waits for it as usual).
    void start(std::function<void()> call);
    // Whether a started call has not been finished yet (it may have run already).
    bool pending() const { return started_; }
    // Whether the main thread has run the started call; finish() then does not wait.
    bool ran() const;
    void finish();
    // From any thread: takes the started call back if the main thread has not taken it yet; it
    // then never runs, and finish() returns at once. False when there was nothing to take back.
    bool cancel();

private:
    std::function<void()> call_;
    std::unique_ptr<detail::SyncCall> record_;
    bool started_ = false;
};

} // namespace fw
