// What the Windows backend makes of the system's facts, as pure functions that run anywhere: the
// ids in a device instance name, and DTR and RTS kept across control blocks.
#include "comport/UsbInstanceIds.h"
#include "comport/driver/EscapedLines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using comport::usbInstanceIds;
namespace driver = comport::driver;

TEST(UsbInstanceIds, TheSerialNumberComesFromThePortOrElseItsUsbParent) {
    struct Case {
        const char *instance, *parent, *vendor, *product, *serial;
    } cases[] = {
        {"USB\\VID_067B&PID_2303\\5&1A2B3C4D&0&2", "USB\\ROOT_HUB30\\4&2F5E&0&0", "067B", "2303",
         ""},
        {"USB\\VID_10C4&PID_EA60\\0001", "USB\\ROOT_HUB30\\4&2F5E&0&0", "10C4", "EA60", "0001"},
        {"FTDIBUS\\VID_0403+PID_6001+A9X1QZ2BA\\0000", "USB\\VID_0403&PID_6001\\A9X1QZ2B", "0403",
         "6001", "A9X1QZ2B"},
        {"USB\\VID_2341&PID_0043&MI_00\\6&3A1B2C&0&0000", "USB\\VID_2341&PID_0043\\7573530303",
         "2341", "0043", "7573530303"},
        {"ACPI\\PNP0501\\1", "ACPI\\PNP0A08\\0", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.instance);
        const auto ids = usbInstanceIds(c.instance, c.parent);
        EXPECT_EQ(ids.vendorId, c.vendor);
        EXPECT_EQ(ids.productId, c.product);
        EXPECT_EQ(ids.serial, c.serial);
    }
}

// The component rebuilds the block from its settings at every apply: a line an escape changed
// keeps that state through a change of baud rate, whichever way the escape turned it and whatever
// the settings said, and a new control value (the settings changed it) sets the line itself.
TEST(EscapedLines, AControlBlockKeepsWhatEscapesMadeOfDtrAndRts) {
    using driver::Dcb;
    struct Line {
        const char* name;
        std::uint8_t Dcb::*control;
        std::uint32_t set, clear;
    } lines[] = {{"DTR", &Dcb::fDtrControl, driver::escape::setDtr, driver::escape::clrDtr},
                 {"RTS", &Dcb::fRtsControl, driver::escape::setRts, driver::escape::clrRts}};
    const std::uint8_t on = driver::dtrControl::enable, off = driver::dtrControl::disable;
    for (const Line& line : lines) {
        // Raised while the settings say "disable", dropped while they say "enable".
        for (const bool raise : {true, false}) {
            SCOPED_TRACE(std::string(line.name) + (raise ? " raised" : " dropped"));
            driver::EscapedLines escaped;
            Dcb settings;
            settings.*line.control = raise ? off : on;
            EXPECT_EQ(escaped.applying(settings), settings);
            escaped.escaped(raise ? line.set : line.clear);
            settings.BaudRate = 19200;
            const Dcb kept = escaped.applying(settings);
            EXPECT_EQ(kept.*line.control, raise ? on : off);
            EXPECT_EQ(kept.BaudRate, 19200u);

            settings.*line.control = driver::dtrControl::handshake;
            EXPECT_EQ(escaped.applying(settings).*line.control, driver::dtrControl::handshake);
            settings.*line.control = raise ? off : on;
            EXPECT_EQ(escaped.applying(settings).*line.control, raise ? off : on);
        }
    }
}

} // namespace
