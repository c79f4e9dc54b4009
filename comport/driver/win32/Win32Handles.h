#pragma once

// The device layer's values as the system's: the handle and request types are the system's own
// under other names, so they convert without copying.

#include "comport/driver/ComDriver.h"

#include <windows.h>

#include <cstddef>

namespace comport::driver::win32 {

inline HANDLE toHandle(std::uintptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
inline std::uintptr_t fromHandle(HANDLE h) {
    return reinterpret_cast<std::uintptr_t>(h);
}

// The request record is laid out as the system's OVERLAPPED, so the system writes its status and
// byte count straight into the caller's record while the request runs.
static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, Internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(Overlapped, InternalHigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(Overlapped, Offset) == offsetof(OVERLAPPED, Offset));
static_assert(offsetof(Overlapped, OffsetHigh) == offsetof(OVERLAPPED, OffsetHigh));
static_assert(offsetof(Overlapped, hEvent) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(EventHandle) == sizeof(HANDLE) && sizeof(Handle) == sizeof(HANDLE));
static_assert(invalidHandleValue == static_cast<Handle>(-1));
static_assert(waitTimeout == WAIT_TIMEOUT && waitFailed == WAIT_FAILED &&
              waitObject0 == WAIT_OBJECT_0);
static_assert(errorIoPending == ERROR_IO_PENDING && errorIoIncomplete == ERROR_IO_INCOMPLETE);

inline OVERLAPPED* toOverlapped(Overlapped* request) {
    return reinterpret_cast<OVERLAPPED*>(request);
}

// The device layer's contract: a request's event is set when the request has ended, and one that
// fails at once has ended. Windows leaves the event of such a request as the start left it
// (reset), and whoever waited for it would wait forever; so it is set here, keeping the error.
inline bool started(bool done, Overlapped* request) {
    if (!done && request && request->hEvent) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            SetEvent(toHandle(request->hEvent));
            SetLastError(error);
        }
    }
    return done;
}

} // namespace comport::driver::win32
