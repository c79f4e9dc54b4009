#pragma once

// What closing does with output the driver still holds: it lets the output go while it moves,
// and once it has stopped moving (CTS low, XOFF received, a cable pulled) it discards it, since
// the port has given up on it; the kernel would otherwise hold the close for its closing wait
// (30 s by default).

#include <functional>

namespace comport::driver {

struct OutputProbe {
    std::function<int()> queued;   // bytes the driver still holds to send
    std::function<void()> pause;   // waits long enough for moving output to show progress
    std::function<void()> discard; // throws the held output away
};

// Returns whether output was discarded.
bool settleOutput(const OutputProbe& probe);

} // namespace comport::driver
