#include "comport/ComErrors.h"

#include <string>

namespace comport {

const std::array<std::string_view, 25> errorMessages = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

namespace {

std::string tableText(int number) {
    if (number < firstErrorNumber || number > lastErrorNumber) return "Unknown error";
    return std::string(errorMessages[static_cast<std::size_t>(number)]);
}

} // namespace

EComPort::EComPort(int number, std::int32_t systemCode)
    : fw::Exception(tableText(number) + " (Error: " + std::to_string(systemCode) + ")"),
      systemErrorCode_(systemCode), errorCode_(number) {}

EComPort::EComPort(int number)
    : fw::Exception(tableText(number)), systemErrorCode_(-1), errorCode_(number) {}

} // namespace comport
