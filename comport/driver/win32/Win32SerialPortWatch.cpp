// Following serial adapters on Windows: a hidden window of the watching thread, registered for
// the notices about serial port interfaces, that the thread's message loop serves.

#include "comport/SerialPorts.h"
#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <dbt.h>

#include <stdexcept>
#include <utility>

namespace comport {

extern const GUID comPortInterface; // Win32SerialPorts.cpp

namespace {

const wchar_t className[] = L"TorvinSerialPortWatch";

// An adapter with a serial port came or went. Ports also arrive as DBT_DEVTYP_PORT, which the
// system broadcasts to top-level windows, so the watch's window is one (hidden), not
// message-only.
bool aboutSerialPort(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header) return false;
    if (header->dbch_devicetype == DBT_DEVTYP_PORT) return true;
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
    const auto* what = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    return IsEqualGUID(what->dbcc_classguid, comPortInterface);
}

} // namespace

struct SerialPortWatch::Monitor {
    std::function<void()> notify;
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;
    bool pending = false;

    static LRESULT CALLBACK procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Monitor*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (msg != WM_DEVICECHANGE || !self) return DefWindowProcW(window, msg, wParam, lParam);
        if (!aboutSerialPort(wParam, lParam)) return TRUE;
        self->pending = true;
        if (self->notify) {
            // Nothing may leave a window procedure into the system's code.
            try {
                self->notify();
            } catch (const std::exception& e) {
                fw::showException(e);
            } catch (...) {
                fw::showException(fw::Exception("Updating the port list failed"));
            }
        }
        return TRUE;
    }
};

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + fw::win32::errorMessage(GetLastError()));
}

} // namespace

SerialPortWatch::SerialPortWatch(std::function<void()> notify)
    : monitor_(std::make_unique<Monitor>()) {
    monitor_->notify = std::move(notify);
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = Monitor::procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = className;
    if (!RegisterClassExW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        fail("cannot follow serial adapters being plugged in (window class)");
    // Hidden: never shown, and WS_EX_TOOLWINDOW keeps it out of the task bar.
    monitor_->window = CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_POPUP, 0, 0, 0, 0,
                                       nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!monitor_->window) fail("cannot follow serial adapters being plugged in (window)");
    SetWindowLongPtrW(monitor_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(monitor_.get()));
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = comPortInterface;
    monitor_->registration =
        RegisterDeviceNotificationW(monitor_->window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!monitor_->registration) {
        const DWORD code = GetLastError();
        DestroyWindow(monitor_->window);
        SetLastError(code);
        fail("cannot follow serial adapters being plugged in");
    }
}

SerialPortWatch::~SerialPortWatch() {
    UnregisterDeviceNotification(monitor_->registration);
    DestroyWindow(monitor_->window);
}

int SerialPortWatch::descriptor() const {
    return -1;
}

bool SerialPortWatch::changed() {
    return std::exchange(monitor_->pending, false);
}

} // namespace comport
