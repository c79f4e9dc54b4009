#include "app/win32/FrameworkBridge.h"

#include "app/RunHandler.h"
#include "app/Texts.h"
#include "app/win32/Boxes.h"
#include "framework/ErrorDisplay.h"
#include "framework/MainThread.h"

#include <memory>
#include <optional>

namespace app::win32 {

namespace {

constexpr UINT errorMessage = WM_APP + 2;
constexpr wchar_t pumpClass[] = L"TorvinFrameworkBridge";

} // namespace

void showErrorBox(HWND owner, const std::string& text) {
    showBox(owner ? owner : GetActiveWindow(), MB_ICONERROR, programTitle, text);
}

FrameworkBridge::FrameworkBridge()
    : window_(pumpClass, "the window that shows other threads' errors",
              [](UINT message, WPARAM, LPARAM lParam) -> std::optional<LRESULT> {
                  if (message != errorMessage) return std::nullopt;
                  std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
                  showErrorBox(nullptr, *text);
                  return 0;
              }) {
    fw::setErrorDisplay([hwnd = window_.handle()](const std::exception& error) {
        if (!fw::isMainThread()) {
            // Windows belong to the main thread: the box is shown from its loop.
            auto* text = new std::string(error.what());
            if (!PostMessageW(hwnd, errorMessage, 0, reinterpret_cast<LPARAM>(text))) delete text;
            return;
        }
        showErrorBox(nullptr, error.what());
    });
}

FrameworkBridge::~FrameworkBridge() {
    fw::setErrorDisplay({});
}

} // namespace app::win32
