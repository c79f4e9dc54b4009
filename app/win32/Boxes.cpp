#include "app/win32/Boxes.h"

#include "app/Placement.h"
#include "framework/Win32Text.h"

namespace app::win32 {

namespace {

// The box being opened on this thread and the window it belongs over.
thread_local HHOOK hook = nullptr;
thread_local HWND boxOwner = nullptr;

int captionWidth(HWND box) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    const UINT dpi = GetDpiForWindow(box) ? GetDpiForWindow(box) : 96;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    wchar_t title[256] = {};
    const int length = GetWindowTextW(box, title, 256);
    HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    HDC dc = GetDC(box);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, title, length, &size);
    SelectObject(dc, old);
    ReleaseDC(box, dc);
    DeleteObject(font);
    // The frame's icon and close button, and the borders, beside the words.
    return size.cx + 3 * metrics.iCaptionWidth + 4 * GetSystemMetricsForDpi(SM_CXFRAME, dpi) +
           MulDiv(24, static_cast<int>(dpi), 96);
}

// Widens a box that would cut its caption short, keeping its button in the middle, and puts it
// over its owner.
void arrange(HWND box) {
    RECT r;
    GetWindowRect(box, &r);
    int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const int wanted = captionWidth(box);
    if (wanted > width) {
        const int grow = wanted - width;
        width = wanted;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t cls[16] = {};
            GetClassNameW(child, cls, 16);
            if (lstrcmpiW(cls, L"Button") != 0) continue;
            RECT c;
            GetWindowRect(child, &c);
            MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&c), 2);
            SetWindowPos(child, nullptr, c.left + grow / 2, c.top, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    RECT area;
    if (boxOwner && IsWindowVisible(boxOwner)) {
        GetWindowRect(boxOwner, &area);
    } else {
        MONITORINFO mi{sizeof mi, {}, {}, 0};
        GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &mi);
        area = mi.rcWork;
    }
    // Centred over a window smaller than itself, it may reach past the screen's edge.
    MONITORINFO mi{sizeof mi, {}, {}, 0};
    GetMonitorInfoW(MonitorFromRect(&area, MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& work = mi.rcWork;
    ScreenRect place{area.left + (area.right - area.left - width) / 2,
                     area.top + (area.bottom - area.top - height) / 2, width, height};
    if (place.x + width > work.right) place.x = work.right - width;
    if (place.y + height > work.bottom) place.y = work.bottom - height;
    if (place.x < work.left) place.x = work.left;
    if (place.y < work.top) place.y = work.top;
    SetWindowPos(box, nullptr, place.x, place.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK watchForBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16] = {};
        GetClassNameW(window, cls, 16);
        if (lstrcmpW(cls, L"#32770") == 0) {
            arrange(window);
            // Once placed, the box is left alone (a box opened from it has its own hook).
            UnhookWindowsHookEx(hook);
            hook = nullptr;
            return 0;
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

// The program's texts may break lines with a lone carriage return; the box wants CR LF.
std::wstring boxText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) out += '\n';
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.insert(out.size() - 1, 1, '\r');
    }
    return fw::win32::widen(out);
}

} // namespace

void showBox(HWND owner, UINT icon, const std::string& caption, const std::string& text) {
    // A box from inside another box's loop keeps the outer hook's state aside.
    const HHOOK outerHook = hook;
    const HWND outerOwner = boxOwner;
    boxOwner = owner;
    hook = SetWindowsHookExW(WH_CBT, watchForBox, nullptr, GetCurrentThreadId());
    MessageBoxW(owner, boxText(text).c_str(), fw::win32::widen(caption).c_str(),
                MB_OK | icon | (owner ? MB_APPLMODAL : MB_TASKMODAL));
    if (hook) UnhookWindowsHookEx(hook);
    hook = outerHook;
    boxOwner = outerOwner;
}

} // namespace app::win32
