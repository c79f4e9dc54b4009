#pragma once

// Windows: a system window that nobody sees, through which a thread's message loop serves the
// program's own messages (requests to serve a queue, errors to show, device notices). Every such
// window of the program is made here, so that registering its class, creating it, routing its
// messages to a handler and destroying it on the right thread are written once.

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace fw::win32 {

class HiddenWindow {
public:
    // What the window hears. messageOnly: only what is posted or sent to it. topLevel: also the
    // system's broadcasts (WM_DEVICECHANGE), which never reach message-only windows; hidden, and
    // kept out of the task bar.
    enum class Kind { messageOnly, topLevel };
    // Answers a message, or leaves it to the system's default (nothing).
    using Handler = std::function<std::optional<LRESULT>(UINT msg, WPARAM wParam, LPARAM lParam)>;

    // A window of the calling thread, of the class `className` (registered here unless it already
    // is). Raises fw::Exception, naming `purpose` ("the main thread's queue window") and the
    // system's reason, when the class or the window is refused.
    HiddenWindow(const wchar_t* className, const std::string& purpose, Handler handler,
                 Kind kind = Kind::messageOnly);
    // On the owner thread the window goes at once; from another thread it is asked to close,
    // which its own loop then does (and the thread's end does in any case). The handler is not
    // called once the window is gone.
    ~HiddenWindow();
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    HWND handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

// A request to serve, posted to a window at most once while it waits: the wake may come for every
// byte a port receives, and each needs only one turn of the loop after it. The window's handler
// calls taken() before serving, so that what comes meanwhile posts a request of its own.
class PostedRequest {
public:
    PostedRequest(HWND window, UINT message) : window_(window), message_(message) {}
    // False when the system refused to post (a full queue); nothing waits then.
    bool post() noexcept;
    void taken() noexcept { posted_.store(false); }

private:
    HWND window_;
    UINT message_;
    std::atomic<bool> posted_{false};
};

} // namespace fw::win32
