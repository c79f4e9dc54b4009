#include "framework/Parker.h"

#ifdef __linux__
#include <cerrno>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace fw::detail {

#ifdef __linux__

namespace {

// Sleeps while *word holds `expected`, until woken or the time is up; spurious returns are fine.
void futexWait(std::atomic<int>& word, int expected, const timespec* left) {
    ::syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, expected, left, nullptr,
              0);
}

void futexWakeOne(std::atomic<int>& word) {
    ::syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace

bool Parker::park(Deadline deadline) {
    // notified -> empty: the token was there. empty -> parked: sleep.
    if (state_.fetch_sub(1, std::memory_order_acquire) == notified) return true;
    for (;;) {
        timespec left{};
        if (deadline) {
            auto rest = *deadline - std::chrono::steady_clock::now();
            if (rest.count() <= 0) {
                // Gives up the wait; a token that came meanwhile still counts.
                return state_.exchange(empty, std::memory_order_acquire) == notified;
            }
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(rest).count();
            left = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
        }
        futexWait(state_, parked, deadline ? &left : nullptr);
        int expected = notified;
        if (state_.compare_exchange_strong(expected, empty, std::memory_order_acquire)) return true;
    }
}

void Parker::unpark() {
    if (state_.exchange(notified, std::memory_order_release) == parked) futexWakeOne(state_);
}

#else

bool Parker::park(Deadline deadline) {
    std::unique_lock l(lock_);
    auto taken = [&] {
        int expected = notified;
        return state_.compare_exchange_strong(expected, empty, std::memory_order_acquire);
    };
    if (deadline) return woken_.wait_until(l, *deadline, taken);
    woken_.wait(l, taken);
    return true;
}

void Parker::unpark() {
    {
        std::lock_guard l(lock_);
        state_.store(notified, std::memory_order_release);
    }
    woken_.notify_one();
}

#endif

} // namespace fw::detail
