// On Windows each hidden window is also a message-only system window of its owner thread. A
// message sent to the hidden window from another thread posts the system window a request to
// serve, which the thread's message loop dispatches like any other, modal loops included; the
// framework's own waits serve it as before, and whichever comes first does the work.

#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/ThreadHub.h"
#include "framework/Win32HiddenWindow.h"

#include <optional>

namespace fw::detail {

namespace {

UINT serveRequest() {
    static const UINT message = RegisterWindowMessageW(L"TorvinServeSentMessages");
    return message;
}

std::shared_ptr<WindowEntry> entryOf(TWindowHandle handle) {
    Hub& h = hub();
    std::lock_guard l(h.lock);
    auto it = h.windows.find(handle);
    return it == h.windows.end() ? nullptr : it->second;
}

// A message posted or sent with the system's calls: the window's procedure, called directly.
LRESULT runProcedure(WindowEntry& entry, UINT msg, WPARAM wParam, LPARAM lParam) {
    TMessage message{msg, wParam, lParam, 0};
    try {
        entry.procedure(message);
    } catch (const std::exception& e) {
        // Nothing may leave a window procedure into the system's code.
        showException(e);
    } catch (...) {
        showException(Exception("A window procedure failed with an unknown error"));
    }
    return message.result;
}

} // namespace

struct NativeWindow {
    explicit NativeWindow(TWindowHandle handle)
        : window(std::in_place, L"TorvinHiddenWindow", "the hidden window",
                 [handle](UINT msg, WPARAM wParam, LPARAM lParam) -> std::optional<LRESULT> {
                     if (msg == serveRequest() && serveRequest() != 0) {
                         if (auto entry = entryOf(handle)) entry->system->request.taken();
                         // Every message sent to this thread's windows, in the order they came.
                         serveSentMessages();
                         return 0;
                     }
                     if (msg >= WM_USER && msg < 0xC000) {
                         if (auto entry = entryOf(handle))
                             return runProcedure(*entry, msg, wParam, lParam);
                         return 0;
                     }
                     return std::nullopt;
                 }),
          request(window->handle(), serveRequest()) {}

    std::optional<win32::HiddenWindow> window; // gone once destroyed; the request outlives it
    win32::PostedRequest request;
};

void createNativeWindow(WindowEntry& entry) {
    entry.system = std::make_shared<NativeWindow>(entry.handle);
    entry.native = entry.system->window->handle();
}

void destroyNativeWindow(WindowEntry& entry) noexcept {
    if (entry.system) entry.system->window.reset();
}

void wakeNativeWindow(WindowEntry& entry) noexcept {
    // A request already waiting serves this message too. A full queue leaves the framework's
    // own waits to serve it.
    if (entry.system) entry.system->request.post();
}

} // namespace fw::detail
