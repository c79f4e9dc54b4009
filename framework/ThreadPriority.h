#pragma once

// The platform side of threads: their ids, and how a TThreadPriority becomes scheduling settings
// of one thread. ThreadPriorityPosix.cpp and ThreadPriorityWin32.cpp hold the two platforms.

#include <cstdint>
#include <string>

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

// The system's id of a thread (Linux thread id, Windows thread id).
using ThreadId = std::int64_t;

namespace detail {

ThreadId currentThreadId();

// The system's text for one of its error codes (errno values, Windows error codes).
std::string systemErrorText(int code);

// The nice value of the calling thread (0 where the platform has none).
int currentNice();

// Gives thread `tid` the settings for `priority`, relative to `baseNice`. Returns 0, or the
// platform's error code with the thread's settings left as they were.
int applyThreadPriority(ThreadId tid, int baseNice, TThreadPriority priority);

} // namespace detail
} // namespace fw
