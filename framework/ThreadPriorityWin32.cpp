#include "framework/ThreadPriority.h"

#include "framework/Win32Text.h"

#include <windows.h>

namespace fw::detail {

ThreadId currentThreadId() {
    return static_cast<ThreadId>(GetCurrentThreadId());
}

// Windows priorities are absolute levels within the process's class, so there is no base to keep.
std::string systemErrorText(int code) {
    return win32::errorMessage(static_cast<std::uint32_t>(code));
}

int currentNice() {
    return 0;
}

int applyThreadPriority(ThreadId id, int, TThreadPriority priority) {
    static constexpr int levels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                     THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                     THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                     THREAD_PRIORITY_TIME_CRITICAL};
    HANDLE thread = OpenThread(THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION, FALSE,
                               static_cast<DWORD>(id));
    if (!thread) return static_cast<int>(GetLastError());
    const bool done = SetThreadPriority(thread, levels[priority]) != 0;
    const int code = done ? 0 : static_cast<int>(GetLastError());
    CloseHandle(thread);
    return code;
}

} // namespace fw::detail
