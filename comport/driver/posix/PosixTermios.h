#pragma once

// Line settings of a terminal device through termios2 (kept in one file: the kernel's termios2
// header cannot be combined with the C library's termios).

#ifndef _WIN32

#include "comport/driver/ComDriver.h"

namespace comport::driver::posix {

// Puts the line in raw mode both ways (no echo, line editing, signals, character translation or
// output processing), receiver on, modem control ignored for I/O; non-blocking reads then say
// EAGAIN when nothing has arrived. Returns 0 or an errno value.
int makeRaw(int fd);

struct LineMode {
    bool parityMarks = false; // errored bytes arrive marked (\377 \0 byte) for replacement
    bool rs485 = false;       // RTS toggled by the driver around each transmission
};

// Maps a device control block onto the line; `mode` says what the reading side must emulate and
// how the driver was left. Returns 0 or an errno value (EINVAL for what the line cannot do).
int applyDcb(int fd, const Dcb& dcb, LineMode& mode);

// Asks for the driver's low-latency mode where it has one; failures are ignored.
void requestLowLatency(int fd);

// tcflush and tcflow through the terminal ioctls. Return 0 or an errno value.
int flushQueues(int fd, bool input, bool output);
int suspendOutput(int fd, bool suspend);

} // namespace comport::driver::posix

#endif
