#ifndef _WIN32

// Serial adapters through libudev: the list from sysfs and the udev database, the watch on the
// udev daemon's event channel. Without a running daemon the list still comes from sysfs and the
// watch simply never fires.

#include "comport/SerialPorts.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace comport {

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno ? errno : EIO));
}

std::string text(const char* value) {
    return value ? value : "";
}

// /dev/ttyS0 to /dev/ttyS14 are already offered as COM1 to COM15.
bool isComName(const std::string& node) {
    constexpr std::string_view prefix = "/dev/ttyS";
    if (!node.starts_with(prefix)) return false;
    const std::string number = node.substr(prefix.size());
    if (number.empty() || number.size() > 2 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::stoi(number) < 15;
}

// A tty backed by hardware (it has a parent device); consoles and pseudo-terminals have none.
bool isAdapter(udev_device* device) {
    return udev_device_get_devnode(device) && udev_device_get_parent(device) &&
           !isComName(udev_device_get_devnode(device));
}

SerialPortInfo infoOf(udev_device* device) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    DeviceFacts facts;
    facts.devicePath = udev_device_get_devnode(device);
    facts.property = [device](const char* key) {
        return text(udev_device_get_property_value(device, key));
    };
    facts.usbAttribute = [usb](const char* name) {
        return usb ? text(udev_device_get_sysattr_value(usb, name)) : std::string();
    };
    return serialPortInfo(facts);
}

} // namespace

std::vector<SerialPortInfo> serialPortsPresent() {
    errno = 0;
    UdevPtr<udev> context(udev_new());
    if (!context) fail("cannot reach the device manager (udev)");
    UdevPtr<udev_enumerate> scan(udev_enumerate_new(context.get()));
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(scan.get()) < 0)
        fail("cannot list the serial devices (udev)");

    std::vector<SerialPortInfo> ports;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
        UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        // A device that went away between the scan and now is simply not there.
        if (device && isAdapter(device.get())) ports.push_back(infoOf(device.get()));
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.devicePath < b.devicePath; });
    return ports;
}

struct SerialPortWatch::Monitor {
    UdevPtr<udev> context;
    UdevPtr<udev_monitor> monitor;
};

SerialPortWatch::SerialPortWatch(std::function<void()>) : monitor_(std::make_unique<Monitor>()) {
    errno = 0;
    monitor_->context.reset(udev_new());
    if (!monitor_->context) fail("cannot reach the device manager (udev)");
    // "udev": the daemon's notices, sent once it has made the /dev/serial names.
    monitor_->monitor.reset(udev_monitor_new_from_netlink(monitor_->context.get(), "udev"));
    if (!monitor_->monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_->monitor.get(), "tty", nullptr) <
            0 ||
        udev_monitor_enable_receiving(monitor_->monitor.get()) < 0)
        fail("cannot follow serial adapters being plugged in (udev)");
}

SerialPortWatch::~SerialPortWatch() = default;

int SerialPortWatch::descriptor() const {
    return udev_monitor_get_fd(monitor_->monitor.get());
}

bool SerialPortWatch::changed() {
    bool any = false;
    // The descriptor is non-blocking: receiving stops when nothing more waits.
    while (UdevPtr<udev_device> device{udev_monitor_receive_device(monitor_->monitor.get())}) {
        const std::string action = text(udev_device_get_action(device.get()));
        if (action == "add" || action == "remove") any = true;
    }
    return any;
}

} // namespace comport

#endif
