#pragma once

// Helpers for tests that play the main thread's event loop.

#include "framework/MainThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace fwtest {

// Serves the main-thread queue until `done()` holds. Gives up after a long while so that a
// deadlock fails the test instead of hanging the suite.
template <typename Pred> bool serveUntil(Pred done) {
    using namespace std::chrono_literals;
    for (int i = 0; i < 2000 && !done(); ++i)
        fw::waitForSynchronize(10ms);
    return done();
}

// A wake hook that counts its calls and remembers the thread of the last one; removed again when
// the test ends.
class WakeRecorder {
public:
    WakeRecorder() {
        fw::setWakeMainThread([this] {
            std::lock_guard l(lock_);
            ++calls_;
            thread_ = std::this_thread::get_id();
            changed_.notify_all();
        });
    }
    ~WakeRecorder() { fw::setWakeMainThread(nullptr); }

    int calls() {
        std::lock_guard l(lock_);
        return calls_;
    }
    std::thread::id lastThread() {
        std::lock_guard l(lock_);
        return thread_;
    }
    // Sleeps (without serving) until the hook has been called `n` times in all.
    bool waitForCalls(int n) {
        std::unique_lock l(lock_);
        return changed_.wait_for(l, std::chrono::seconds(20), [&] { return calls_ >= n; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int calls_ = 0;
    std::thread::id thread_;
};

} // namespace fwtest
