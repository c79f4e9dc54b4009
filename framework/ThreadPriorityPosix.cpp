#include "framework/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace fw::detail {

namespace {

int niceFor(int baseNice, TThreadPriority priority) {
    int nice = baseNice;
    switch (priority) {
    case tpIdle:
    case tpNormal:
        break;
    case tpLowest:
        nice += 10;
        break;
    case tpLower:
        nice += 5;
        break;
    case tpHigher:
        nice -= 5;
        break;
    case tpHighest:
        nice -= 10;
        break;
    case tpTimeCritical:
        nice = -20;
        break;
    }
    return std::clamp(nice, -20, 19);
}

int niceOf(pid_t tid, int& nice) {
    errno = 0;
    nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return nice == -1 ? errno : 0;
}

} // namespace

ThreadId currentThreadId() {
    return ::gettid();
}

std::string systemErrorText(int code) {
    return std::generic_category().message(code);
}

int currentNice() {
    int nice = 0;
    return niceOf(0, nice) == 0 ? nice : 0;
}

int applyThreadPriority(ThreadId id, int baseNice, TThreadPriority priority) {
    const auto tid = static_cast<pid_t>(id);
    const int policy = sched_getscheduler(tid);
    if (policy < 0) return errno;
    int oldNice = 0;
    if (int e = niceOf(tid, oldNice)) return e;

    // The idle class ignores the nice value; keep the base one so that leaving it is plain.
    const int wantedPolicy = priority == tpIdle ? SCHED_IDLE : SCHED_OTHER;
    const int wantedNice = niceFor(baseNice, priority);
    if (wantedNice != oldNice &&
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), wantedNice) != 0) {
        return errno;
    }
    if (policy != wantedPolicy) {
        sched_param param{};
        param.sched_priority = 0;
        if (sched_setscheduler(tid, wantedPolicy, &param) != 0) {
            const int e = errno;
            setpriority(PRIO_PROCESS, static_cast<id_t>(tid), oldNice);
            return e;
        }
    }
    return 0;
}

} // namespace fw::detail
