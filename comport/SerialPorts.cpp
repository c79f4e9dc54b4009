// What an adapter is, in words; independent of how the device manager is read.

#include "comport/SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace comport {

namespace {

// udev's "_ENC" properties keep the device's own text with blanks and odd bytes as "\xNN".
std::string decodeEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string trimmed(std::string text) {
    const auto notBlank = [](unsigned char c) { return !std::isspace(c); };
    text.erase(std::find_if(text.rbegin(), text.rend(), notBlank).base(), text.end());
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notBlank));
    return text;
}

// The best name the facts hold: the hardware database's, the device's own, then the property
// with its blanks turned into '_' by udev, then the USB attribute read from sysfs.
std::string bestName(const DeviceFacts& f, const std::string& key, const char* attribute) {
    if (auto v = f.property((key + "_FROM_DATABASE").c_str()); !v.empty()) return v;
    if (auto v = trimmed(decodeEscapes(f.property((key + "_ENC").c_str()))); !v.empty()) return v;
    if (auto v = f.property(key.c_str()); !v.empty()) {
        std::replace(v.begin(), v.end(), '_', ' ');
        return v;
    }
    return trimmed(f.usbAttribute(attribute));
}

std::string firstOf(const DeviceFacts& f, const char* property, const char* attribute) {
    if (auto v = f.property(property); !v.empty()) return v;
    return f.usbAttribute(attribute);
}

} // namespace

SerialPortInfo serialPortInfo(const DeviceFacts& f) {
    SerialPortInfo info;
    info.devicePath = f.devicePath;
    info.vendor = bestName(f, "ID_VENDOR", "manufacturer");
    info.product = bestName(f, "ID_MODEL", "product");
    info.vendorId = firstOf(f, "ID_VENDOR_ID", "idVendor");
    info.productId = firstOf(f, "ID_MODEL_ID", "idProduct");
    info.serial = firstOf(f, "ID_SERIAL_SHORT", "serial");
    std::istringstream links(f.property("DEVLINKS"));
    for (std::string link; links >> link;) {
        if (link.starts_with("/dev/serial/by-id/")) {
            info.stableName = link;
            break;
        }
    }
    return info;
}

std::string describe(const SerialPortInfo& port) {
    if (!port.friendlyName.empty()) {
        if (port.friendlyName.find(port.devicePath) != std::string::npos) return port.friendlyName;
        return port.devicePath + ": " + port.friendlyName;
    }
    std::string text = port.devicePath;
    std::string what = trimmed(port.vendor + " " + port.product);
    if (!port.vendorId.empty() && !port.productId.empty())
        what += (what.empty() ? "[" : " [") + port.vendorId + ":" + port.productId + "]";
    std::vector<std::string> parts;
    if (!what.empty()) parts.push_back(what);
    if (!port.serial.empty()) parts.push_back("serial " + port.serial);
    if (!port.stableName.empty()) parts.push_back(port.stableName);
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? ": " : ", ") + parts[i];
    return text;
}

} // namespace comport
