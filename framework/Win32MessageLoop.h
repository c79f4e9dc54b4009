#pragma once

// Windows: serving the framework's main-thread queue from the thread's own Win32 message loop.
//
// A windowed program makes one TMessageLoopService on the thread that runs its message loop,
// before anything can queue work for it, and keeps it until the loop has ended:
//
//     int WINAPI wWinMain(...) {
//         fw::TMessageLoopService service; // this thread is now the main thread
//         ... create the windows ...
//         MSG msg;
//         while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
//             if (!IsDialogMessageW(form, &msg)) {
//                 TranslateMessage(&msg);
//                 DispatchMessageW(&msg);
//             }
//         }
//     }
//
// Each time another thread queues a call (synchronize(), a port's smThreadSync hand-over) or
// sends a message to one of the main thread's hidden windows, the service posts a request to a
// message-only window of its own, whose procedure then runs checkSynchronize(). Because that is
// an ordinary posted window message, every loop that dispatches the thread's messages serves the
// queue: the program's own loop and the modal loops of MessageBox, dialog boxes and a second
// window run modally, so a run goes on while a box is open. A loop that dispatches nothing (a
// plain Sleep, or WaitForSingleObject without a message wait) serves nothing, as with any window.
//
// checkSynchronize() and waitForSynchronize() go on working beside it: a program may still call
// them, and whatever is served first is not served twice.

#include <memory>

namespace fw {

class TMessageLoopService {
public:
    // Makes the calling thread the main thread (setMainThread()), creates the hidden window and
    // installs the main thread's wake hook (setWakeMainThread()), replacing any other. Work
    // queued before is served at the loop's first turn. Raises fw::Exception when the system
    // refuses the window.
    TMessageLoopService();
    // On the same thread. Removes the wake hook and the window; what is still queued waits for
    // checkSynchronize() or waitForSynchronize().
    ~TMessageLoopService();
    TMessageLoopService(const TMessageLoopService&) = delete;
    TMessageLoopService& operator=(const TMessageLoopService&) = delete;

    // The message-only window (HWND) the requests are posted to.
    void* window() const;

private:
    struct Window;
    std::unique_ptr<Window> window_;
};

} // namespace fw
