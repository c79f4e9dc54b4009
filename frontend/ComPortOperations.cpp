#include "frontend/ComPortOperations.h"

#include "frontend/RunDevice.h"

#include <algorithm>

namespace upload::frontend {

std::uint32_t ComPortOperations::lineRate() const {
    if (!port_.Connected()) return 0;
    if (lookedAt_ != port_.Port()) {
        lookedAt_ = port_.Port();
        pseudoTerminal_ = isPseudoTerminal(deviceFileOf(lookedAt_));
    }
    if (pseudoTerminal_) return 0;
    return port_.BaudRate() == comport::brCustom
               ? static_cast<std::uint32_t>(std::max(port_.CustomBaudRate(), 0))
               : comport::baudRateValue(port_.BaudRate());
}

} // namespace upload::frontend
