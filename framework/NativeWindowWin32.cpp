// On Windows each hidden window is also a message-only system window of its owner thread. A
// message sent to the hidden window from another thread posts the system window a request to
// serve, which the thread's message loop dispatches like any other, modal loops included; the
// framework's own waits serve it as before, and whichever comes first does the work.

#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/ThreadHub.h"
#include "framework/Win32Text.h"

#include <windows.h>

namespace fw::detail {

namespace {

const wchar_t className[] = L"TorvinHiddenWindow";

UINT serveRequest() {
    static const UINT message = RegisterWindowMessageW(L"TorvinServeSentMessages");
    return message;
}

std::shared_ptr<WindowEntry> entryOf(HWND window) {
    const auto handle = static_cast<TWindowHandle>(GetWindowLongPtrW(window, GWLP_USERDATA));
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

LRESULT CALLBACK nativeProcedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == serveRequest() && serveRequest() != 0) {
        if (auto entry = entryOf(window)) entry->servePosted.store(false);
        // Every message sent to this thread's windows, in the order they came.
        serveSentMessages();
        return 0;
    }
    if (msg >= WM_USER && msg < 0xC000) {
        if (auto entry = entryOf(window)) return runProcedure(*entry, msg, wParam, lParam);
        return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

void registerClass() {
    static const bool registered = [] {
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = nativeProcedure;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = className;
        return RegisterClassExW(&c) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered)
        throw Exception("The hidden window's class cannot be registered: " +
                        win32::errorMessage(GetLastError()));
}

} // namespace

void createNativeWindow(WindowEntry& entry) {
    registerClass();
    HWND window = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window)
        throw Exception("The hidden window cannot be created: " +
                        win32::errorMessage(GetLastError()));
    SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(entry.handle));
    entry.native = window;
}

void destroyNativeWindow(WindowEntry& entry) noexcept {
    HWND window = static_cast<HWND>(entry.native);
    if (!window) return;
    // Only its owner thread may destroy a system window; from another thread it is asked to
    // close, which its own loop then does (and the thread's end does in any case).
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        DestroyWindow(window);
    else
        PostMessageW(window, WM_CLOSE, 0, 0);
}

void wakeNativeWindow(WindowEntry& entry) noexcept {
    HWND window = static_cast<HWND>(entry.native);
    if (!window || entry.servePosted.exchange(true)) return;
    // A request already waiting serves this message too. A full queue leaves the framework's
    // own waits to serve it.
    if (!PostMessageW(window, serveRequest(), 0, 0)) entry.servePosted.store(false);
}

} // namespace fw::detail
