#pragma once

// What a technician reads under the component's message when a port fails, in the window's error
// box and on torvin-upload's standard error alike: the system's words for its code, the device
// behind the port's name, what to do, and, once records have gone out, that the board may now
// hold an incomplete firmware.

#include "comport/ComErrors.h"

#include <cstdint>
#include <string>

namespace comport {
class TCustomComPort;
}

namespace upload::frontend {

// Who reads the advice: the window offers its list of ports, the command line --list-ports.
enum class FailureReader { window, commandLine };

struct PortFailure {
    std::string systemWords; // the system's words for the code; empty without one
    std::string device;      // the device behind the port's name; empty when it is the name
    std::string whatToDo;    // the advice, one or more lines, in the user's language
};

// `error` raised by `port` (named `portName` by the user) after `recordsSent` records went out
// in the run (0: none, or only the programming-mode command).
PortFailure describePortFailure(const comport::EComPort& error, const comport::TCustomComPort& port,
                                const std::string& portName, std::int32_t recordsSent,
                                FailureReader reader);

// The window's box: the component's message as it stands, then, under an empty line, the port
// with its device and the system's words, and what to do.
std::string windowFailureText(const comport::EComPort& error, const std::string& portName,
                              const PortFailure& failure);

// Whether the system's code `code` for a failed open means that no such port exists.
bool portMissing(std::int64_t code);

} // namespace upload::frontend
