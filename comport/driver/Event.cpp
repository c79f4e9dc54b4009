#include "comport/driver/Event.h"

#include <algorithm>

namespace comport::driver {

void Event::set() {
    std::lock_guard guard(lock_);
    signalled_ = true;
    if (plainWaiters_ > 0) {
        if (manual_)
            changed_.notify_all();
        else
            changed_.notify_one();
    }
    // Notified after its lock is let go, so the woken thread does not run into it; the waiter
    // cannot go away meanwhile, since it leaves the list under lock_, which is still held.
    for (Waiter* w : waiters_) {
        {
            std::lock_guard wg(w->lock);
            w->signalled = true;
        }
        if (w->sleeper)
            w->sleeper->wake();
        else
            w->woken.notify_one();
    }
}

void Event::reset() {
    std::lock_guard guard(lock_);
    signalled_ = false;
}

bool Event::isSet() const {
    std::lock_guard guard(lock_);
    return signalled_;
}

bool Event::tryConsumeLocked() {
    if (!signalled_) return false;
    if (!manual_) signalled_ = false;
    return true;
}

bool Event::wait(Timeout timeout) {
    std::unique_lock guard(lock_);
    if (tryConsumeLocked()) return true;
    ++plainWaiters_;
    bool got;
    if (timeout) {
        got = changed_.wait_for(guard, *timeout, [this] { return signalled_; });
    } else {
        changed_.wait(guard, [this] { return signalled_; });
        got = true;
    }
    --plainWaiters_;
    if (got && !manual_) signalled_ = false;
    return got;
}

std::optional<std::size_t> Event::waitAny(Event* const* events, std::size_t count, Timeout timeout,
                                          Sleeper* sleeper) {
    Waiter waiter;
    waiter.sleeper = sleeper;
    for (std::size_t i = 0; i < count; ++i) {
        std::lock_guard guard(events[i]->lock_);
        events[i]->waiters_.push_back(&waiter);
    }
    Deadline deadline;
    if (timeout) deadline = std::chrono::steady_clock::now() + *timeout;
    std::optional<std::size_t> result;
    bool timedOut = false;
    for (;;) {
        {
            std::lock_guard wg(waiter.lock);
            waiter.signalled = false;
        }
        for (std::size_t i = 0; i < count && !result; ++i) {
            std::lock_guard guard(events[i]->lock_);
            if (events[i]->tryConsumeLocked()) result = i;
        }
        if (result || timedOut) break;
        if (sleeper) {
            // A set() since the look above has called wake(), so this sleep returns at once.
            timedOut = !sleeper->sleep(deadline);
            sleeper->serve(); // then the events are looked at again
            continue;
        }
        std::unique_lock wg(waiter.lock);
        if (deadline) {
            if (!waiter.woken.wait_until(wg, *deadline, [&] { return waiter.signalled; })) break;
        } else {
            waiter.woken.wait(wg, [&] { return waiter.signalled; });
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::lock_guard guard(events[i]->lock_);
        std::erase(events[i]->waiters_, &waiter);
    }
    return result;
}

} // namespace comport::driver
