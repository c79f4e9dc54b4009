#include "upload/frontend/ComPortOperations.h"

#include "upload/frontend/RunDevice.h"

#include <algorithm>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace upload::frontend {

namespace {

// A pseudo-terminal moves bytes at once, whatever rate it was set to.
bool isPseudoTerminal(const std::string& deviceFile) {
#ifdef _WIN32
    (void)deviceFile;
    return false;
#else
    struct stat info {};
    if (::stat(deviceFile.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= 136 && major <= 143; // the kernel's numbers for pseudo-terminal ends
#endif
}

} // namespace

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
