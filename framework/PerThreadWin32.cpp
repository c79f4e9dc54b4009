#include "framework/PerThread.h"

#include "framework/Win32Text.h"

#include <stdexcept>
#include <windows.h>

namespace fw::detail {

std::uint32_t newThreadEndSlot(void (*atEnd)(void*)) {
    const DWORD slot = FlsAlloc(atEnd);
    if (slot == FLS_OUT_OF_INDEXES)
        throw std::runtime_error("No per-thread storage slot left: " +
                                 win32::errorMessage(GetLastError()));
    return slot;
}

void* threadEndSlotValue(std::uint32_t slot) {
    return FlsGetValue(slot);
}

void setThreadEndSlotValue(std::uint32_t slot, void* value) {
    FlsSetValue(slot, value);
}

} // namespace fw::detail
