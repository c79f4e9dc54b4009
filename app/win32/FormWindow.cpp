#include "app/win32/FormWindow.h"

#include "app/Placement.h"
#include "framework/Win32Text.h"

#include <commctrl.h>

#include <stdexcept>

namespace app::win32 {

namespace {

constexpr wchar_t formClass[] = L"TorvinForm";
constexpr wchar_t panelClass[] = L"TorvinPanel";

std::wstring textOf(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

SIZE textExtent(HWND hwnd, const std::wstring& text) {
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return size;
}

// A raised panel with its caption centred (trailing spaces counted), the words clear of the
// panel's own controls. Its controls' notices go to the window.
LRESULT CALLBACK panelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return SendMessageW(GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT r;
        GetClientRect(hwnd, &r);
        DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        const std::wstring caption = textOf(hwnd);
        if (!caption.empty()) {
            HGDIOBJ old =
                SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
            SIZE full{}, inked{};
            GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &full);
            const std::size_t end = caption.find_last_not_of(L' ');
            const std::wstring words = caption.substr(0, end == std::wstring::npos ? 0 : end + 1);
            GetTextExtentPoint32W(dc, words.c_str(), static_cast<int>(words.size()), &inked);
            // The words end a little left of the leftmost control on the panel.
            int limit = r.right;
            for (HWND child = GetWindow(hwnd, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                RECT c;
                GetWindowRect(child, &c);
                MapWindowPoints(HWND_DESKTOP, hwnd, reinterpret_cast<POINT*>(&c), 2);
                if (IsWindowVisible(child) && c.left < limit) limit = c.left;
            }
            limit -= MulDiv(6, static_cast<int>(GetDpiForWindow(hwnd)), 96);
            const int left = panelCaptionLeft(1, r.right - 2, full.cx, inked.cx, limit);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            RECT t{left, 1, left + full.cx, r.bottom - 1};
            DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &t,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, old);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SETTEXT: {
        const LRESULT done = DefWindowProcW(hwnd, message, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return done;
    }
    // The system keeps no font for a class of its own: the panel keeps it, or its caption would
    // be drawn in the system font.
    case WM_SETFONT:
        SetWindowLongPtrW(hwnd, 0, static_cast<LONG_PTR>(wParam));
        if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT:
        return GetWindowLongPtrW(hwnd, 0);
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ControlClass classOf(ControlKind kind) {
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    switch (kind) {
    case ControlKind::Panel:
        return {panelClass, child | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT};
    case ControlKind::Button:
    case ControlKind::StartButton:
    case ControlKind::CloseButton:
        return {L"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::Shape:
        return {L"STATIC", child | SS_OWNERDRAW, 0};
    case ControlKind::ComboBox:
        return {L"COMBOBOX", child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
    case ControlKind::Label:
        return {L"STATIC", child | SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::ProgressBar:
        return {PROGRESS_CLASSW, child, 0};
    case ControlKind::HiddenText:
        return {L"EDIT", WS_CHILD | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL, 0};
    case ControlKind::Memo:
        return {L"EDIT",
                child | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", child, 0};
}

} // namespace

void registerFormClasses() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                 ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpfnWndProc = &FormWindow::windowProcForClass;
        wc.lpszClassName = formClass;
        wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1)); // the program's
        if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        if (!RegisterClassExW(&wc)) throw std::runtime_error("cannot register the window class");
        wc.lpfnWndProc = panelProc;
        wc.lpszClassName = panelClass;
        wc.hIcon = nullptr;
        wc.cbWndExtra = sizeof(HFONT); // its font (WM_SETFONT)
        if (!RegisterClassExW(&wc)) throw std::runtime_error("cannot register the panel class");
        return true;
    }();
    (void)done;
}

FormWindow::FormWindow(const FormDescription& description) : layout_(description) {
    registerFormClasses();
}

FormWindow::~FormWindow() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    dropFonts();
}

void FormWindow::create(DWORD style) {
    hwnd_ = CreateWindowExW(
        WS_EX_CONTROLPARENT, formClass, fw::win32::widen(layout_.caption).c_str(), style,
        CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!hwnd_) throw std::runtime_error("cannot create the window");
    dpi_ = GetDpiForWindow(hwnd_);
    if (dpi_ == 0) dpi_ = 96;
    controls_[ControlId::Form] = hwnd_;
    for (const ControlDescription& c : layout_.controls) {
        const ControlClass cls = classOf(c.kind);
        HWND w = CreateWindowExW(cls.exStyle, cls.name, fw::win32::widen(c.caption).c_str(),
                                 cls.style, 0, 0, 0, 0, controls_.at(c.parent),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.win32Id)),
                                 GetModuleHandleW(nullptr), nullptr);
        if (!w) throw std::runtime_error(std::string("cannot create the control ") + c.name);
        controls_[c.id] = w;
    }

    // Outer size: the main window's is its client area plus the frame, the change log's as given.
    RECT outer{0, 0, scaled(layout_.width), scaled(layout_.height)};
    if (layout_.sizeIsClient)
        AdjustWindowRectExForDpi(&outer, style, FALSE, WS_EX_CONTROLPARENT, dpi_);
    MONITORINFO mi{sizeof mi, {}, {}, 0};
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& work = mi.rcWork;
    const ScreenRect place =
        centredWithin({work.left, work.top, work.right - work.left, work.bottom - work.top},
                      outer.right - outer.left, outer.bottom - outer.top);
    SetWindowPos(hwnd_, nullptr, place.x, place.y, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    layout();
}

void FormWindow::layout() {
    dropFonts();
    for (const ControlDescription& c : layout_.controls) {
        HWND w = controls_.at(c.id);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font(c.font)), FALSE);
        int height = scaled(c.height);
        // A drop-down list's height is its open list's; the closed box takes the font's.
        if (c.kind == ControlKind::ComboBox) height = scaled(c.height + 200);
        SetWindowPos(w, nullptr, scaled(c.left), scaled(c.top), scaled(c.width), height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (c.width == 0) fitLabel(c);
    }
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font({})), FALSE);
    laidOut();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void FormWindow::fitLabel(const ControlDescription& c) {
    HWND w = controls_.at(c.id);
    const SIZE size = textExtent(w, textOf(w));
    SetWindowPos(w, nullptr, 0, 0, size.cx + 1, size.cy,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

void FormWindow::setControlText(ControlId id, const std::string& text) {
    HWND w = controls_.at(id);
    const ControlDescription& c = describedControl(layout_, id);
    RECT before;
    GetWindowRect(w, &before);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&before), 2);
    SetWindowTextW(w, fw::win32::widen(text).c_str());
    if (c.kind == ControlKind::Label) {
        fitLabel(c);
        // What a longer text covered goes back to the parent's background.
        InvalidateRect(GetParent(w), &before, TRUE);
    }
}

HFONT FormWindow::font(const FontStyle& f) {
    auto& slot = fonts_[{f.points, f.bold}];
    if (!slot) {
        slot = CreateFontW(-MulDiv(f.points, static_cast<int>(dpi_), 72), 0, 0, 0,
                           f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
    }
    return slot;
}

void FormWindow::dropFonts() {
    for (auto& [key, f] : fonts_)
        DeleteObject(f);
    fonts_.clear();
}

LRESULT FormWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        for (const ControlDescription& c : layout_.controls) {
            if (c.win32Id != id) continue;
            if (c.kind == ControlKind::Memo) {
                // A read-only memo still reads as text on white.
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            SetTextColor(dc, RGB((c.colour >> 16) & 0xFF, (c.colour >> 8) & 0xFF, c.colour & 0xFF));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        const RECT* r = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        layout();
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK FormWindow::windowProcForClass(HWND hwnd, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

} // namespace app::win32
