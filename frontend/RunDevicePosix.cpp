#include "frontend/RunDevice.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace upload::frontend {

std::string deviceFileOf(const std::string& portName) {
    const std::string path = devicePathOf(portName);
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : path;
}

bool portPresent(const std::string& portName) {
    const std::string path = deviceFileOf(portName);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    // The kernel makes ttyS nodes for serial chips that may not be there; it says "0" for the
    // type of a port without one.
    const std::string base = path.substr(path.rfind('/') + 1);
    if (!base.starts_with("ttyS")) return true;
    std::ifstream type("/sys/class/tty/" + base + "/type");
    int kind = 0;
    return !(type >> kind) || kind != 0;
}

bool isPseudoTerminal(const std::string& deviceFile) {
    struct stat info {};
    if (::stat(deviceFile.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= 136 && major <= 143; // the kernel's numbers for pseudo-terminal ends
}

} // namespace upload::frontend
