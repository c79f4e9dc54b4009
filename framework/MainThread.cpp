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
    {
        std::unique_lock l(h.lock);
        self->wake.wait_for(l, timeout, [&] { return detail::hasWorkLocked(h, *self, true); });
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
    auto queued = std::make_shared<detail::SyncCall>();
    queued->call = std::move(call);
    queued->caller = self;
    h.calls.push_back(queued);
    const auto mainInbox = h.mainInbox;
    l.unlock();
    // Woken after the lock is released: a thread woken while the lock is still held would only
    // block on it again, two more context switches on every hand-over.
    mainInbox->wake.notify_all();
    detail::callWakeHook();
    l.lock();
    detail::waitServing(
        l, self, [&] { return queued->done; }, false);
    l.unlock();
    if (queued->failure) std::rethrow_exception(queued->failure);
}

} // namespace fw
