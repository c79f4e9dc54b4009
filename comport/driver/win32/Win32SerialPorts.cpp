// The serial ports the system's device manager lists (SetupAPI), with their friendly names.

#include "comport/SerialPorts.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <stdexcept>

namespace comport {

namespace {

std::string registryText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr) ||
        type != REG_SZ) {
        return {};
    }
    return fw::win32::narrow(buffer);
}

// The port's name ("COM4") kept under its device key.
std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t), type = 0;
    const bool found = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    return found ? fw::win32::narrow(name) : std::string();
}

// "USB\VID_0403&PID_6001\A9X1QZ2B": the ids and, for a USB device, its serial number.
void idsOf(const std::string& instance, SerialPortInfo& info) {
    auto after = [&](const char* tag) -> std::string {
        const auto at = instance.find(tag);
        return at == std::string::npos ? std::string() : instance.substr(at + 4, 4);
    };
    info.vendorId = after("VID_");
    info.productId = after("PID_");
    const auto last = instance.rfind('\\');
    if (instance.starts_with("USB\\") && last != std::string::npos &&
        instance.find('&', last) == std::string::npos) {
        info.serial = instance.substr(last + 1);
    }
}

} // namespace

std::vector<SerialPortInfo> serialPortsPresent() {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        throw std::runtime_error("the system's list of serial ports cannot be read");
    std::vector<SerialPortInfo> ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        SerialPortInfo info;
        info.devicePath = portNameOf(set, device);
        if (!info.devicePath.starts_with("COM")) continue; // printer ports share the class
        // The friendly name already ends with the port's name: "USB Serial Port (COM4)".
        info.product = registryText(set, device, SPDRP_FRIENDLYNAME);
        if (info.product.empty()) info.product = registryText(set, device, SPDRP_DEVICEDESC);
        info.vendor = registryText(set, device, SPDRP_MFG);
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr))
            idsOf(fw::win32::narrow(instance), info);
        ports.push_back(std::move(info));
    }
    SetupDiDestroyDeviceInfoList(set);
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return std::pair(a.devicePath.size(), a.devicePath) <
               std::pair(b.devicePath.size(), b.devicePath);
    });
    return ports;
}

// Following adapters as they come and go is the window's business, which has no Windows build.
struct SerialPortWatch::Monitor {};

SerialPortWatch::SerialPortWatch() {
    throw std::runtime_error("following serial adapters is not available on Windows");
}
SerialPortWatch::~SerialPortWatch() = default;
int SerialPortWatch::descriptor() const {
    return -1;
}
bool SerialPortWatch::changed() {
    return false;
}

} // namespace comport
