#pragma once

// What closing does with output the driver still holds: it lets the output go while it moves,
// and once it has stopped moving (CTS low, XOFF received, a cable pulled) it discards it, since
// the port has given up on it; the kernel would otherwise hold the close for its closing wait
// (30 s by default). Output that moves but would take longer than that is discarded then too.

#include <chrono>
#include <functional>

namespace comport::driver {

struct OutputProbe {
    std::function<int()> queued;                         // bytes the driver still holds to send
    std::function<void(std::chrono::microseconds)> wait; // sleeps that long
    std::function<void()> discard;                       // throws the held output away
};

// The longest a close lets output drain, as the kernel's own closing wait.
inline constexpr std::chrono::seconds closingWait{30};

// Lets the output drain for at most closingWait, looking at it after each pause; `characterTime`
// is how long one character takes on the line. Returns whether output was discarded.
bool settleOutput(const OutputProbe& probe, std::chrono::microseconds characterTime);

} // namespace comport::driver
