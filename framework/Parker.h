#pragma once

// A thread's wake-up token: park() sleeps until unpark() has been called (since the last park),
// unpark() hands the token over and wakes the thread only if it is asleep. Waking a thread costs
// one system call and only when it really sleeps; neither side takes a lock, so a woken thread
// never runs into one its waker still holds. Used for the hand-overs between threads, where a
// condition variable would add a lock round trip on each side.
//
// The token says only "look again": the caller keeps its state elsewhere (under a lock or in
// atomics), changes it before unpark() and checks it after park().

#include <atomic>
#include <chrono>
#include <optional>

namespace fw::detail {

class Parker {
public:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    // Returns when the token is (or becomes) there, taking it; false when the deadline passed
    // first.
    bool park(Deadline deadline = std::nullopt);
    // Leaves the token and wakes the parked thread, if it sleeps. Any thread, any time.
    void unpark();

private:
    static constexpr int empty = 0, parked = -1, notified = 1;
    std::atomic<int> state_{empty};
};

// The system's wait on a word (ParkerPosix.cpp, ParkerWin32.cpp): sleeps while `word` holds
// `expected`, until woken or `left` (none: no limit) has passed; spurious returns are fine.
void waitOnWord(std::atomic<int>& word, int expected, std::optional<std::chrono::nanoseconds> left);
// Wakes one thread sleeping on `word`.
void wakeOneOnWord(std::atomic<int>& word);

} // namespace fw::detail
