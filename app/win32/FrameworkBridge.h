#pragma once

#include "framework/Win32HiddenWindow.h"
#include "framework/Win32MessageLoop.h"

#include <windows.h>

#include <string>

namespace app::win32 {

// Joins the Win32 message loop and the framework for as long as it lives:
//  - calls that other threads queue for the main thread (the port's event hand-overs) are run
//    from every loop of the thread, the modal loops of message boxes included (the framework's
//    message loop service);
//  - the framework's error display becomes an error box with the program's title, over the
//    window that is active; a failure on another thread is shown from the loop.
// Create it on the main thread before any port opens.
class FrameworkBridge {
public:
    FrameworkBridge();
    ~FrameworkBridge();
    FrameworkBridge(const FrameworkBridge&) = delete;
    FrameworkBridge& operator=(const FrameworkBridge&) = delete;

private:
    fw::TMessageLoopService service_;
    fw::win32::HiddenWindow window_;
};

// The application's error box: the message with an error icon, the program's title, over `owner`
// (or the active window of the thread).
void showErrorBox(HWND owner, const std::string& text);

} // namespace app::win32
