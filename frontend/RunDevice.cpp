#include "frontend/RunDevice.h"

#include "comport/PortNames.h"
#include "comport/SerialPorts.h"
#include <stdexcept>

namespace upload::frontend {

std::string devicePathOf(const std::string& portName) {
    return comport::deviceOfPortName(portName).value_or(portName);
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
