#include "cli/torvin-upload/InterruptWatch.h"

#include "framework/MainThread.h"

#include <windows.h>

namespace torvinupload {
namespace {

std::atomic<InterruptWatch*> active{nullptr};
std::atomic<int> handling{0}; // handler calls that may still touch the watch

} // namespace

struct InterruptWatch::Platform {
    static BOOL WINAPI handler(DWORD event) {
        const bool closing =
            event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
        if (!closing && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
        ++handling;
        InterruptWatch* watch = active.load();
        if (watch) watch->record(closing ? SIGTERM : SIGINT);
        --handling;
        if (!watch) return FALSE;
        // Windows ends the program as soon as this returns from a close: hold it here until the
        // main thread has closed the ports and ended the program (the system's own limit aside).
        if (closing)
            for (;;)
                Sleep(INFINITE);
        return TRUE;
    }
};

InterruptWatch::InterruptWatch() {
    active.store(this);
    SetConsoleCtrlHandler(&Platform::handler, TRUE);
}

InterruptWatch::~InterruptWatch() {
    active.store(nullptr);
    // A handler call under way may be waiting for the main thread to take its wake-up call.
    while (handling.load() > 0)
        fw::waitForSynchronize(std::chrono::milliseconds(10));
    SetConsoleCtrlHandler(&Platform::handler, FALSE);
}

} // namespace torvinupload
