#include "comport/PortNames.h"

namespace comport {

// The system resolves the name itself when the port is opened: nothing to add to it.
std::optional<std::string> deviceOfPortName(const std::string& name) {
    if (name.empty()) return std::nullopt;
    return name;
}

} // namespace comport
