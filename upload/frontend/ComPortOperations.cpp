#include "upload/frontend/ComPortOperations.h"

#include "upload/frontend/RunDevice.h"

#include <algorithm>
#include <limits>

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

upload::OwedAnswers ComPortOperations::owedBefore() {
    // The file keeps only until when answers may come: as many as could be owed, each within all
    // of that time, so the next run waits all of it.
    const std::chrono::nanoseconds left = owed_.read(port_.Port());
    if (left <= std::chrono::nanoseconds::zero()) return {};
    return {std::numeric_limits<std::int32_t>::max(), left, left};
}

} // namespace upload::frontend
