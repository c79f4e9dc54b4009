#include "comport/PortNames.h"

#include "comport/driver/posix/PosixDevice.h"

namespace comport {

std::optional<std::string> deviceOfPortName(const std::string& name) {
    return driver::posix::resolveDevicePath(name);
}

} // namespace comport
