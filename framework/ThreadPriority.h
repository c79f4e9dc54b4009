#pragma once

// The platform side of thread priorities: how a TThreadPriority becomes scheduling settings of
// one Linux thread. Kept apart so that another platform replaces this file only.

#include <sys/types.h>

#include <cstdint>

namespace fw {

// Scheduling priority of a thread (see TThread::setPriority()).
enum TThreadPriority : std::uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

namespace detail {

// The nice value of the calling thread.
int currentNice();

// Gives thread `tid` the settings for `priority`, relative to `baseNice`. Returns 0, or the
// platform's error code with the thread's settings left as they were.
int applyThreadPriority(pid_t tid, int baseNice, TThreadPriority priority);

} // namespace detail
} // namespace fw
