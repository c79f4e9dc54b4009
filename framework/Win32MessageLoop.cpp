#include "framework/Win32MessageLoop.h"

#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/MainThread.h"
#include "framework/Win32HiddenWindow.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <optional>

namespace fw {

namespace {

UINT serveRequest() {
    static const UINT message = RegisterWindowMessageW(L"TorvinServeMainThreadQueue");
    return message;
}

} // namespace

struct TMessageLoopService::Window {
    Window()
        : hidden(L"TorvinMainThreadQueue", "the main thread's queue window",
                 [this](UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
                     if (msg != serveRequest() || serveRequest() == 0) return std::nullopt;
                     // Taken before serving: what is queued meanwhile (also from a call that
                     // opens a modal loop here) posts a request of its own.
                     request.taken();
                     try {
                         checkSynchronize();
                     } catch (const std::exception& e) {
                         showException(e); // only when the main thread was moved elsewhere since
                     }
                     return 0;
                 }),
          request(hidden.handle(), serveRequest()) {}

    win32::HiddenWindow hidden;
    // At most one request waits in the queue: the hook may be called for every byte a port
    // receives, and each call needs only one turn of the loop after it.
    win32::PostedRequest request;
};

TMessageLoopService::TMessageLoopService() : window_(std::make_unique<Window>()) {
    setMainThread();
    setWakeMainThread([window = window_.get()] {
        if (!window->request.post())
            // The caller's hand-over fails rather than waiting for a turn that never comes.
            throw Exception("The main thread cannot be woken: " +
                            win32::errorMessage(GetLastError()));
    });
    // Whatever was queued before the hook was there.
    window_->request.post();
}

TMessageLoopService::~TMessageLoopService() {
    setWakeMainThread({});
}

void* TMessageLoopService::window() const {
    return window_->hidden.handle();
}

} // namespace fw
