#include "app/win32/TForm2.h"

#include "app/ChangeLog.h"
#include "app/Placement.h"
#include "framework/Win32Text.h"

namespace app::win32 {

TForm2::TForm2() : FormWindow(form2Layout()) {
    create(WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
    std::string text;
    for (std::size_t i = 0; i < changeLogLines.size(); ++i) {
        if (i) text += "\r\n";
        text += changeLogLines[i];
    }
    SetWindowTextW(control(ControlId::Memolog), fw::win32::widen(text).c_str());
}

void TForm2::setCascade(int index) {
    RECT r;
    GetWindowRect(hwnd(), &r);
    MONITORINFO mi{sizeof mi, {}, {}, 0};
    GetMonitorInfoW(MonitorFromWindow(hwnd(), MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& work = mi.rcWork;
    // A title bar's height apart: each window's title stays in sight.
    const ScreenRect at =
        cascaded({work.left, work.top, work.right - work.left, work.bottom - work.top},
                 {r.left, r.top, r.right - r.left, r.bottom - r.top}, index,
                 GetSystemMetricsForDpi(SM_CYCAPTION, GetDpiForWindow(hwnd())) +
                     GetSystemMetricsForDpi(SM_CYFRAME, GetDpiForWindow(hwnd())));
    SetWindowPos(hwnd(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm2::show() {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetFocus(control(ControlId::Memolog));
}

// The layout's margins are taken at the layout's size, once; the memo then keeps them.
void TForm2::laidOut() {
    if (margins_.cx == 0 && margins_.cy == 0) {
        const ControlDescription& memo = describedControl(layout_, ControlId::Memolog);
        RECT outer{0, 0, layout_.width, layout_.height};
        RECT frame{0, 0, 0, 0};
        AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongW(hwnd(), GWL_STYLE)),
                                 FALSE, 0, 96);
        const int clientWidth = outer.right - (frame.right - frame.left);
        const int clientHeight = outer.bottom - (frame.bottom - frame.top);
        margins_ = {clientWidth - memo.left - memo.width, clientHeight - memo.top - memo.height};
        if (margins_.cx < 0) margins_.cx = 0;
        if (margins_.cy < 0) margins_.cy = 0;
    }
    fitMemo();
}

void TForm2::fitMemo() {
    RECT client;
    GetClientRect(hwnd(), &client);
    const ControlDescription& memo = describedControl(layout_, ControlId::Memolog);
    const int width = client.right - scaled(memo.left) - scaled(margins_.cx);
    const int height = client.bottom - scaled(memo.top) - scaled(margins_.cy);
    SetWindowPos(control(ControlId::Memolog), nullptr, 0, 0, width > 32 ? width : 32,
                 height > 32 ? height : 32, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT TForm2::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        fitMemo();
        return 0;
    case WM_CLOSE:
        ShowWindow(hwnd(), SW_HIDE);
        return 0;
    default:
        return FormWindow::handle(message, wParam, lParam);
    }
}

} // namespace app::win32
