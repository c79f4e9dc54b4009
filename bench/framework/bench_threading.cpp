// Costs of the hand-overs between threads, with the main thread asleep in a plain loop
// (waitForSynchronize), as the command-line tool runs it:
//   - synchronize: from the call on a worker to the start of the call on the main thread
//     (hand-over), and until the worker has returned (round trip);
//   - sendMessage to a main-thread window: the same two figures;
//   - sendMessage answered at once with replyMessage: round trip.
// Prints the median and the 99th percentile of each over many calls, and for synchronize the
// heap allocations and the context switches (both threads) per call. Target: no allocation, one
// wake-up each way (two context switches).

#include "framework/MainThread.h"
#include "framework/MessageWindow.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {
std::atomic<long> allocations{0};
} // namespace

// Every allocation of the program is counted.
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

long contextSwitches() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage); // the whole process: every thread
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

using Clock = std::chrono::steady_clock;
constexpr int calls = 10000;

struct Figures {
    std::vector<double> handOver; // microseconds
    std::vector<double> roundTrip;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void print(const char* name, const Figures& f) {
    auto line = [&](const char* what, const std::vector<double>& v) {
        if (v.empty()) return;
        std::printf("%-34s %-10s median %7.1f us   p99 %7.1f us   (%zu calls)\n", name, what,
                    percentile(v, 0.5), percentile(v, 0.99), v.size());
    };
    line("hand-over", f.handOver);
    line("round trip", f.roundTrip);
}

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Runs `worker` on another thread while the main thread serves its queue.
void serveWhile(const std::function<void()>& worker) {
    bool done = false; // set on the main thread, by the worker's last hand-over
    std::thread t([&] {
        worker();
        fw::synchronize([&] { done = true; });
    });
    while (!done)
        fw::waitForSynchronize(std::chrono::milliseconds(100));
    t.join();
}

} // namespace

int main() {
    Figures sync;
    sync.handOver.reserve(calls);
    sync.roundTrip.reserve(calls);
    Clock::time_point started;
    long allocated = 0, switches = 0;
    serveWhile([&] {
        fw::synchronize([] {}); // the threads' first use sets up what they keep
        const long a0 = allocations.load();
        const long s0 = contextSwitches();
        for (int i = 0; i < calls; ++i) {
            const auto t0 = Clock::now();
            fw::synchronize([&] { started = Clock::now(); });
            const auto t1 = Clock::now();
            sync.handOver.push_back(micros(started - t0));
            sync.roundTrip.push_back(micros(t1 - t0));
        }
        allocated = allocations.load() - a0;
        switches = contextSwitches() - s0;
    });
    print("synchronize", sync);
    std::printf("%-34s %.2f allocations, %.2f context switches per call\n", "synchronize",
                static_cast<double>(allocated) / calls, static_cast<double>(switches) / calls);

    Figures sent;
    fw::TMessageWindow window([&](fw::TMessage& m) {
        started = Clock::now();
        if (m.wParam == 1) fw::replyMessage(0);
    });
    serveWhile([&] {
        for (int i = 0; i < calls; ++i) {
            const auto t0 = Clock::now();
            fw::sendMessage(window.handle(), fw::wmUser + 1, 0, 0);
            const auto t1 = Clock::now();
            sent.handOver.push_back(micros(started - t0));
            sent.roundTrip.push_back(micros(t1 - t0));
        }
    });
    print("sendMessage", sent);

    Figures replied;
    serveWhile([&] {
        for (int i = 0; i < calls; ++i) {
            const auto t0 = Clock::now();
            fw::sendMessage(window.handle(), fw::wmUser + 1, 1, 0);
            replied.roundTrip.push_back(micros(Clock::now() - t0));
        }
    });
    print("sendMessage with early reply", replied);
    return 0;
}
