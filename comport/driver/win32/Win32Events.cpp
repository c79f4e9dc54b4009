// Events and waits on them; the calling thread's last error and its text.

#include "comport/driver/win32/Win32Driver.h"
#include "comport/driver/win32/Win32Handles.h"
#include "framework/Win32Text.h"

#include <vector>

namespace comport::driver::win32 {

EventHandle Win32Driver::createEvent(bool manualReset, bool initialState) {
    HANDLE h = CreateEventW(nullptr, manualReset, initialState, nullptr);
    return h ? fromHandle(h) : 0;
}

bool Win32Driver::setEvent(EventHandle event) {
    return SetEvent(toHandle(event));
}

bool Win32Driver::resetEvent(EventHandle event) {
    return ResetEvent(toHandle(event));
}

bool Win32Driver::closeEvent(EventHandle event) {
    return CloseHandle(toHandle(event));
}

std::uint32_t Win32Driver::waitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
    return WaitForSingleObject(toHandle(event), milliseconds);
}

std::uint32_t Win32Driver::waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                                  bool waitAll, std::uint32_t milliseconds) {
    std::vector<HANDLE> handles(count);
    for (std::uint32_t i = 0; i < count; ++i)
        handles[i] = toHandle(events[i]);
    return WaitForMultipleObjects(count, handles.data(), waitAll, milliseconds);
}

std::uint32_t Win32Driver::getLastError() {
    return GetLastError();
}

std::string Win32Driver::systemErrorMessage(std::uint32_t code) {
    return fw::win32::errorMessage(code);
}

} // namespace comport::driver::win32
