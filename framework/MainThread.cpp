#include "framework/MainThread.h"

#include "framework/ThreadError.h"
#include "framework/ThreadHub.h"

#include <algorithm>

namespace fw {

using detail::hub;

namespace {

void requireMainThread(const char* operation) {
    if (!isMainThread()) {
        throw EThread(std::string(operation) +
                      " was called on a thread that is not the main thread; only the main "
                      "thread serves its queue");
    }
}

// The main thread usually runs a hand-over within microseconds of being woken. A caller that
// spins that long first is spared its own sleep, and the main thread the system call that would
// end it. After spins that did not pay (a loaded machine, a main thread busy elsewhere) the next
// ones are left out, for longer each time, so it costs little where it does not help.
template <class Done> void spinBriefly(Done done) {
    static const bool manyProcessors = std::thread::hardware_concurrency() > 1;
    thread_local int skip = 0, backoff = 0;
    if (!manyProcessors) return;
    if (skip > 0) {
        --skip;
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    while (!done()) {
        for (int i = 0; i < 32; ++i) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= until) {
            backoff = std::min(backoff * 2 + 1, 63);
            skip = backoff;
            return;
        }
    }
    backoff = 0;
}

} // namespace

void setMainThread() {
    auto self = detail::currentInbox();
    auto& h = hub();
    std::lock_guard l(h.lock);
    h.mainThread = std::this_thread::get_id();
    h.mainInbox = self;
}

bool isMainThread() {
    auto& h = hub();
    std::lock_guard l(h.lock);
    return detail::isMainLocked(h);
}

std::thread::id mainThreadId() {
    auto& h = hub();
    std::lock_guard l(h.lock);
    return h.mainThread;
}

void setWakeMainThread(TWakeHook hook) {
    auto& h = hub();
    std::lock_guard l(h.hookLock);
    h.wakeHook = std::move(hook);
}

bool checkSynchronize() {
    requireMainThread("checkSynchronize");
    bool ran = detail::runQueuedCalls();
    ran = detail::serveSentMessages() || ran;
    return ran;
}

bool waitForSynchronize(std::chrono::milliseconds timeout) {
    requireMainThread("waitForSynchronize");
    auto self = detail::currentInbox();
    auto& h = hub();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard l(h.lock);
            if (detail::hasWorkLocked(h, *self, true)) break;
        }
        if (!self->parker.park(deadline)) break;
    }
    return checkSynchronize();
}

void synchronize(std::function<void()> call) {
    auto self = detail::currentInbox();
    auto& h = hub();
    std::unique_lock l(h.lock);
    if (detail::isMainLocked(h)) {
        l.unlock();
        call();
        return;
    }
    detail::SyncCall queued;
    queued.call = &call;
    queued.caller = self;
    if (h.lastCall)
        h.lastCall->next = &queued;
    else
        h.firstCall = &queued;
    h.lastCall = &queued;
    ++h.callCount;
    const auto mainInbox = h.mainInbox;
    l.unlock();
    // Woken after the lock is released: a thread woken while the lock is still held would only
    // block on it again, two more context switches on every hand-over.
    mainInbox->parker.unpark();
    std::exception_ptr wakeFailure = detail::callWakeHook();
    if (!wakeFailure) spinBriefly([&] { return queued.done.load(std::memory_order_acquire); });
    l.lock();
    // Not left behind in the queue when it goes: the record is on this stack. A call that the main
    // thread has taken already (woken some other way) is waited for as usual.
    if (wakeFailure && detail::withdrawCallLocked(h, queued)) {
        l.unlock();
        std::rethrow_exception(wakeFailure);
    }
    detail::waitServing(
        l, self, [&] { return queued.done.load(std::memory_order_acquire); }, false);
    l.unlock();
    if (queued.failure) std::rethrow_exception(queued.failure);
}

} // namespace fw
