#include "app/win32/TForm1.h"

#include "app/win32/Boxes.h"
#include "app/win32/Pictures.h"
#include "app/win32/TForm2.h"
#include "framework/Translation.h"
#include "framework/Win32Text.h"
#include "upload/FirmwareImage.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace app::win32 {

namespace {

constexpr UINT laterMessage = WM_APP + 10;
constexpr UINT_PTR timer1 = 1;

COLORREF colourRef(std::uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

} // namespace

TForm1::TForm1(const std::string& extraPort) : FormWindow(form1Layout()) {
    // A fixed single border and a caption without any of its buttons.
    create(WS_CAPTION | WS_BORDER | WS_CLIPCHILDREN);

    // The store of the firmware image's lines; never shown.
    HWND image = control(ControlId::RichEdit1);
    SendMessageW(image, EM_SETLIMITTEXT, 0, 0);
    std::string lines;
    for (std::string_view line : upload::firmwareImage()) {
        lines.append(line);
        lines += "\r\n";
    }
    SetWindowTextW(image, fw::win32::widen(lines).c_str());
    SendMessageW(control(ControlId::ProgressBar1), PBM_SETRANGE32, 0, 100);

    // The port box's tool tip: the whole name of the chosen port, which the box may cut.
    portTip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(),
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(control(ControlId::ComboBox1));
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(portTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

    form_ = std::make_unique<Form1>(*this, extraPort);
    try {
        adapterWatch_ = std::make_unique<comport::SerialPortWatch>([this] {
            if (adapterWatch_ && adapterWatch_->changed())
                form_->refreshPortList(Form1::adaptersPresent());
        });
    } catch (const std::exception& e) {
        // The list made at the start stays; the reason goes where it can be read.
        std::fprintf(stderr, "torvin-updater: %s\n",
                     fw::tr("{1}; the port list will not follow adapters plugged in or pulled "
                            "out",
                            {e.what()})
                         .c_str());
    }
    form_->FormCreate();
}

TForm1::~TForm1() {
    adapterWatch_.reset();
    form_.reset();
    changeLogs_.clear();
    if (startPictures_) ImageList_Destroy(startPictures_);
    if (closePictures_) ImageList_Destroy(closePictures_);
}

void TForm1::show() {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    UpdateWindow(hwnd());
}

// The buttons' pictures follow the scale.
void TForm1::laidOut() {
    const int side = scaled(28);
    for (auto [id, list, make] :
         {std::tuple{ControlId::BitBtn2, &startPictures_, &startButtonPictures},
          std::tuple{ControlId::BitBtn6, &closePictures_, &closeButtonPictures}}) {
        HIMAGELIST old = *list;
        *list = make(side);
        BUTTON_IMAGELIST pictures{*list, {scaled(4), 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
        SendMessageW(control(id), BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&pictures));
        if (old) ImageList_Destroy(old);
    }
}

LRESULT TForm1::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        if (!form_) break;
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (code == BN_CLICKED) {
            for (const ControlDescription& c : layout_.controls)
                if (c.win32Id == id && c.onClick) form_->clicked(c.id);
            return 0;
        }
        if (id == win32IdOf(ControlId::ComboBox1) && code == CBN_SELCHANGE) {
            showChosenPortWhole();
            return 0;
        }
        break;
    }
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (static_cast<int>(item.CtlID) == win32IdOf(ControlId::Shape1)) {
            drawLamp(item);
            return TRUE;
        }
        break;
    }
    case WM_TIMER:
        if (wParam == timer1) {
            form_->Timer1Timer();
            return 0;
        }
        break;
    case laterMessage: {
        if (later_.empty()) return 0;
        auto call = std::move(later_.front());
        later_.pop_front();
        call();
        return 0;
    }
    case WM_CLOSE:
        if (form_->closeQuery()) DestroyWindow(hwnd());
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd(), timer1);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return FormWindow::handle(message, wParam, lParam);
}

// The lamp: a circle with its green outline and the fill the upload logic sets.
void TForm1::drawLamp(const DRAWITEMSTRUCT& item) {
    const RECT& r = item.rcItem;
    FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    const int side = std::min(r.right - r.left, r.bottom - r.top);
    HPEN pen =
        CreatePen(PS_SOLID, 1, colourRef(describedControl(layout_, ControlId::Shape1).colour));
    HBRUSH brush = CreateSolidBrush(colourRef(lamp_));
    HGDIOBJ oldPen = SelectObject(item.hDC, pen);
    HGDIOBJ oldBrush = SelectObject(item.hDC, brush);
    Ellipse(item.hDC, r.left, r.top, r.left + side, r.top + side);
    SelectObject(item.hDC, oldBrush);
    SelectObject(item.hDC, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
}

void TForm1::setText(ControlId id, const std::string& text) {
    setControlText(id, text);
}

void TForm1::setEnabled(ControlId id, bool enabled) {
    EnableWindow(control(id), enabled);
}

void TForm1::setProgress(int position) {
    SendMessageW(control(ControlId::ProgressBar1), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TForm1::setLampColour(std::uint32_t rgb) {
    lamp_ = rgb;
    InvalidateRect(control(ControlId::Shape1), nullptr, TRUE);
}

void TForm1::setPortItems(const std::vector<std::string>& labels, int chosen) {
    HWND box = control(ControlId::ComboBox1);
    SendMessageW(box, CB_RESETCONTENT, 0, 0);
    HDC dc = GetDC(box);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(box, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const auto& label : labels) {
        const std::wstring text = fw::win32::widen(label);
        SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(box, dc);
    // The box keeps its size; its open list shows every entry whole.
    const int margins = scaled(8) + GetSystemMetricsForDpi(SM_CXVSCROLL, GetDpiForWindow(box));
    SendMessageW(box, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + margins), 0);
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
    portLabels_ = labels;
    showChosenPortWhole();
}

void TForm1::showChosenPortWhole() {
    const int index = chosenPort();
    const std::wstring text = index >= 0 && index < static_cast<int>(portLabels_.size())
                                  ? fw::win32::widen(portLabels_[static_cast<std::size_t>(index)])
                                  : std::wstring();
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(control(ControlId::ComboBox1));
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(portTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

int TForm1::chosenPort() const {
    return static_cast<int>(SendMessageW(control(ControlId::ComboBox1), CB_GETCURSEL, 0, 0));
}

void TForm1::setTimerEnabled(bool enabled) {
    if (enabled == timerOn_) return;
    timerOn_ = enabled;
    if (enabled) {
        SetTimer(hwnd(), timer1, 1000, nullptr);
    } else {
        KillTimer(hwnd(), timer1);
    }
}

void TForm1::showBox(BoxKind kind, const std::string& caption, const std::string& text) {
    const HWND owner = IsWindowVisible(hwnd()) ? hwnd() : nullptr;
    switch (kind) {
    case BoxKind::Information:
        win32::showBox(owner, MB_ICONINFORMATION, caption, text);
        break;
    case BoxKind::Message:
        win32::showBox(owner, 0, caption, text);
        break;
    case BoxKind::Error:
        win32::showBox(owner, MB_ICONERROR, caption, text);
        break;
    }
}

void TForm1::openChangeLog() {
    auto log = std::make_unique<TForm2>();
    log->setCascade(
        static_cast<int>(std::count_if(changeLogs_.begin(), changeLogs_.end(),
                                       [](const auto& l) { return IsWindowVisible(l->hwnd()); })));
    log->show();
    changeLogs_.push_back(std::move(log));
}

void TForm1::closeWindow() {
    PostMessageW(hwnd(), WM_CLOSE, 0, 0);
}

void TForm1::later(std::function<void()> call) {
    later_.push_back(std::move(call));
    PostMessageW(hwnd(), laterMessage, 0, 0);
}

} // namespace app::win32
