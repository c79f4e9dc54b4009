// Overlapped reading and writing, their outcome, cancelling and purging.

#include "comport/driver/win32/Win32Driver.h"
#include "comport/driver/win32/Win32Handles.h"

namespace comport::driver::win32 {

bool Win32Driver::readFile(Handle device, void* buffer, std::uint32_t count, std::uint32_t* read,
                           Overlapped* request) {
    DWORD n = 0;
    const bool done =
        started(ReadFile(toHandle(device), buffer, count, &n, toOverlapped(request)), request);
    if (read) *read = n;
    return done;
}

bool Win32Driver::writeFile(Handle device, const void* bytes, std::uint32_t count,
                            std::uint32_t* written, Overlapped* request) {
    DWORD n = 0;
    const bool done =
        started(WriteFile(toHandle(device), bytes, count, &n, toOverlapped(request)), request);
    if (written) *written = n;
    return done;
}

namespace {
// How a driver ends a read or write whose time-out has run out: a success status, the request
// having moved what it could. Windows reports such a request as succeeded; Wine reports every
// status but 0 as a failure (ERROR_TIMEOUT), which would turn a read time-out into a read error.
constexpr std::uintptr_t statusTimeout = 0x102;
} // namespace

bool Win32Driver::getOverlappedResult(Handle device, Overlapped* request, std::uint32_t* moved,
                                      bool wait) {
    DWORD n = 0;
    bool done = GetOverlappedResult(toHandle(device), toOverlapped(request), &n, wait);
    if (!done && GetLastError() == ERROR_TIMEOUT && request->Internal == statusTimeout) {
        n = static_cast<DWORD>(request->InternalHigh);
        done = true;
    }
    if (moved) *moved = n;
    return done;
}

bool Win32Driver::cancelIoEx(Handle device, Overlapped* request) {
    return CancelIoEx(toHandle(device), toOverlapped(request));
}

bool Win32Driver::purgeComm(Handle device, std::uint32_t flags) {
    return PurgeComm(toHandle(device), flags);
}

} // namespace comport::driver::win32
