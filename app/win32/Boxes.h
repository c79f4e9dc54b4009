#pragma once

#include <windows.h>

#include <string>

namespace app::win32 {

// A modal message box with one OK button (MessageBoxW), returning once it is dismissed. It is
// wide enough to show its whole caption, and sits over `owner` when that is shown (over the
// screen otherwise). `icon` is MB_ICONINFORMATION, MB_ICONERROR or 0.
void showBox(HWND owner, UINT icon, const std::string& caption, const std::string& text);

} // namespace app::win32
