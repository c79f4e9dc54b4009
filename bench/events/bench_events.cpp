// Line-event delivery on a pseudo-terminal, end to end:
//   - latency from a byte written at the far end to the start of OnRxChar, for each delivery
//     method (median and 99th percentile over 10 000 bytes, one at a time, taken in five rounds
//     that go through the methods in turn, so that a change in the machine's load falls on all
//     of them); under smThreadSync and smWindowSync OnRxChar runs on the main thread, served by
//     a plain loop over the main-thread queue; under smNone it runs on the event thread;
//   - the processor time an open, idle port costs over 10 seconds (all ten events watched, the
//     main thread waiting in its loop).
// Targets: smThreadSync median at most 30 us and p99 at most 150 us; an idle port under 0.1 % of
// a processor.
// Usage: bench_events [bytes] [idle seconds]

#include "comport/ComPort.h"
#include "framework/MainThread.h"
#include "tests/support/Pty.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace comport;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Latencies {
    double median = 0, p99 = 0, max = 0;
};

// Adds the latencies of `bytes` bytes under `method` to `samples`.
void measure(TSyncMethod method, int bytes, std::vector<double>& samples) {
    testsupport::PtyPair pty;
    TComPort port;
    port.setPort(pty.path());
    port.setSyncMethod(method);

    std::mutex lock;
    std::condition_variable arrived;
    bool got = false;
    Clock::time_point handlerStart;
    port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
        const auto now = Clock::now();
        std::uint8_t buffer[64];
        port.readBytes(buffer, std::min<std::int32_t>(count, sizeof buffer));
        std::lock_guard l(lock);
        handlerStart = now;
        got = true;
        arrived.notify_all();
    };
    port.openPort();

    auto waitForHandler = [&] {
        if (method == smNone) {
            std::unique_lock l(lock);
            arrived.wait(l, [&] { return got; });
            return;
        }
        for (;;) {
            {
                std::lock_guard l(lock);
                if (got) return;
            }
            fw::waitForSynchronize(std::chrono::milliseconds(1000));
        }
    };

    const int warmUp = 100;
    for (int i = 0; i < warmUp + bytes; ++i) {
        {
            std::lock_guard l(lock);
            got = false;
        }
        const char b = static_cast<char>('A' + i % 26);
        const auto sent = Clock::now();
        if (::write(pty.controller(), &b, 1) != 1) {
            std::fprintf(stderr, "writing to the pseudo-terminal failed\n");
            std::exit(1);
        }
        waitForHandler();
        std::lock_guard l(lock);
        if (i >= warmUp)
            samples.push_back(
                std::chrono::duration<double, std::micro>(handlerStart - sent).count());
    }
    port.closePort();
}

Latencies summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back()};
}

double idleCpuPercent(int seconds) {
    testsupport::PtyPair pty;
    TComPort port;
    port.setPort(pty.path());
    port.OnRxChar = [](fw::TObject*, std::int32_t) {};
    port.openPort();
    const double cpu0 = cpuSeconds();
    const auto wall0 = Clock::now();
    const auto end = wall0 + std::chrono::seconds(seconds);
    while (Clock::now() < end)
        fw::waitForSynchronize(std::chrono::milliseconds(1000));
    const double cpu = cpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    port.closePort();
    return cpu / wall * 100.0;
}

} // namespace

int main(int argc, char** argv) {
    const int bytes = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int rounds = 5;
    double load[3] = {};
    if (::getloadavg(load, 3) != 3) load[0] = load[1] = load[2] = -1;
    std::printf("Load before the runs: %.2f %.2f %.2f (1, 5, 15 min) on %ld processors\n", load[0],
                load[1], load[2], ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("Far-end byte to the start of OnRxChar, %d bytes one at a time in %d rounds "
                "(microseconds)\n",
                bytes, rounds);
    std::printf("%-14s %10s %10s %10s\n", "method", "median", "p99", "max");
    const char* names[] = {"smThreadSync", "smWindowSync", "smNone"};
    std::vector<double> samples[3];
    for (int r = 0; r < rounds; ++r)
        for (TSyncMethod m : {smThreadSync, smWindowSync, smNone})
            measure(m, (bytes + rounds - 1) / rounds, samples[m]);
    for (TSyncMethod m : {smThreadSync, smWindowSync, smNone}) {
        const Latencies l = summarise(std::move(samples[m]));
        std::printf("%-14s %10.1f %10.1f %10.1f", names[m], l.median, l.p99, l.max);
        if (m == smThreadSync)
            std::printf("   target: median 30, p99 150: %s",
                        l.median <= 30 && l.p99 <= 150 ? "within" : "MISSED");
        std::printf("\n");
        std::fflush(stdout);
    }
    if (idleSeconds > 0) {
        const double idle = idleCpuPercent(idleSeconds);
        std::printf("Open idle port, all events watched, %d s: %.4f %% of one processor   target: "
                    "under 0.1 %%: %s\n",
                    idleSeconds, idle, idle < 0.1 ? "within" : "MISSED");
    }
    return 0;
}
