#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace app::win32 {

// Joins the Win32 message loop and the framework for as long as it lives:
//  - calls that other threads queue for the main thread (the port's event hand-overs) are run
//    from the message loop: the wake hook posts a message to a message-only window, which every
//    loop of the thread dispatches, the modal loops of message boxes included;
//  - the framework's error display becomes an error box with the program's title, over the
//    window that is active; a failure on another thread is shown from the loop.
// Create it on the main thread before any port opens. A framework that serves its queue from
// native loops itself makes the first part unneeded: then only the error display stays here.
class MainThreadPump {
public:
    MainThreadPump();
    ~MainThreadPump();
    MainThreadPump(const MainThreadPump&) = delete;
    MainThreadPump& operator=(const MainThreadPump&) = delete;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void wake();

    HWND hwnd_ = nullptr;
    // Set while a wake message is on its way, so that a burst of hand-overs posts one.
    std::atomic<bool> pending_{false};
};

// The application's error box: the message with an error icon, the program's title, over `owner`
// (or the active window of the thread).
void showErrorBox(HWND owner, const std::string& text);

} // namespace app::win32
