#pragma once

// The ids in the system's device instance names on Windows: "USB\VID_0403&PID_6001\A9X1QZ2B" is
// vendor 0403, product 6001, serial number A9X1QZ2B. A serial port whose driver makes a device of
// its own under the USB device (FTDI's "FTDIBUS\VID_0403+PID_6001+A9X1QZ2BA\0000", a composite
// device's interface "USB\VID_2341&PID_0043&MI_00\6&3A1B2C&0&0000") carries no serial number in
// its own name: its parent, the USB device, does.

#include <string>

namespace comport {

struct UsbInstanceIds {
    std::string vendorId;  // "0403"
    std::string productId; // "6001"
    std::string serial;    // "A9X1QZ2B"; empty when neither name has one
};

// From the port's own instance name and its parent's (empty when there is none).
UsbInstanceIds usbInstanceIds(const std::string& instance, const std::string& parentInstance);

} // namespace comport
