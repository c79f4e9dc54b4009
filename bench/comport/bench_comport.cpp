// Costs of the port's data path on a pseudo-terminal: the upload writes every record byte with
// one synchronous writeBytes call, so the one-byte write is the figure that matters.
//
// Besides Google Benchmark's mean per iteration, the single-call cases report the median and
// the 99th percentile of individually timed calls (counters median_us and p99_us).

#include "comport/ComPort.h"
#include "tests/support/Pty.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// An open port on a pseudo-terminal whose far end is drained by a thread, so that writes never
// find the line full.
struct OpenPort {
    testsupport::PtyPair pty;
    comport::TComPort port;
    std::atomic<bool> stop{false};
    std::thread drainer;

    explicit OpenPort(bool drain) {
        port.setPort(pty.path());
        port.openPort();
        if (drain)
            drainer = std::thread([this] {
                char buffer[4096];
                while (!stop.load(std::memory_order_relaxed)) {
                    pollfd p{pty.controller(), POLLIN, 0};
                    if (::poll(&p, 1, 20) > 0 &&
                        ::read(pty.controller(), buffer, sizeof buffer) <= 0)
                        break;
                }
            });
    }
    ~OpenPort() {
        stop = true;
        if (drainer.joinable()) drainer.join();
        port.closePort();
    }
};

void reportPercentiles(benchmark::State& state, std::vector<double>& samples) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    state.counters["median_us"] = samples[samples.size() / 2];
    state.counters["p99_us"] = samples[samples.size() * 99 / 100];
}

template <typename F> void timed(benchmark::State& state, std::vector<double>& samples, F&& f) {
    const auto t0 = Clock::now();
    f();
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    (void)state;
}

void BM_WriteBytesOneByte(benchmark::State& state) {
    OpenPort p(true);
    std::vector<double> samples;
    samples.reserve(1 << 20);
    const std::uint8_t byte = 0x3A;
    for (auto _ : state)
        timed(state, samples, [&] { p.port.writeBytes(&byte, 1); });
    reportPercentiles(state, samples);
}
BENCHMARK(BM_WriteBytesOneByte);

// One record as the upload sends it: 22 single-byte writes.
void BM_WriteRecordByteByByte(benchmark::State& state) {
    OpenPort p(true);
    std::vector<double> samples;
    std::uint8_t record[22];
    for (int i = 0; i < 22; ++i)
        record[i] = static_cast<std::uint8_t>(i * 7);
    for (auto _ : state)
        timed(state, samples, [&] {
            for (std::uint8_t b : record)
                p.port.writeBytes(&b, 1);
        });
    reportPercentiles(state, samples);
}
BENCHMARK(BM_WriteRecordByteByByte);

void BM_WriteText22(benchmark::State& state) {
    OpenPort p(true);
    std::vector<double> samples;
    const std::string text = ":10000000FFFFFFFFFFFF0A";
    for (auto _ : state)
        timed(state, samples, [&] { p.port.writeText(text.substr(0, 22)); });
    reportPercentiles(state, samples);
}
BENCHMARK(BM_WriteText22);

void BM_ReadBytesOneWaiting(benchmark::State& state) {
    OpenPort p(false);
    std::vector<double> samples;
    std::uint8_t byte = 0;
    for (auto _ : state) {
        state.PauseTiming();
        p.pty.send("N");
        while (p.port.bytesWaiting() < 1) {
        }
        state.ResumeTiming();
        timed(state, samples, [&] { p.port.readBytes(&byte, 1); });
    }
    reportPercentiles(state, samples);
}
BENCHMARK(BM_ReadBytesOneWaiting);

void BM_BytesWaiting(benchmark::State& state) {
    OpenPort p(false);
    std::vector<double> samples;
    samples.reserve(1 << 20);
    p.pty.send("abc");
    for (auto _ : state)
        timed(state, samples, [&] { benchmark::DoNotOptimize(p.port.bytesWaiting()); });
    reportPercentiles(state, samples);
}
BENCHMARK(BM_BytesWaiting);

} // namespace

BENCHMARK_MAIN();
