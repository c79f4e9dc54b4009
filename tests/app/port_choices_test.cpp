#include "app/PortChoices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(PortChoices, FifteenComNamesThenTheDevicesThenTheExtraName) {
    const auto list = app::portChoices({"/dev/ttyUSB0", "COM2"}, "/dev/pts/3");
    ASSERT_EQ(list.size(), 17u);
    EXPECT_EQ(list[0], "COM1");
    EXPECT_EQ(list[14], "COM15");
    EXPECT_EQ(list[15], "/dev/ttyUSB0");
    EXPECT_EQ(list[16], "/dev/pts/3");
    EXPECT_EQ(app::portChoices({}, "").size(), 15u);
    EXPECT_EQ(app::portChoices({}, "COM15").size(), 15u);
}

TEST(PortChoices, FindsStableNamesAndUsbAndAcmDevices) {
    char pattern[] = "/tmp/devrootXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root(pattern);
    fs::create_directories(root / "serial" / "by-id");
    for (const fs::path& p : {root / "serial/by-id/usb-Adapter_A-if00-port0", root / "ttyUSB1",
                              root / "ttyUSB0", root / "ttyACM0", root / "ttyS0", root / "tty1"})
        std::ofstream(p).put('x');

    const auto found = app::serialDevicesPresent(root.string());
    const std::vector<std::string> expected = {
        (root / "serial/by-id/usb-Adapter_A-if00-port0").string(), (root / "ttyUSB0").string(),
        (root / "ttyUSB1").string(), (root / "ttyACM0").string()};
    EXPECT_EQ(found, expected);
    fs::remove_all(root);

    // A machine without any of these folders offers only the COM names.
    EXPECT_TRUE(app::serialDevicesPresent((root / "missing").string()).empty());
}

} // namespace
