#include "app/win32/MainThreadPump.h"

#include "app/RunHandler.h"
#include "app/Texts.h"
#include "app/win32/Boxes.h"
#include "framework/ErrorDisplay.h"
#include "framework/MainThread.h"
#include "framework/Win32Text.h"

#include <memory>
#include <stdexcept>

namespace app::win32 {

namespace {

constexpr UINT errorMessage = WM_APP + 2;
constexpr wchar_t pumpClass[] = L"TorvinMainThreadPump";

} // namespace

void showErrorBox(HWND owner, const std::string& text) {
    showBox(owner ? owner : GetActiveWindow(), MB_ICONERROR, programTitle, text);
}

MainThreadPump::MainThreadPump() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = pumpClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::runtime_error("The window that shows other threads' errors cannot be "
                                 "registered: " +
                                 fw::win32::errorMessage(GetLastError()));
    hwnd_ = CreateWindowExW(0, pumpClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_)
        throw std::runtime_error("The window that shows other threads' errors cannot be "
                                 "created: " +
                                 fw::win32::errorMessage(GetLastError()));
    fw::setErrorDisplay([hwnd = hwnd_](const std::exception& error) {
        if (!fw::isMainThread()) {
            // Windows belong to the main thread: the box is shown from its loop.
            auto* text = new std::string(error.what());
            if (!PostMessageW(hwnd, errorMessage, 0, reinterpret_cast<LPARAM>(text))) delete text;
            return;
        }
        showErrorBox(nullptr, error.what());
    });
}

MainThreadPump::~MainThreadPump() {
    fw::setErrorDisplay({});
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK MainThreadPump::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case errorMessage: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        showErrorBox(nullptr, *text);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

} // namespace app::win32
