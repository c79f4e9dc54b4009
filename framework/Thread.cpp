#include "framework/Thread.h"

#include "framework/ThreadError.h"
#include "framework/ThreadHub.h"

#include <algorithm>
#include <condition_variable>
#include <system_error>
#include <vector>

namespace fw {

using detail::hub;

// Guarded by the framework's lock. The platform thread keeps its own reference, so that what it
// does after the body has returned never touches the object (which may be gone by then).
struct TThread::State {
    std::condition_variable gate; // the platform thread waits here to start
    ThreadId tid = 0;
    int baseNice = 0;
    bool ready = false;     // the platform thread has recorded its id
    bool started = false;   // start() has opened the gate
    bool cancelled = false; // destroyed before start(): the body never runs
    bool finished = false;  // the body has returned, or will never run
    TThreadPriority priority = tpNormal;
    std::exception_ptr fatal;
    std::vector<std::shared_ptr<detail::Inbox>> waiters;
};

TThread::TThread() : state_(std::make_shared<State>()) {
    try {
        thread_ = std::thread(&TThread::run, state_, this);
    } catch (const std::system_error& e) {
        raiseThreadError(e.code().value());
    }
    id_ = thread_.get_id();
    auto& h = hub();
    std::unique_lock l(h.lock);
    state_->gate.wait(l, [&] { return state_->ready; });
    tid_ = state_->tid;
}

TThread::~TThread() {
    stopAndWait();
}

void TThread::Release::operator()(TThread* thread) const noexcept {
    thread->stopAndWait();
    delete thread;
}

void TThread::run(std::shared_ptr<State> state, TThread* self) {
    auto& h = hub();
    bool run = false;
    {
        std::unique_lock l(h.lock);
        state->tid = detail::currentThreadId();
        state->baseNice = detail::currentNice();
        state->ready = true;
        state->gate.notify_all();
        state->gate.wait(l, [&] { return state->started || state->cancelled; });
        run = !state->cancelled;
    }
    std::exception_ptr fatal;
    if (run) {
        try {
            self->execute();
        } catch (...) {
            fatal = std::current_exception();
        }
    }
    std::vector<std::shared_ptr<detail::Inbox>> waiters;
    {
        std::lock_guard l(h.lock);
        state->fatal = std::move(fatal);
        state->finished = true;
        waiters = state->waiters;
    }
    for (auto& w : waiters)
        w->parker.unpark();
}

void TThread::start() {
    auto& h = hub();
    std::lock_guard l(h.lock);
    if (state_->started || state_->cancelled) throw EThread("The thread has already been started");
    state_->started = true;
    state_->gate.notify_all();
}

void TThread::terminate() {
    terminated_.store(true, std::memory_order_release);
    terminatedSet();
}

void TThread::waitFor() {
    if (std::this_thread::get_id() == id_) throw EThread("A thread cannot wait for itself to end");
    auto self = detail::currentInbox();
    auto& h = hub();
    {
        std::unique_lock l(h.lock);
        if (!state_->started && !state_->cancelled) return; // held at the gate; nothing to wait for
        state_->waiters.push_back(self);
        detail::waitServing(
            l, self, [&] { return state_->finished; }, true);
        auto& w = state_->waiters;
        w.erase(std::find(w.begin(), w.end(), self));
    }
    std::call_once(joined_, [&] { thread_.join(); });
}

bool TThread::finished() const {
    auto& h = hub();
    std::lock_guard l(h.lock);
    return state_->finished;
}

std::exception_ptr TThread::fatalException() const {
    auto& h = hub();
    std::lock_guard l(h.lock);
    return state_->finished ? state_->fatal : nullptr;
}

TThreadPriority TThread::priority() const {
    auto& h = hub();
    std::lock_guard l(h.lock);
    return state_->priority;
}

void TThread::setPriority(TThreadPriority priority) {
    auto& h = hub();
    std::unique_lock l(h.lock);
    // While the lock is held a thread that has not finished cannot end, so its id cannot have
    // passed to another thread.
    if (!state_->finished) {
        if (int e = detail::applyThreadPriority(state_->tid, state_->baseNice, priority)) {
            l.unlock();
            raiseThreadError(e);
        }
    }
    state_->priority = priority;
}

void TThread::stopAndWait() noexcept {
    terminate();
    if (std::this_thread::get_id() == id_) {
        // Destroyed from its own body: it cannot wait for itself. The platform thread ends on
        // its own and touches only the shared state after the body.
        std::call_once(joined_, [&] { thread_.detach(); });
        return;
    }
    {
        auto& h = hub();
        std::lock_guard l(h.lock);
        if (!state_->started && !state_->cancelled) {
            state_->cancelled = true;
            state_->gate.notify_all();
        }
    }
    try {
        waitFor();
    } catch (...) {
        // Only the wrong-thread case throws, and it is excluded above; nothing to report.
    }
}

} // namespace fw
