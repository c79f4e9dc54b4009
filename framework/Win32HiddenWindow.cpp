#include "framework/Win32HiddenWindow.h"

#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/Win32Text.h"

namespace fw::win32 {

namespace {

// The handler, owned by the system window from its first message to its last (WM_NCDESTROY), so
// that a window destroyed later by its own loop never calls into freed state.
struct State {
    HiddenWindow::Handler handler;
    bool adopted = false; // the window has taken it over
};

LRESULT CALLBACK procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* state = static_cast<State*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        state->adopted = true;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete state;
        return DefWindowProcW(window, msg, wParam, lParam);
    }
    if (state && state->handler) {
        // Nothing may leave a window procedure into the system's code.
        try {
            if (const auto answer = state->handler(msg, wParam, lParam)) return *answer;
        } catch (const std::exception& e) {
            showException(e);
            return 0;
        } catch (...) {
            showException(Exception("A hidden window's procedure failed with an unknown error"));
            return 0;
        }
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 32);
    return text;
}

} // namespace

HiddenWindow::HiddenWindow(const wchar_t* className, const std::string& purpose, Handler handler,
                           Kind kind) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = className;
    if (!RegisterClassExW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception(capitalised(purpose) +
                        " cannot be registered: " + errorMessage(GetLastError()));
    auto* state = new State{std::move(handler)};
    // Top-level: hidden (never shown), and WS_EX_TOOLWINDOW keeps it out of the task bar.
    window_ = kind == Kind::topLevel
                  ? CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), state)
                  : CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    GetModuleHandleW(nullptr), state);
    if (!window_) {
        const DWORD code = GetLastError();
        if (!state->adopted) delete state; // else its WM_NCDESTROY took it
        throw Exception(capitalised(purpose) + " cannot be created: " + errorMessage(code));
    }
}

HiddenWindow::~HiddenWindow() {
    if (!window_) return;
    // Only its owner thread may destroy a system window.
    if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId())
        DestroyWindow(window_);
    else
        PostMessageW(window_, WM_CLOSE, 0, 0);
}

bool PostedRequest::post() noexcept {
    if (posted_.exchange(true)) return true; // the one waiting serves this too
    if (PostMessageW(window_, message_, 0, 0)) return true;
    const DWORD code = GetLastError();
    posted_.store(false);
    SetLastError(code);
    return false;
}

} // namespace fw::win32
