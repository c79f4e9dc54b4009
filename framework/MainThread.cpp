#include "framework/MainThread.h"

#include "framework/ThreadError.h"
#include "framework/ThreadHub.h"

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
