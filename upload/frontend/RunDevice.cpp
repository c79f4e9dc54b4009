#include "upload/frontend/RunDevice.h"

#include "comport/SerialPorts.h"
#ifndef _WIN32
#include "comport/driver/PosixDevice.h"
#endif

#include <climits>
#include <cstdlib>
#include <stdexcept>

namespace upload::frontend {

std::string devicePathOf(const std::string& portName) {
#ifndef _WIN32
    if (const auto resolved = comport::driver::posix::resolveDevicePath(portName)) return *resolved;
#endif
    return portName;
}

std::string deviceFileOf(const std::string& portName) {
    const std::string path = devicePathOf(portName);
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

std::string adapterSerialOf(const std::string& deviceFile) {
    try {
        for (const auto& adapter : comport::serialPortsPresent())
            if (deviceFileOf(adapter.devicePath) == deviceFile) return adapter.serial;
    } catch (const std::runtime_error&) {
        // Without the device manager the serial number is unknown, which the record says (null);
        // the run itself does not need it.
    }
    return {};
}

} // namespace upload::frontend
