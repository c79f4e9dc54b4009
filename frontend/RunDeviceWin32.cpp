#include "frontend/RunDevice.h"

#include <algorithm>
#include <cctype>
#include <string>

#include <windows.h>

namespace upload::frontend {

// Windows names a port the same whichever way it is written: "com4", "\\.\COM4" are COM4.
std::string deviceFileOf(const std::string& portName) {
    std::string name = portName;
    if (name.starts_with("\\\\.\\")) name.erase(0, 4);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

bool portPresent(const std::string& portName) {
    const std::string name = deviceFileOf(portName);
    wchar_t target[512];
    return QueryDosDeviceW(std::wstring(name.begin(), name.end()).c_str(), target, 512) != 0;
}

bool isPseudoTerminal(const std::string&) {
    return false;
}

} // namespace upload::frontend
