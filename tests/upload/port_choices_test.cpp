#include "frontend/PortChoices.h"

#include <gtest/gtest.h>

namespace {

using upload::frontend::PortChoice;

comport::SerialPortInfo adapter(std::string path, std::string stable = {}) {
    comport::SerialPortInfo a;
    a.devicePath = std::move(path);
    a.stableName = std::move(stable);
    a.vendor = "FTDI";
    return a;
}

TEST(PortChoices, FifteenComNamesThenTheAdaptersThenTheExtraName) {
    const auto list = upload::frontend::portChoices({adapter("/dev/ttyUSB0")}, "/dev/pts/3");
    ASSERT_EQ(list.size(), 17u);
    EXPECT_EQ(list[0], (PortChoice{"COM1", "COM1"}));
    EXPECT_EQ(list[14], (PortChoice{"COM15", "COM15"}));
    EXPECT_EQ(list[15], (PortChoice{"/dev/ttyUSB0", "/dev/ttyUSB0: FTDI"}));
    EXPECT_EQ(list[16], (PortChoice{"/dev/pts/3", "/dev/pts/3"}));
    EXPECT_EQ(upload::frontend::portChoices({}, "").size(), 15u);
    EXPECT_EQ(upload::frontend::portChoices({}, "COM15").size(), 15u);
}

// The choice must follow the adapter, not the number the system happened to give it; a --port
// naming the adapter by either name selects it rather than adding it twice.
TEST(PortChoices, AnAdapterIsOpenedByItsStableNameAndFoundByEither) {
    const std::string stable = "/dev/serial/by-id/usb-FTDI_X-if00-port0";
    const auto list =
        upload::frontend::portChoices({adapter("/dev/ttyUSB1", stable)}, "/dev/ttyUSB1");
    ASSERT_EQ(list.size(), 16u);
    EXPECT_EQ(list[15].name, stable);
    EXPECT_EQ(upload::frontend::findChoice(list, "/dev/ttyUSB1"), 15);
    EXPECT_EQ(upload::frontend::findChoice(list, stable), 15);
    EXPECT_EQ(upload::frontend::findChoice(list, "/dev/ttyUSB"), -1);
    EXPECT_EQ(upload::frontend::findChoice(list, ""), -1);
}

} // namespace
