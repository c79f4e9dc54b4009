// The serial ports the system's device manager lists (SetupAPI), with their friendly names.

#include "comport/SerialPorts.h"
#include "comport/UsbInstanceIds.h"
#include "framework/Win32Text.h"

#include <windows.h>

#include <cfgmgr32.h>
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

// The instance name of the device's parent (the USB device of a port that has a driver of its
// own), empty when there is none.
std::string parentInstanceOf(const SP_DEVINFO_DATA& device) {
    DEVINST parent = 0;
    wchar_t name[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Parent(&parent, device.DevInst, 0) != CR_SUCCESS ||
        CM_Get_Device_IDW(parent, name, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return fw::win32::narrow(name);
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
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            const UsbInstanceIds ids =
                usbInstanceIds(fw::win32::narrow(instance), parentInstanceOf(device));
            info.vendorId = ids.vendorId;
            info.productId = ids.productId;
            info.serial = ids.serial;
        }
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
