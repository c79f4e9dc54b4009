#include "framework/ThreadHub.h"

#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"

#include <utility>
#include <vector>

namespace fw::detail {

namespace {

Hub* makeHub() {
    auto* h = new Hub;
    // The first use happens during static initialisation (see below), on the thread that runs
    // main(); that thread is the main thread until setMainThread() says otherwise.
    h->mainThread = std::this_thread::get_id();
    h->mainInbox = std::make_shared<Inbox>();
    return h;
}

// Marks the initialising thread as the main thread before main() runs.
[[maybe_unused]] const bool hubReady = (hub(), true);

// Owns a thread's inbox; when the thread ends, its pending senders are released and later sends
// to its windows return at once.
struct InboxHolder {
    std::shared_ptr<Inbox> inbox;

    InboxHolder() {
        Hub& h = hub();
        std::lock_guard l(h.lock);
        if (std::this_thread::get_id() == h.mainThread && h.mainInbox && !h.mainInbox->adopted) {
            inbox = h.mainInbox;
        } else {
            inbox = std::make_shared<Inbox>();
        }
        inbox->adopted = true;
    }

    ~InboxHolder() {
        Hub& h = hub();
        std::vector<std::shared_ptr<Inbox>> senders;
        {
            std::lock_guard l(h.lock);
            inbox->closed = true;
            for (auto& m : inbox->sent)
                if (auto sender = releaseLocked(*m, 0)) senders.push_back(std::move(sender));
            inbox->sent.clear();
        }
        for (auto& sender : senders)
            sender->parker.unpark();
    }
};

void showProcedureFailure(const std::exception_ptr& failure) noexcept {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        showException(e);
    } catch (...) {
        showException(Exception("A window procedure failed with an unknown error"));
    }
}

} // namespace

Hub& hub() {
    // Never destroyed: threads may still use it while static objects are torn down at exit.
    static Hub* const instance = makeHub();
    return *instance;
}

std::shared_ptr<Inbox> currentInbox() {
    thread_local InboxHolder holder;
    return holder.inbox;
}

bool isMainLocked(const Hub& h) {
    return std::this_thread::get_id() == h.mainThread;
}

std::exception_ptr callWakeHook() noexcept {
    Hub& h = hub();
    std::lock_guard l(h.hookLock);
    try {
        if (h.wakeHook) h.wakeHook();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

bool withdrawCallLocked(Hub& h, SyncCall& call) {
    SyncCall* before = nullptr;
    for (SyncCall* c = h.firstCall; c; before = c, c = c->next) {
        if (c != &call) continue;
        (before ? before->next : h.firstCall) = c->next;
        if (h.lastCall == c) h.lastCall = before;
        --h.callCount;
        return true;
    }
    return false;
}

std::shared_ptr<Inbox> releaseLocked(SentMessage& message, std::intptr_t result) {
    if (message.released) return nullptr;
    message.released = true;
    message.result = result;
    return message.sender;
}

bool hasWorkLocked(const Hub& h, const Inbox& inbox, bool isMain) {
    return !inbox.sent.empty() || (isMain && h.firstCall);
}

bool serveSentMessages() noexcept {
    Hub& h = hub();
    auto self = currentInbox();
    std::unique_lock l(h.lock);
    bool ran = false;
    for (std::size_t n = self->sent.size(); n > 0 && !self->sent.empty(); --n) {
        auto m = std::move(self->sent.front());
        self->sent.pop_front();
        if (!m->target->alive) {
            if (auto sender = releaseLocked(*m, 0)) {
                l.unlock();
                sender->parker.unpark();
                l.lock();
            }
            continue;
        }
        l.unlock();
        ran = true;
        TMessage message = m->message;
        std::exception_ptr failure;
        {
            CurrentSentScope scope(m.get());
            try {
                m->target->procedure(message);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        l.lock();
        if (auto sender = releaseLocked(*m, failure ? 0 : message.result)) {
            l.unlock();
            sender->parker.unpark();
            l.lock();
        }
        if (failure) {
            l.unlock();
            showProcedureFailure(failure);
            l.lock();
        }
    }
    return ran;
}

bool runQueuedCalls() noexcept {
    Hub& h = hub();
    std::unique_lock l(h.lock);
    bool ran = false;
    for (std::size_t n = h.callCount; n > 0 && h.firstCall; --n) {
        SyncCall* c = h.firstCall;
        h.firstCall = c->next;
        if (!h.firstCall) h.lastCall = nullptr;
        --h.callCount;
        l.unlock();
        ran = true;
        try {
            (*c->call)();
        } catch (...) {
            c->failure = std::current_exception();
        }
        // Once `done` is set the caller may return and its record is gone: its inbox is kept
        // here for the wake-up, which comes after every lock has been let go.
        std::shared_ptr<Inbox> caller = std::move(c->caller);
        c->done.store(true, std::memory_order_release);
        caller->parker.unpark();
        l.lock();
    }
    return ran;
}

void waitServing(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Inbox>& self,
                 const std::function<bool()>& done, bool runCalls) {
    Hub& h = hub();
    while (!done()) {
        const bool main = runCalls && isMainLocked(h);
        if (!hasWorkLocked(h, *self, main)) {
            lock.unlock();
            self->parker.park();
            lock.lock();
            continue;
        }
        lock.unlock();
        if (main) runQueuedCalls();
        serveSentMessages();
        lock.lock();
    }
}

SentMessage*& currentSent() {
    thread_local SentMessage* current = nullptr;
    return current;
}

} // namespace fw::detail
