// Opening a port and its settings: queues, the device control block, time-outs.

#include "comport/driver/win32/Win32Driver.h"
#include "comport/driver/win32/Win32Handles.h"
#include "framework/Win32Text.h"

namespace comport::driver::win32 {

namespace {

DCB toSystem(const Dcb& d) {
    DCB s{};
    s.DCBlength = sizeof(DCB);
    s.BaudRate = d.BaudRate;
    s.fBinary = d.fBinary;
    s.fParity = d.fParity;
    s.fOutxCtsFlow = d.fOutxCtsFlow;
    s.fOutxDsrFlow = d.fOutxDsrFlow;
    s.fDtrControl = d.fDtrControl;
    s.fDsrSensitivity = d.fDsrSensitivity;
    s.fTXContinueOnXoff = d.fTXContinueOnXoff;
    s.fOutX = d.fOutX;
    s.fInX = d.fInX;
    s.fErrorChar = d.fErrorChar;
    s.fNull = d.fNull;
    s.fRtsControl = d.fRtsControl;
    s.fAbortOnError = d.fAbortOnError;
    s.XonLim = d.XonLim;
    s.XoffLim = d.XoffLim;
    s.ByteSize = d.ByteSize;
    s.Parity = d.Parity;
    s.StopBits = d.StopBits;
    s.XonChar = d.XonChar;
    s.XoffChar = d.XoffChar;
    s.ErrorChar = d.ErrorChar;
    s.EofChar = d.EofChar;
    s.EvtChar = d.EvtChar;
    return s;
}

Dcb fromSystem(const DCB& s) {
    Dcb d;
    d.BaudRate = s.BaudRate;
    d.fBinary = s.fBinary;
    d.fParity = s.fParity;
    d.fOutxCtsFlow = s.fOutxCtsFlow;
    d.fOutxDsrFlow = s.fOutxDsrFlow;
    d.fDtrControl = static_cast<std::uint8_t>(s.fDtrControl);
    d.fDsrSensitivity = s.fDsrSensitivity;
    d.fTXContinueOnXoff = s.fTXContinueOnXoff;
    d.fOutX = s.fOutX;
    d.fInX = s.fInX;
    d.fErrorChar = s.fErrorChar;
    d.fNull = s.fNull;
    d.fRtsControl = static_cast<std::uint8_t>(s.fRtsControl);
    d.fAbortOnError = s.fAbortOnError;
    d.XonLim = s.XonLim;
    d.XoffLim = s.XoffLim;
    d.ByteSize = s.ByteSize;
    d.Parity = s.Parity;
    d.StopBits = s.StopBits;
    d.XonChar = s.XonChar;
    d.XoffChar = s.XoffChar;
    d.ErrorChar = s.ErrorChar;
    d.EofChar = s.EofChar;
    d.EvtChar = s.EvtChar;
    return d;
}

} // namespace

std::wstring devicePathOf(const std::string& path) {
    static const std::string prefix = "\\\\.\\";
    std::string name = path;
    // The component names every port in the device namespace; a name given that way already
    // keeps its single prefix.
    while (name.starts_with(prefix + prefix))
        name.erase(0, prefix.size());
    return fw::win32::widen(name);
}

Handle Win32Driver::createFile(const std::string& path) {
    // No sharing: a second open, by this program or another, fails with ERROR_ACCESS_DENIED.
    HANDLE h = CreateFileW(devicePathOf(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return fromHandle(h);
}

bool Win32Driver::closeHandle(Handle device) {
    if (!CloseHandle(toHandle(device))) return false;
    std::lock_guard g(linesLock_);
    lines_.erase(device);
    return true;
}

bool Win32Driver::setupComm(Handle device, std::uint32_t inQueue, std::uint32_t outQueue) {
    return SetupComm(toHandle(device), inQueue, outQueue);
}

bool Win32Driver::getCommState(Handle device, Dcb& dcb) {
    DCB s{};
    s.DCBlength = sizeof(DCB);
    if (!GetCommState(toHandle(device), &s)) return false;
    dcb = fromSystem(s);
    return true;
}

bool Win32Driver::setCommState(Handle device, const Dcb& dcb) {
    // The block is built afresh from the settings; DTR and RTS keep what escapes made of them.
    std::lock_guard g(linesLock_);
    DCB s = toSystem(lines_[device].applying(dcb));
    return SetCommState(toHandle(device), &s);
}

bool Win32Driver::getCommTimeouts(Handle device, CommTimeouts& timeouts) {
    COMMTIMEOUTS s{};
    if (!GetCommTimeouts(toHandle(device), &s)) return false;
    timeouts = {s.ReadIntervalTimeout, s.ReadTotalTimeoutMultiplier, s.ReadTotalTimeoutConstant,
                s.WriteTotalTimeoutMultiplier, s.WriteTotalTimeoutConstant};
    return true;
}

bool Win32Driver::setCommTimeouts(Handle device, const CommTimeouts& t) {
    COMMTIMEOUTS s{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                   t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return SetCommTimeouts(toHandle(device), &s);
}

} // namespace comport::driver::win32

namespace comport::driver {

std::shared_ptr<ComDriver> platformDriver() {
    static const auto driver = std::make_shared<win32::Win32Driver>();
    return driver;
}

} // namespace comport::driver
