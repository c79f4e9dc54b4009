#include "framework/Win32MessageLoop.h"

#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/MainThread.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <atomic>

namespace fw {

namespace {

const wchar_t className[] = L"TorvinMainThreadQueue";

UINT serveRequest() {
    static const UINT message = RegisterWindowMessageW(L"TorvinServeMainThreadQueue");
    return message;
}

// At most one request waits in the queue: the hook may be called for every byte a port
// receives, and each call needs only one turn of the loop after it.
std::atomic<bool> requestPosted{false};

LRESULT CALLBACK procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != serveRequest() || serveRequest() == 0)
        return DefWindowProcW(window, msg, wParam, lParam);
    // Cleared before serving: what is queued meanwhile (also from a call that opens a modal
    // loop here) posts a request of its own.
    requestPosted.store(false);
    try {
        checkSynchronize();
    } catch (const std::exception& e) {
        showException(e); // only when the main thread was moved elsewhere since
    }
    return 0;
}

void registerClass() {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = className;
    if (!RegisterClassExW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("The main thread's queue window cannot be registered: " +
                        win32::errorMessage(GetLastError()));
}

} // namespace

TMessageLoopService::TMessageLoopService() {
    registerClass();
    HWND window = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window)
        throw Exception("The main thread's queue window cannot be created: " +
                        win32::errorMessage(GetLastError()));
    window_ = window;
    setMainThread();
    requestPosted.store(false);
    setWakeMainThread([window] {
        if (requestPosted.exchange(true)) return;
        if (!PostMessageW(window, serveRequest(), 0, 0)) {
            requestPosted.store(false);
            // The caller's hand-over fails rather than waiting for a turn that never comes.
            throw Exception("The main thread cannot be woken: " +
                            win32::errorMessage(GetLastError()));
        }
    });
    // Whatever was queued before the hook was there.
    PostMessageW(window, serveRequest(), 0, 0);
}

TMessageLoopService::~TMessageLoopService() {
    setWakeMainThread({});
    DestroyWindow(static_cast<HWND>(window_));
}

} // namespace fw
