#include "framework/Parker.h"

#include <windows.h>

namespace fw::detail {

void waitOnWord(std::atomic<int>& word, int expected,
                std::optional<std::chrono::nanoseconds> left) {
    DWORD ms = INFINITE;
    if (left) {
        // Rounded up, so that a short rest does not spin with zero-length waits.
        const auto rest = (left->count() + 999'999) / 1'000'000;
        ms = rest >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(rest);
    }
    WaitOnAddress(reinterpret_cast<volatile void*>(&word), &expected, sizeof expected, ms);
}

void wakeOneOnWord(std::atomic<int>& word) {
    WakeByAddressSingle(reinterpret_cast<void*>(&word));
}

} // namespace fw::detail
