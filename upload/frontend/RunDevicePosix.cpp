#include "upload/frontend/RunDevice.h"

#include "comport/driver/PosixDevice.h"

#include <climits>
#include <cstdlib>

namespace upload::frontend {

std::string deviceFileOf(const std::string& portName) {
    std::string path = portName;
    if (const auto resolved = comport::driver::posix::resolveDevicePath(portName)) path = *resolved;
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

} // namespace upload::frontend
