// The serial ports the system's device manager lists (SetupAPI), with their friendly names. The
// watch on adapters coming and going is in Win32SerialPortWatch.cpp.

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

// The serial port interface that port drivers offer (GUID_DEVINTERFACE_COMPORT), spelled out
// here: the headers only declare it.
extern const GUID comPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

namespace {

// Adds the ports of one device set, each name once.
void addPorts(HDEVINFO set, std::vector<SerialPortInfo>& ports) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        SerialPortInfo info;
        info.devicePath = portNameOf(set, device);
        if (!info.devicePath.starts_with("COM")) continue; // printer ports share the class
        if (std::any_of(ports.begin(), ports.end(),
                        [&](const auto& p) { return p.devicePath == info.devicePath; }))
            continue;
        // Device Manager shows the friendly name ("USB Serial Port (COM4)"), else the
        // description.
        info.product = registryText(set, device, SPDRP_DEVICEDESC);
        info.friendlyName = registryText(set, device, SPDRP_FRIENDLYNAME);
        if (info.friendlyName.empty()) info.friendlyName = info.product;
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
}

} // namespace

std::vector<SerialPortInfo> serialPortsPresent() {
    // The Ports class, and the devices of other classes (modems, some USB adapters) that offer a
    // serial port interface.
    std::vector<SerialPortInfo> ports;
    const struct {
        const GUID* guid;
        DWORD flags;
    } sets[] = {{&GUID_DEVCLASS_PORTS, DIGCF_PRESENT},
                {&comPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE}};
    for (const auto& s : sets) {
        HDEVINFO set = SetupDiGetClassDevsW(s.guid, nullptr, nullptr, s.flags);
        if (set == INVALID_HANDLE_VALUE)
            throw std::runtime_error("the system's list of serial ports cannot be read: " +
                                     fw::win32::errorMessage(GetLastError()));
        addPorts(set, ports);
        SetupDiDestroyDeviceInfoList(set);
    }
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return std::pair(a.devicePath.size(), a.devicePath) <
               std::pair(b.devicePath.size(), b.devicePath);
    });
    return ports;
}

} // namespace comport
