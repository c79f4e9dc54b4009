#pragma once

// The serial adapters present on this machine, as the system's device manager knows them, and a
// watch that tells when one is plugged in or pulled out.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace comport {

// One adapter. Every text may be empty when the system does not know it.
struct SerialPortInfo {
    std::string devicePath; // /dev/ttyUSB0
    std::string stableName; // /dev/serial/by-id/..., the name that survives re-plugging
    std::string vendor;     // "FTDI"
    std::string product;    // "FT232R USB UART"
    std::string vendorId;   // "0403"
    std::string productId;  // "6001"
    std::string serial;     // the adapter's serial number
    // Windows: the name Device Manager shows, "USB Serial Port (COM4)"; empty elsewhere. Last,
    // with a default, so that brace lists of the fields above stay complete.
    std::string friendlyName = {};

    bool operator==(const SerialPortInfo&) const = default;
};

// Adapters sorted by device path. The legacy ports /dev/ttyS0 to /dev/ttyS14 are not listed:
// they are COM1 to COM15. On Windows the device path is the port's name ("COM4"), COM2 before
// COM10: every port of the system's Ports class and every device that offers a serial port
// interface. Throws std::runtime_error when the device manager cannot be read.
std::vector<SerialPortInfo> serialPortsPresent();

// What the device manager reports about one device: its properties (ID_VENDOR, DEVLINKS, ...)
// and the attributes of the USB device it hangs off (manufacturer, idVendor, ...). The udev
// daemon fills the properties; without it only the attributes, read from sysfs, are there.
struct DeviceFacts {
    std::string devicePath;
    std::function<std::string(const char*)> property;
    std::function<std::string(const char*)> usbAttribute;
};
SerialPortInfo serialPortInfo(const DeviceFacts& facts);

// One line for a person: "/dev/ttyUSB0: FTDI FT232R USB UART [0403:6001], serial A9X1,
// /dev/serial/by-id/usb-FTDI_...". Unknown parts are left out. With a friendly name it is that
// name, as Device Manager shows it, preceded by "COM4: " only when the name lacks the port's.
std::string describe(const SerialPortInfo& port);

// Follows serial adapters coming and going. Throws std::runtime_error when the device manager's
// event channel cannot be opened.
//   Linux: serve it from an event loop: wait until descriptor() is readable, then call
//   changed(). `notify` is not used.
//   Windows: the watch keeps a hidden window on the thread that makes it (destroy it there too)
//   and registers it for the system's notices about serial port interfaces (WM_DEVICECHANGE);
//   that thread's message loop delivers them, and `notify` runs from it after each one, to call
//   changed(). descriptor() is -1.
class SerialPortWatch {
public:
    explicit SerialPortWatch(std::function<void()> notify = {});
    ~SerialPortWatch();
    SerialPortWatch(const SerialPortWatch&) = delete;
    SerialPortWatch& operator=(const SerialPortWatch&) = delete;

    int descriptor() const;
    // Takes every waiting notice; true if a serial device was added or removed.
    bool changed();

private:
    struct Monitor;
    std::unique_ptr<Monitor> monitor_;
};

} // namespace comport
