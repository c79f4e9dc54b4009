// Elsewhere than on Windows a hidden window is the framework's alone: its owner thread serves it
// through the framework's own waits (MessageWindow.h).

#include "framework/ThreadHub.h"

namespace fw::detail {

void createNativeWindow(WindowEntry&) {}
void destroyNativeWindow(WindowEntry&) noexcept {}
void wakeNativeWindow(WindowEntry&) noexcept {}

} // namespace fw::detail
