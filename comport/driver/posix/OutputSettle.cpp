#include "comport/driver/posix/OutputSettle.h"

#include <algorithm>

namespace comport::driver {

namespace {

// A high-speed USB adapter hands its output to the line in blocks of this many bytes, and its
// queue count drops a block at a time: a pause shorter than a block at the line's rate would see
// output that moves as stopped.
constexpr int transferBlock = 512;
constexpr std::chrono::microseconds shortestPause{100'000};

} // namespace

bool settleOutput(const OutputProbe& probe, std::chrono::microseconds characterTime) {
    const auto pause = std::max(characterTime * transferBlock, shortestPause);
    const std::chrono::microseconds limit = closingWait;
    std::chrono::microseconds waited{0};
    int left = probe.queued();
    while (left > 0) {
        if (waited >= limit) break;
        const auto step = std::min(pause, limit - waited);
        probe.wait(step);
        waited += step;
        const int now = probe.queued();
        if (now >= left) break;
        left = now;
    }
    if (left <= 0) return false;
    probe.discard();
    return true;
}

} // namespace comport::driver
