#include "framework/Parker.h"

namespace fw::detail {

bool Parker::park(Deadline deadline) {
    // notified -> empty: the token was there. empty -> parked: sleep.
    if (state_.fetch_sub(1, std::memory_order_acquire) == notified) return true;
    for (;;) {
        std::optional<std::chrono::nanoseconds> left;
        if (deadline) {
            const auto rest = *deadline - std::chrono::steady_clock::now();
            if (rest.count() <= 0) {
                // Gives up the wait; a token that came meanwhile still counts.
                return state_.exchange(empty, std::memory_order_acquire) == notified;
            }
            left = std::chrono::duration_cast<std::chrono::nanoseconds>(rest);
        }
        waitOnWord(state_, parked, left);
        int expected = notified;
        if (state_.compare_exchange_strong(expected, empty, std::memory_order_acquire)) return true;
    }
}

void Parker::unpark() {
    if (state_.exchange(notified, std::memory_order_release) == parked) wakeOneOnWord(state_);
}

} // namespace fw::detail
