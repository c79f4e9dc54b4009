#pragma once

// One object per thread, made on first use and destroyed when its thread ends.
//
// On Windows not a thread_local with a destructor: mingw-w64 keeps thread_local objects in
// emulated thread storage that the thread's end may free before their destructors run, which
// corrupts the heap (seen with every few runs of a program that starts and ends threads). A
// fibre-local slot, whose callback runs while the thread is still whole, holds the object there.

#include <cstdint>

namespace fw::detail {

#if defined(_WIN32)
// PerThreadWin32.cpp: a slot whose `atEnd` gets the thread's value when the thread ends.
std::uint32_t newThreadEndSlot(void (*atEnd)(void*));
void* threadEndSlotValue(std::uint32_t slot);
void setThreadEndSlotValue(std::uint32_t slot, void* value);
#endif

template <class T> T& perThread() {
#if defined(_WIN32)
    static const std::uint32_t slot =
        newThreadEndSlot([](void* value) { delete static_cast<T*>(value); });
    auto* value = static_cast<T*>(threadEndSlotValue(slot));
    if (!value) {
        value = new T;
        setThreadEndSlotValue(slot, value);
    }
    return *value;
#else
    thread_local T value;
    return value;
#endif
}

} // namespace fw::detail
