#pragma once

#include <string>
#include <vector>

namespace app {

// The serial devices present on this machine: the stable names under /dev/serial/by-id, then
// /dev/ttyUSB* and /dev/ttyACM*, each group sorted. `devRoot` is "/dev" except in tests.
std::vector<std::string> serialDevicesPresent(const std::string& devRoot = "/dev");

// The port list offered to the user: "COM1" to "COM15", then the devices present, then `extra`
// (from --port) unless it is already listed. Names appear once each.
std::vector<std::string> portChoices(const std::vector<std::string>& present,
                                     const std::string& extra);

} // namespace app
