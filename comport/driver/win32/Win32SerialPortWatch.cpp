// Following serial adapters on Windows: a hidden window of the watching thread, registered for
// the notices about serial port interfaces, that the thread's message loop serves.

#include "comport/SerialPorts.h"
#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/Win32HiddenWindow.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <dbt.h>

#include <optional>
#include <stdexcept>
#include <utility>

namespace comport {

extern const GUID comPortInterface; // Win32SerialPorts.cpp

namespace {

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
    explicit Monitor(std::function<void()> notify)
        : notify(std::move(notify)),
          window(
              L"TorvinSerialPortWatch", "the window that follows serial adapters",
              [this](UINT msg, WPARAM wParam, LPARAM lParam) -> std::optional<LRESULT> {
                  if (msg != WM_DEVICECHANGE) return std::nullopt;
                  if (aboutSerialPort(wParam, lParam)) changedNow();
                  return TRUE;
              },
              fw::win32::HiddenWindow::Kind::topLevel) {}

    void changedNow() {
        pending = true;
        if (!notify) return;
        try {
            notify();
        } catch (const std::exception& e) {
            fw::showException(e);
        } catch (...) {
            fw::showException(fw::Exception("Updating the port list failed"));
        }
    }

    std::function<void()> notify;
    bool pending = false;
    fw::win32::HiddenWindow window;
    HDEVNOTIFY registration = nullptr;
};

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + fw::win32::errorMessage(GetLastError()));
}

} // namespace

SerialPortWatch::SerialPortWatch(std::function<void()> notify)
    : monitor_([&] {
          try {
              return std::make_unique<Monitor>(std::move(notify));
          } catch (const std::exception& e) {
              throw std::runtime_error(
                  std::string("cannot follow serial adapters being plugged in: ") + e.what());
          }
      }()) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = comPortInterface;
    monitor_->registration = RegisterDeviceNotificationW(monitor_->window.handle(), &filter,
                                                         DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!monitor_->registration) fail("cannot follow serial adapters being plugged in");
}

SerialPortWatch::~SerialPortWatch() {
    UnregisterDeviceNotification(monitor_->registration);
}

int SerialPortWatch::descriptor() const {
    return -1;
}

bool SerialPortWatch::changed() {
    return std::exchange(monitor_->pending, false);
}

} // namespace comport
