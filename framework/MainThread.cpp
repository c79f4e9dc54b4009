#include "framework/MainThread.h"
#include "framework/QueuedCall.h"

#include "framework/ThreadError.h"
#include "framework/ThreadHub.h"

#include <utility>

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

// Queues `record` for the main thread and wakes it. Gives what the wake hook raised, the record
// then withdrawn (null when it was queued, or taken already). On the main thread it queues
// nothing and sets `onMain`.
std::exception_ptr queueForMain(detail::SyncCall& record, bool& onMain) {
    auto& h = hub();
    std::unique_lock l(h.lock);
    onMain = detail::isMainLocked(h);
    if (onMain) return nullptr;
    if (h.lastCall)
        h.lastCall->next = &record;
    else
        h.firstCall = &record;
    h.lastCall = &record;
    ++h.callCount;
    const auto mainInbox = h.mainInbox;
    l.unlock();
    // Woken after the lock is released: a thread woken while the lock is still held would only
    // block on it again, two more context switches on every hand-over.
    mainInbox->parker.unpark();
    std::exception_ptr wakeFailure = detail::callWakeHook();
    if (!wakeFailure) return nullptr;
    l.lock();
    // Not left behind in the queue when it goes: the record is the caller's. A call that the
    // main thread has taken already (woken some other way) is waited for as usual.
    return detail::withdrawCallLocked(h, record) ? wakeFailure : nullptr;
}

void waitForCall(detail::SyncCall& record) {
    if (record.done.load(std::memory_order_acquire)) return;
    auto self = detail::currentInbox();
    auto& h = hub();
    std::unique_lock l(h.lock);
    detail::waitServing(
        l, self, [&] { return record.done.load(std::memory_order_acquire); }, false);
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
    detail::SyncCall queued;
    queued.call = &call;
    queued.caller = detail::currentInbox();
    bool onMain = false;
    if (std::exception_ptr wakeFailure = queueForMain(queued, onMain))
        std::rethrow_exception(wakeFailure);
    if (onMain) {
        call();
        return;
    }
    waitForCall(queued);
    if (queued.failure) std::rethrow_exception(queued.failure);
}

TQueuedCall::TQueuedCall() : record_(std::make_unique<detail::SyncCall>()) {}

TQueuedCall::~TQueuedCall() = default;

void TQueuedCall::start(std::function<void()> call) {
    call_ = std::move(call);
    detail::SyncCall& r = *record_;
    r.call = &call_;
    r.failure = nullptr;
    r.next = nullptr;
    r.done.store(false, std::memory_order_relaxed);
    r.caller = detail::currentInbox();
    bool onMain = false;
    std::exception_ptr wakeFailure = queueForMain(r, onMain);
    if (wakeFailure || onMain) r.caller.reset();
    if (wakeFailure) std::rethrow_exception(wakeFailure);
    started_ = true;
    if (!onMain) return;
    try {
        call_();
    } catch (...) {
        r.failure = std::current_exception();
    }
    r.done.store(true, std::memory_order_release);
}

bool TQueuedCall::ran() const {
    return started_ && record_->done.load(std::memory_order_acquire);
}

void TQueuedCall::finish() {
    if (!started_) return;
    waitForCall(*record_);
    started_ = false;
    std::exception_ptr failure = std::exchange(record_->failure, nullptr);
    if (failure) std::rethrow_exception(failure);
}

bool TQueuedCall::cancel() {
    auto& h = hub();
    std::shared_ptr<detail::Inbox> caller;
    {
        std::lock_guard l(h.lock);
        if (!detail::withdrawCallLocked(h, *record_)) return false;
        caller = std::move(record_->caller);
        record_->done.store(true, std::memory_order_release);
    }
    if (caller) caller->parker.unpark();
    return true;
}

} // namespace fw
