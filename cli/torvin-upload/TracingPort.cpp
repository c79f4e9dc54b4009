#include "cli/torvin-upload/TracingPort.h"

#include <string>

namespace torvinupload {

TracingPort::TracingPort(upload::PortOperations& port, std::FILE* out)
    : port_(port), out_(out), start_(std::chrono::steady_clock::now()) {}

void TracingPort::note(const char* what, const std::uint8_t* bytes, std::int32_t count) {
    std::string text = what;
    char hex[4];
    for (std::int32_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    note(text);
}

void TracingPort::note(const std::string& what) {
    const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start_;
    std::fprintf(out_, "%12.6f %s\n", t.count(), what.c_str());
}

void TracingPort::setPort(const std::string& name) {
    name_ = name;
    port_.setPort(name);
}

void TracingPort::openPort() {
    // Opening an open port does nothing, so only a real open is noted.
    const bool wasOpen = port_.Connected();
    try {
        port_.openPort();
    } catch (...) {
        note("open " + name_ + " failed");
        throw;
    }
    if (!wasOpen) note("open " + name_);
}

void TracingPort::closePort() {
    note("close");
    port_.closePort();
}

void TracingPort::setDtrLine(bool on) {
    note(on ? "DTR on" : "DTR off");
    port_.setDtrLine(on);
}

void TracingPort::setRtsLine(bool on) {
    note(on ? "RTS on" : "RTS off");
    port_.setRtsLine(on);
}

std::int32_t TracingPort::writeText(const std::string& text) {
    // Stamped before the call: the time the bytes were handed to the port.
    note(">", reinterpret_cast<const std::uint8_t*>(text.data()),
         static_cast<std::int32_t>(text.size()));
    return port_.writeText(text);
}

std::int32_t TracingPort::writeBytes(const std::uint8_t* bytes, std::int32_t count) {
    note(">", bytes, count);
    return port_.writeBytes(bytes, count);
}

std::int32_t TracingPort::readBytes(std::uint8_t* buffer, std::int32_t count) {
    const std::int32_t got = port_.readBytes(buffer, count);
    note("<", buffer, got);
    return got;
}

} // namespace torvinupload
