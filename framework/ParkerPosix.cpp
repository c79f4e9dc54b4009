#include "framework/Parker.h"

#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fw::detail {

void waitOnWord(std::atomic<int>& word, int expected,
                std::optional<std::chrono::nanoseconds> left) {
    timespec limit{};
    if (left) {
        const auto ns = left->count();
        limit = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    }
    ::syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, expected,
              left ? &limit : nullptr, nullptr, 0);
}

void wakeOneOnWord(std::atomic<int>& word) {
    ::syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace fw::detail
