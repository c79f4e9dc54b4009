// What udev reports about an adapter, turned into what the port list shows.
#include "comport/SerialPorts.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using Facts = std::map<std::string, std::string>;

comport::SerialPortInfo infoFrom(const Facts& properties, const Facts& usb) {
    auto look = [](const Facts& m) {
        return [&m](const char* key) {
            const auto it = m.find(key);
            return it == m.end() ? std::string() : it->second;
        };
    };
    return comport::serialPortInfo({"/dev/ttyUSB0", look(properties), look(usb)});
}

struct Case {
    const char* what;
    Facts properties;
    Facts usb;
    const char* expected;
};

TEST(SerialPorts, DescribesWhatUdevKnows) {
    const Case cases[] = {
        {"with the udev daemon: hardware database names, serial and stable name",
         {{"ID_VENDOR_FROM_DATABASE", "Future Technology Devices International, Ltd"},
          {"ID_VENDOR", "FTDI"},
          {"ID_MODEL_FROM_DATABASE", "FT232 Serial (UART) IC"},
          {"ID_VENDOR_ID", "0403"},
          {"ID_MODEL_ID", "6001"},
          {"ID_SERIAL_SHORT", "A9X1"},
          {"DEVLINKS", "/dev/serial/by-path/pci-0:1.0-port0 "
                       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0"}},
         {},
         "/dev/ttyUSB0: Future Technology Devices International, Ltd FT232 Serial (UART) IC "
         "[0403:6001], serial A9X1, /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0"},
        {"the device's own names: escapes decoded, underscores undone",
         {{"ID_VENDOR_ENC", "Prolific\\x20Technology\\x20Inc.\\x20"},
          {"ID_MODEL", "USB-Serial_Controller"}},
         {},
         "/dev/ttyUSB0: Prolific Technology Inc. USB-Serial Controller"},
        {"without the daemon: the USB device's attributes from sysfs",
         {},
         {{"manufacturer", "Silicon Labs"},
          {"product", "CP2102 USB to UART Bridge Controller"},
          {"idVendor", "10c4"},
          {"idProduct", "ea60"},
          {"serial", "0001"}},
         "/dev/ttyUSB0: Silicon Labs CP2102 USB to UART Bridge Controller [10c4:ea60], serial "
         "0001"},
        {"nothing known", {{"DEVLINKS", "/dev/serial/by-path/x"}}, {}, "/dev/ttyUSB0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(comport::describe(infoFrom(c.properties, c.usb)), c.expected) << c.what;
}

// Windows: Device Manager's name stands alone, the port's name added only where it lacks it.
TEST(SerialPorts, DescribesByDeviceManagersName) {
    comport::SerialPortInfo port{"COM4", "",     "FTDI", "USB Serial Port",
                                 "0403", "6001", "A9X1", "USB Serial Port (COM4)"};
    EXPECT_EQ(comport::describe(port), "USB Serial Port (COM4)");
    port.friendlyName = "Adaptador RS-232";
    EXPECT_EQ(comport::describe(port), "COM4: Adaptador RS-232");
}

// On any machine, adapters or none, udev daemon or none: the list comes, without the ports
// that are already offered as COM1 to COM15.
TEST(SerialPorts, ListsThisMachinesAdapters) {
    std::vector<comport::SerialPortInfo> ports;
    ASSERT_NO_THROW(ports = comport::serialPortsPresent());
    for (const auto& p : ports) {
        EXPECT_FALSE(p.devicePath.empty());
        EXPECT_NE(p.devicePath, "/dev/ttyS0");
    }
}

} // namespace
