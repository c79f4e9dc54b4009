#include "comport/UsbInstanceIds.h"

namespace comport {

namespace {

// The four hex digits after "VID_" or "PID_", whatever separates the ids ('&' or '+').
std::string idAfter(const std::string& instance, const char* tag) {
    const auto at = instance.find(tag);
    return at == std::string::npos || at + 8 > instance.size() ? std::string()
                                                               : instance.substr(at + 4, 4);
}

// The last part of a USB device's name, when it is the device's serial number: the system makes
// up one with '&' in it for a device that has none.
std::string serialOf(const std::string& instance) {
    const auto last = instance.rfind('\\');
    if (!instance.starts_with("USB\\") || last == std::string::npos ||
        last + 1 == instance.size() || instance.find('&', last) != std::string::npos)
        return {};
    return instance.substr(last + 1);
}

} // namespace

UsbInstanceIds usbInstanceIds(const std::string& instance, const std::string& parentInstance) {
    UsbInstanceIds ids;
    ids.vendorId = idAfter(instance, "VID_");
    ids.productId = idAfter(instance, "PID_");
    if (ids.vendorId.empty()) {
        ids.vendorId = idAfter(parentInstance, "VID_");
        ids.productId = idAfter(parentInstance, "PID_");
    }
    // A port with a driver of its own, or a composite device's interface: the USB device's.
    ids.serial = serialOf(instance);
    if (ids.serial.empty()) ids.serial = serialOf(parentInstance);
    return ids;
}

} // namespace comport
