// Works torvin-updater.exe from outside its process, as an automation tool would: finds its
// windows and controls, presses buttons, picks the port, reads captions and labels, answers its
// message boxes and reads colours from the screen. Run by window_end_to_end.sh under Wine.
//   window-driver upload EXE PORT SHOTS   a whole upload; pictures of both windows into SHOTS
//   window-driver silent EXE PORT         a board that never answers
//   window-driver changelog EXE           the change-log window fits the screen and its size
//   window-driver help EXE                --help started without a handle to write to
//   window-driver broken EXE PORT DIR     the line breaks mid-run; the driver then makes
//                                         DIR\broken and, once DIR\back exists (the board is
//                                         back), runs a whole upload
// Prints one "ok:" line per check and "FAIL:" for each that fails; exit status 1 on a failure.

#include "app/FormLayout.h"
#include "app/Texts.h"
#include "framework/Win32Text.h"
#include "upload/UploadTexts.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using app::ControlId;
using namespace std::chrono_literals;

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

std::string textOf(HWND hwnd) {
    // WM_GETTEXT crosses processes: the system copies the text over.
    const auto length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return fw::win32::narrow(text);
}

std::string classOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return fw::win32::narrow(name);
}

// Polls until `found` returns something, or the time is up.
template <typename T> T waitFor(const std::function<T()>& found, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (T value = found()) return value;
        if (std::chrono::steady_clock::now() > end) return T{};
        std::this_thread::sleep_for(50ms);
    }
}

bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    return waitFor<bool>(done, limit);
}

class Program {
public:
    // `noHandles`: without standard handles, as a Command Prompt starts a window program.
    explicit Program(const std::wstring& commandLine, bool noHandles = false) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (noHandles) si.dwFlags = STARTF_USESTDHANDLES;
        std::wstring line = commandLine;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi_)) {
            std::printf("FAIL: cannot start the window (error %lu)\n", GetLastError());
            std::exit(1);
        }
        WaitForInputIdle(pi_.hProcess, 10000);
    }
    ~Program() {
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(pi_.hProcess, 99);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }

    // Top-level windows of the program, shown, of the class and caption given (empty: any).
    std::vector<HWND> windows(const std::string& cls, const std::string& caption) const {
        struct Search {
            DWORD pid;
            std::string cls, caption;
            std::vector<HWND> found;
        } search{pi_.dwProcessId, cls, caption, {}};
        EnumWindows(
            [](HWND hwnd, LPARAM p) -> BOOL {
                auto& s = *reinterpret_cast<Search*>(p);
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                if (pid == s.pid && IsWindowVisible(hwnd) &&
                    (s.cls.empty() || classOf(hwnd) == s.cls) &&
                    (s.caption.empty() || textOf(hwnd) == s.caption))
                    s.found.push_back(hwnd);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    HWND box(std::chrono::seconds limit = 10s) const {
        return waitFor<HWND>(
            [this] {
                const auto boxes = windows("#32770", "");
                return boxes.empty() ? HWND{} : boxes.front();
            },
            limit);
    }

    bool exited(DWORD& status, std::chrono::seconds limit) const {
        if (WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(limit.count() * 1000)) !=
            WAIT_OBJECT_0)
            return false;
        GetExitCodeProcess(pi_.hProcess, &status);
        return true;
    }

private:
    PROCESS_INFORMATION pi_{};
};

// A message box's text (its static controls) and a press of its OK button.
std::string boxText(HWND box) {
    std::string text;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (classOf(c) == "Static") text += textOf(c);
    return text;
}

void pressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) ok = GetDlgItem(box, IDCANCEL);
    PostMessageW(ok, BM_CLICK, 0, 0);
    waitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 10s);
}

// What is on the screen: a copy of the desktop, read pixel by pixel.
class ScreenCopy {
public:
    ScreenCopy() {
        HDC screen = GetDC(nullptr);
        width_ = GetDeviceCaps(screen, HORZRES);
        height_ = GetDeviceCaps(screen, VERTRES);
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc_ = CreateCompatibleDC(screen);
        bitmap_ = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                   nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        BitBlt(dc_, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
        GdiFlush();
        ReleaseDC(nullptr, screen);
    }
    ~ScreenCopy() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    // 0xRRGGBB
    std::uint32_t at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0xFFFFFFFF;
        return bits_[y * width_ + x] & 0xFFFFFF;
    }
    int count(const RECT& r, std::uint32_t rgb) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                n += at(x, y) == rgb;
        return n;
    }
    // The part of the screen under `r` as a 24-bit BMP file.
    bool save(const RECT& r, const std::string& path) const {
        const int w = r.right - r.left, h = r.bottom - r.top;
        const int stride = (w * 3 + 3) & ~3;
        BITMAPFILEHEADER fh{};
        BITMAPINFOHEADER ih{sizeof ih, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof ih;
        fh.bfSize = fh.bfOffBits + static_cast<DWORD>(stride * h);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        std::fwrite(&fh, sizeof fh, 1, f);
        std::fwrite(&ih, sizeof ih, 1, f);
        std::vector<unsigned char> row(static_cast<std::size_t>(stride));
        for (int y = h - 1; y >= 0; --y) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t p = at(r.left + x, r.top + y);
                row[static_cast<std::size_t>(x * 3)] = p & 0xFF;
                row[static_cast<std::size_t>(x * 3 + 1)] = (p >> 8) & 0xFF;
                row[static_cast<std::size_t>(x * 3 + 2)] = (p >> 16) & 0xFF;
            }
            std::fwrite(row.data(), row.size(), 1, f);
        }
        return std::fclose(f) == 0;
    }

private:
    int width_ = 0, height_ = 0;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    std::uint32_t* bits_ = nullptr;
};

RECT screenRect(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return r;
}

// The main window, once the start-up warning has been answered.
struct MainWindow {
    HWND hwnd = nullptr;
    HWND control(ControlId id) const {
        HWND found = nullptr;
        struct Search {
            int id;
            HWND* found;
        } s{app::win32IdOf(id), &found};
        EnumChildWindows(
            hwnd,
            [](HWND c, LPARAM p) -> BOOL {
                auto& s = *reinterpret_cast<Search*>(p);
                if (GetDlgCtrlID(c) != s.id) return TRUE;
                *s.found = c;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&s));
        return found;
    }
    std::string text(ControlId id) const { return textOf(control(id)); }
    void press(ControlId id) const { PostMessageW(control(id), BM_CLICK, 0, 0); }
    std::uint32_t lamp() const {
        const RECT r = screenRect(control(ControlId::Shape1));
        return ScreenCopy().at((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    void choosePort(const std::string& port) const {
        HWND box = control(ControlId::ComboBox1);
        const std::wstring name = fw::win32::widen(port);
        // CB_FINDSTRINGEXACT carries a pointer: the system copies strings of list boxes across.
        const auto index = SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(name.c_str()));
        check(index >= 0, "the port list offers " + port);
        SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(GetParent(box), WM_COMMAND,
                     MAKEWPARAM(app::win32IdOf(ControlId::ComboBox1), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(box));
    }
};

MainWindow start(const Program& program) {
    HWND warning = program.box();
    check(warning && textOf(warning) == app::startupWarningCaption &&
              boxText(warning).starts_with("NUNCA FECHAR O PROGRAMA DURANTE A TRANSMISS"),
          "the start-up warning comes first");
    check(program.windows("", app::programTitle).empty(),
          "the main window is not shown while the warning is");
    if (warning) pressOk(warning);
    MainWindow w;
    w.hwnd = waitFor<HWND>(
        [&] {
            const auto found = program.windows("TorvinForm", app::programTitle);
            return found.empty() ? HWND{} : found.front();
        },
        10s);
    if (!w.hwnd) {
        check(false, "the main window appears");
        std::exit(1);
    }
    return w;
}

bool dark(std::uint32_t rgb) {
    return ((rgb >> 16) & 0xFF) < 0x80 && ((rgb >> 8) & 0xFF) < 0x80 && (rgb & 0xFF) < 0x80;
}

// The title panel's caption in bold 14 pt (its ink as wide as that font makes its words), and the
// buttons' pictures on the button's face when pressed, as when not.
void captionFontAndPictures(const MainWindow& w) {
    const int dpi = static_cast<int>(GetDpiForSystem());
    {
        const RECT panel = screenRect(w.control(ControlId::Panel1));
        const RECT log = screenRect(w.control(ControlId::Button1));
        const ScreenCopy screen;
        int first = -1, last = -1;
        for (int x = panel.left + 2; x < log.left; ++x)
            for (int y = panel.top + 2; y < panel.bottom - 2; ++y)
                if (dark(screen.at(x, y))) {
                    if (first < 0) first = x;
                    last = x;
                    break;
                }
        const std::string caption = w.text(ControlId::Panel1);
        const std::wstring words =
            fw::win32::widen(caption.substr(0, caption.find_last_not_of(' ') + 1));
        HDC dc = GetDC(nullptr);
        HFONT font = CreateFontW(-MulDiv(14, dpi, 72), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
        HGDIOBJ old = SelectObject(dc, font);
        SIZE extent{};
        GetTextExtentPoint32W(dc, words.c_str(), static_cast<int>(words.size()), &extent);
        SelectObject(dc, old);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
        const int inked = first < 0 ? 0 : last - first + 1;
        check(std::abs(inked - extent.cx) <= MulDiv(4, dpi, 96),
              "the title's caption is drawn in bold 14 pt (" + std::to_string(inked) +
                  " pixels of ink, the font makes " + std::to_string(extent.cx) + ")");
    }
    for (const ControlId id : {ControlId::BitBtn2, ControlId::BitBtn6}) {
        HWND button = w.control(id);
        RECT face = screenRect(button);
        InflateRect(&face, -MulDiv(4, dpi, 96), -MulDiv(4, dpi, 96));
        const int before = ScreenCopy().count(face, 0x000000);
        SendMessageW(button, BM_SETSTATE, TRUE, 0);
        std::this_thread::sleep_for(300ms);
        const int pressed = ScreenCopy().count(face, 0x000000);
        SendMessageW(button, BM_SETSTATE, FALSE, 0);
        const int square = MulDiv(14, dpi, 96) * MulDiv(14, dpi, 96);
        check(pressed - before < square,
              "pressed, \"" + w.text(id) + "\" shows its picture without a black square (" +
                  std::to_string(pressed - before) + " more black pixels)");
    }
}

// Opens the port: lime lamp, "Iniciar", 1974 records.
bool openPort(const MainWindow& w, const std::string& port) {
    w.choosePort(port);
    w.press(ControlId::BitBtn2);
    const bool opened = waitUntil([&] { return w.text(ControlId::BitBtn2) == "Iniciar"; }, 20s);
    check(opened, "\"Abre Porta\" opens the port and becomes \"Iniciar\"");
    check(waitUntil([&] { return w.lamp() == 0x00FF00; }, 5s), "the lamp turns lime");
    check(w.text(ControlId::Label2) == "1974", "Número shows 1974");
    return opened;
}

// The box the run ends with: its text, its caption whole, over the window.
std::string endOfRun(const Program& program, const MainWindow& w, std::chrono::seconds limit) {
    HWND box = program.box(limit);
    if (!box) return "(no box)";
    const std::string text = boxText(box);
    check(textOf(box) == app::programTitle, "the box's caption is the program's title");
    // The caption font's width of the title fits in the box's title bar.
    NONCLIENTMETRICSW m{};
    m.cbSize = sizeof m;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0);
    HFONT font = CreateFontIndirectW(&m.lfCaptionFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE title{};
    const std::wstring caption = fw::win32::widen(app::programTitle);
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &title);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    const RECT b = screenRect(box), main = screenRect(w.hwnd);
    check(b.right - b.left >= title.cx + 2 * m.iCaptionWidth,
          "the box is wide enough for its whole caption");
    const POINT centre{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
    check(PtInRect(&main, centre), "the box sits over the main window");
    pressOk(box);
    return text;
}

int wholeUpload(const std::wstring& exe, const std::string& port, const std::string& shots) {
    Program program(L"\"" + exe + L"\"");
    const MainWindow w = start(program);
    check(w.text(ControlId::BitBtn2) == "Abre Porta" && w.lamp() == 0xFFFFFF,
          "at start: \"Abre Porta\" and a white lamp");
    {
        // A fixed single border and a title bar without any buttons, centred on the screen.
        const LONG style = GetWindowLongW(w.hwnd, GWL_STYLE);
        check((style & WS_CAPTION) == WS_CAPTION &&
                  !(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
              "the main window has a fixed border and no title-bar buttons");
        MONITORINFO mi{sizeof mi, {}, {}, 0};
        GetMonitorInfoW(MonitorFromWindow(w.hwnd, MONITOR_DEFAULTTOPRIMARY), &mi);
        const RECT r = screenRect(w.hwnd);
        check(std::abs((r.left + r.right) - (mi.rcWork.left + mi.rcWork.right)) <= 2 &&
                  std::abs((r.top + r.bottom) - (mi.rcWork.top + mi.rcWork.bottom)) <= 2,
              "the main window is centred on the screen");
    }
    ScreenCopy().save(screenRect(w.hwnd), shots + "/windows-main-window.bmp");
    // The port box keeps its size and opens wider than itself, for its longest entry.
    HWND combo = w.control(ControlId::ComboBox1);
    const RECT c = screenRect(combo);
    const int dpi = static_cast<int>(GetDpiForSystem());
    check(c.right - c.left == MulDiv(89, dpi, 96), "the port box keeps its width");
    {
        // The title's words end clear of "log": no text ink just left of the button.
        const RECT panel = screenRect(w.control(ControlId::Panel1));
        const RECT log = screenRect(w.control(ControlId::Button1));
        const RECT gap{log.left - MulDiv(4, dpi, 96), panel.top + 3, log.left, panel.bottom - 3};
        const COLORREF text = GetSysColor(COLOR_BTNTEXT);
        const std::uint32_t ink = (std::uint32_t{GetRValue(text)} << 16) |
                                  (std::uint32_t{GetGValue(text)} << 8) | GetBValue(text);
        check(ScreenCopy().count(gap, ink) == 0, "the title's text keeps clear of \"log\"");
    }
    captionFontAndPictures(w);
    if (!openPort(w, port)) return 1;

    w.press(ControlId::BitBtn2);
    check(waitUntil([&] { return std::atoi(w.text(ControlId::Label7).c_str()) >= 20; }, 60s),
          "records go out (Registro counts up)");
    check(!IsWindowEnabled(w.control(ControlId::BitBtn6)), "the close button is off during a run");
    // The counters in their colours, as drawn (once a repaint under way is done).
    const std::pair<ControlId, std::uint32_t> inks[] = {
        {ControlId::Label1, 0x008000}, {ControlId::Label2, 0x008000}, {ControlId::Label3, 0xFF0000},
        {ControlId::Label4, 0xFF0000}, {ControlId::Label5, 0x000080}, {ControlId::Label7, 0x000080},
        {ControlId::Label6, 0xFF0000}, {ControlId::Label8, 0xFF0000}};
    check(waitUntil(
              [&] {
                  const ScreenCopy screen;
                  for (const auto& [id, rgb] : inks)
                      if (screen.count(screenRect(w.control(id)), rgb) < 4) return false;
                  screen.save(screenRect(w.hwnd), shots + "/windows-main-window-run.bmp");
                  return true;
              },
              5s),
          "each counter is drawn in its colour");

    // Two presses of "log", two change logs of 100 lines; the run goes on meanwhile.
    w.press(ControlId::Button1);
    w.press(ControlId::Button1);
    const auto logs = waitFor<bool>(
        [&] { return program.windows("TorvinForm", app::changeLogCaption).size() == 2; }, 10s);
    check(logs, "\"log\" pressed twice shows two change-log windows");
    {
        const auto open = program.windows("TorvinForm", app::changeLogCaption);
        check(open.size() == 2 && screenRect(open[0]).left != screenRect(open[1]).left,
              "the second change log does not lie exactly over the first");
    }
    for (HWND log : program.windows("TorvinForm", app::changeLogCaption)) {
        HWND memo = nullptr;
        for (HWND ch = GetWindow(log, GW_CHILD); ch; ch = GetWindow(ch, GW_HWNDNEXT))
            if (classOf(ch) == "Edit") memo = ch;
        const std::string text = memo ? textOf(memo) : "";
        std::size_t lines = 1;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + 2))
            ++lines;
        check(lines == 100, "the change log holds 100 lines (" + std::to_string(lines) + ")");
        const LONG style = GetWindowLongW(memo, GWL_STYLE);
        check((style & WS_VSCROLL) && !(style & WS_HSCROLL) && (style & ES_READONLY),
              "the change log is read-only with a vertical scroll bar only");
    }
    {
        const auto open = program.windows("TorvinForm", app::changeLogCaption);
        if (!open.empty()) {
            std::this_thread::sleep_for(300ms);
            ScreenCopy().save(screenRect(open.back()), shots + "/windows-change-log.bmp");
        }
        for (HWND log : open)
            PostMessageW(log, WM_CLOSE, 0, 0);
    }

    const std::string outcome = endOfRun(program, w, 900s);
    check(outcome == upload::messageCompleted, "the run ends with \"" + outcome + "\"");
    check(w.text(ControlId::Label7) == "1974" && w.text(ControlId::Label8) == "0",
          "Registro 1974, Erros 0");
    check(SendMessageW(w.control(ControlId::ProgressBar1), PBM_GETPOS, 0, 0) == 100,
          "the progress bar is full");
    check(IsWindowEnabled(w.control(ControlId::BitBtn6)), "the close button is on again");
    w.press(ControlId::BitBtn6);
    DWORD status = 99;
    check(program.exited(status, 20s) && status == 0,
          "the close button ends the program, status 0");
    return failures ? 1 : 0;
}

int silent(const std::wstring& exe, const std::string& port) {
    Program program(L"\"" + exe + L"\"");
    const MainWindow w = start(program);
    if (!openPort(w, port)) return 1;
    w.press(ControlId::BitBtn2);
    const std::string outcome = endOfRun(program, w, 30s);
    check(outcome == upload::messageNoAnswer, "a silent board gives \"" + outcome + "\"");
    check(waitUntil([&] { return w.lamp() == 0xFFFFFF; }, 5s), "the lamp turns white again");
    check(w.text(ControlId::BitBtn2) == "Iniciar", "the start button keeps \"Iniciar\"");
    check(w.text(ControlId::Label4) == "5", "Tentativas shows 5");
    // The next run first waits for the answers the board may still give the one that failed.
    w.press(ControlId::BitBtn2);
    check(waitUntil([&] { return w.lamp() == 0x00FF00; }, 20s), "the port opens again");
    w.press(ControlId::BitBtn2);
    check(waitUntil(
              [&] {
                  return w.text(ControlId::Panel1).starts_with("Aguardando respostas anteriores: ");
              },
              5s),
          "the title panel shows the wait for the earlier run's answers: " +
              w.text(ControlId::Panel1));
    check(IsWindowEnabled(w.control(ControlId::BitBtn6)), "the close button may end that wait");
    w.press(ControlId::BitBtn6);
    DWORD status = 99;
    check(program.exited(status, 20s) && status == 0,
          "the close button ends the program, status 0");
    return failures ? 1 : 0;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesW(fw::win32::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The board vanishes mid-run: the box says so, and the window closes the port as a failed run
// does. Once the board is back, the start button opens the port again and a whole run follows.
int brokenLine(const std::wstring& exe, const std::string& port, const std::string& dir) {
    Program program(L"\"" + exe + L"\"");
    const MainWindow w = start(program);
    if (!openPort(w, port)) return 1;
    w.press(ControlId::BitBtn2);
    HWND box = program.box(120s);
    std::string text = box ? boxText(box) : "(no box)";
    if (box) pressOk(box);
    if (text == upload::messageUncertain) {
        // The answers stopped before a call on the port failed: the run stops unconfirmed with
        // the port open, and the next press finds the line broken.
        w.press(ControlId::BitBtn2);
        box = program.box(60s);
        text = box ? boxText(box) : "(no box)";
        if (box) pressOk(box);
    }
    check(text.find(" function failed (Error: ") != std::string::npos,
          "the broken line is told: " + text.substr(0, text.find('\n')));
    check(waitUntil([&] { return w.lamp() == 0xFFFFFF; }, 5s),
          "the lamp turns white: the port is closed");
    check(w.text(ControlId::BitBtn2) == "Iniciar" && IsWindowEnabled(w.control(ControlId::BitBtn6)),
          "the start button keeps \"Iniciar\", the close button is on");

    std::FILE* flag = std::fopen((dir + "\\broken").c_str(), "w");
    if (flag) std::fclose(flag);
    check(waitUntil([&] { return fileExists(dir + "\\back"); }, 60s), "the board is back");
    w.press(ControlId::BitBtn2);
    check(waitUntil([&] { return w.lamp() == 0x00FF00; }, 20s),
          "the start button opens the port again: the lamp turns lime");
    w.press(ControlId::BitBtn2);
    std::string outcome = endOfRun(program, w, 900s);
    if (outcome.find(" function failed (Error: ") != std::string::npos) {
        // Under Wine the first run on the port opened again may still find the broken line's
        // state: its box closes the port, and the technician presses again.
        std::printf("note: the first run after the board came back: %s\n",
                    outcome.substr(0, outcome.find('\n')).c_str());
        w.press(ControlId::BitBtn2);
        check(waitUntil([&] { return w.lamp() == 0x00FF00; }, 20s),
              "the start button opens the port once more: the lamp turns lime");
        w.press(ControlId::BitBtn2);
        outcome = endOfRun(program, w, 900s);
    }
    check(outcome == upload::messageCompleted, "the run after ends with \"" + outcome + "\"");
    w.press(ControlId::BitBtn6);
    DWORD status = 99;
    check(program.exited(status, 20s) && status == 0,
          "the close button ends the program, status 0");
    return failures ? 1 : 0;
}

// --help without a handle to write to (started from a Command Prompt): a box, an option's
// description under the option, as a proportional font cannot keep columns.
int help(const std::wstring& exe) {
    const Program program(L"\"" + exe + L"\" --help", true);
    HWND box = program.box(20s);
    std::string text = box ? boxText(box) : "(no box)";
    std::erase(text, '\r');
    check(text.find("--port <NAME>\n        Adds NAME") != std::string::npos,
          "--help answers in a box with each description under its option: " + text);
    if (box) pressOk(box);
    DWORD status = 99;
    check(program.exited(status, 20s) && status == 0, "after the box the program ends, status 0");
    return failures ? 1 : 0;
}

// The change log on this screen: whole on it, its text box inside it after a resize.
int changeLog(const std::wstring& exe) {
    // A port name longer than the box is wide.
    const std::string longName = "USB-SERIAL-CH340-A9X1-PORT";
    Program program(L"\"" + exe + L"\" --port " + fw::win32::widen(longName));
    const MainWindow w = start(program);
    {
        // The program carries its icon and its version for Explorer and the installed programs.
        DWORD ignored = 0;
        check(ExtractIconExW(exe.c_str(), -1, nullptr, nullptr, 0) > 0 &&
                  GetFileVersionInfoSizeW(exe.c_str(), &ignored) > 0,
              "the program has an icon and a version resource");
    }
    {
        // A second start opens no second window: it brings the first forward.
        const Program second(L"\"" + exe + L"\"");
        DWORD status = 99;
        check(second.exited(status, 20s) && status == 0,
              "a second start ends at once, status 0, with no window of its own");
        check(GetForegroundWindow() == w.hwnd, "the first window is brought forward");
    }
    {
        // The box keeps its size; its open list is as wide as that name in the box's font.
        HWND combo = w.control(ControlId::ComboBox1);
        const RECT c = screenRect(combo);
        check(textOf(combo) == longName, "the name from --port is chosen");
        HDC dc = GetDC(nullptr);
        HFONT font = CreateFontW(-MulDiv(12, static_cast<int>(GetDpiForSystem()), 72), 0, 0, 0,
                                 FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                                 L"MS Sans Serif");
        HGDIOBJ old = SelectObject(dc, font);
        SIZE text{};
        const std::wstring wide = fw::win32::widen(longName);
        GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &text);
        SelectObject(dc, old);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
        const auto open = SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0);
        check(open >= text.cx && open > c.right - c.left,
              "the open port list shows the longest name whole (" + std::to_string(open) +
                  " pixels for " + std::to_string(text.cx) + ")");
    }
    w.press(ControlId::Button1);
    HWND log = waitFor<HWND>(
        [&] {
            const auto found = program.windows("TorvinForm", app::changeLogCaption);
            return found.empty() ? HWND{} : found.front();
        },
        10s);
    check(log != nullptr, "\"log\" opens the change log");
    if (!log) return 1;
    MONITORINFO mi{sizeof mi, {}, {}, 0};
    GetMonitorInfoW(MonitorFromWindow(log, MONITOR_DEFAULTTOPRIMARY), &mi);
    RECT r = screenRect(log);
    check(r.left >= mi.rcWork.left && r.top >= mi.rcWork.top && r.right <= mi.rcWork.right &&
              r.bottom <= mi.rcWork.bottom,
          "the change log lies whole on the screen");
    const RECT m = screenRect(w.hwnd);
    check(m.left >= mi.rcWork.left && m.top >= mi.rcWork.top && m.right <= mi.rcWork.right &&
              m.bottom <= mi.rcWork.bottom,
          "the main window lies whole on the screen");
    // Places scale with the screen's dots per inch.
    const int dpi = static_cast<int>(GetDpiForSystem());
    RECT client;
    GetClientRect(w.hwnd, &client);
    check(client.right == MulDiv(590, dpi, 96) && client.bottom == MulDiv(263, dpi, 96),
          "at " + std::to_string(dpi) + " dpi the main window's client area is 590 x 263 scaled (" +
              std::to_string(client.right) + " x " + std::to_string(client.bottom) + ")");
    HWND memo = nullptr;
    for (HWND ch = GetWindow(log, GW_CHILD); ch; ch = GetWindow(ch, GW_HWNDNEXT))
        if (classOf(ch) == "Edit") memo = ch;
    const int margin = MulDiv(64, dpi, 96);
    for (const SIZE unscaled : {SIZE{400, 300}, SIZE{900, 700}}) {
        const SIZE size{MulDiv(unscaled.cx, dpi, 96), MulDiv(unscaled.cy, dpi, 96)};
        SetWindowPos(log, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        std::this_thread::sleep_for(200ms);
        RECT box;
        GetClientRect(log, &client);
        MapWindowPoints(log, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
        GetWindowRect(memo, &box);
        check(box.right <= client.right && box.bottom <= client.bottom &&
                  client.right - box.right < margin && client.bottom - box.bottom < margin,
              "at " + std::to_string(size.cx) + " x " + std::to_string(size.cy) +
                  " the text box fills the window");
    }
    PostMessageW(log, WM_CLOSE, 0, 0);
    w.press(ControlId::BitBtn6);
    DWORD status = 99;
    check(program.exited(status, 20s) && status == 0, "the close button ends the program");
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    // Places and pixels in the screen's own units, as the window's.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const std::string what = argc > 2 ? argv[1] : "";
    const std::wstring exe = argc > 2 ? fw::win32::widen(argv[2]) : L"";
    if (what == "upload" && argc == 5) return wholeUpload(exe, argv[3], argv[4]);
    if (what == "silent" && argc == 4) return silent(exe, argv[3]);
    if (what == "changelog" && argc == 3) return changeLog(exe);
    if (what == "broken" && argc == 5) return brokenLine(exe, argv[3], argv[4]);
    if (what == "help" && argc == 3) return help(exe);
    std::fprintf(stderr, "usage: window-driver upload EXE PORT SHOTS | silent EXE PORT | "
                         "changelog EXE | broken EXE PORT DIR | help EXE\n");
    return 64;
}
