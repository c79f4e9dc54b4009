#pragma once

// The ports a technician can pick, in the order the window lists them and torvin-upload
// --list-ports prints them.

#include "comport/SerialPorts.h"

#include <string>
#include <vector>

namespace upload::frontend {

struct PortChoice {
    std::string name;  // what opens the port: "COM3", an adapter's stable name, a path
    std::string label; // what the list shows

    bool operator==(const PortChoice&) const = default;
};

// "COM1" to "COM15", then each adapter (opened by its /dev/serial/by-id name when it has one, so
// that the choice follows the adapter and not the number the system gave it), then `extra` (from
// --port) unless it names one of those already. Names appear once each.
std::vector<PortChoice> portChoices(const std::vector<comport::SerialPortInfo>& adapters,
                                    const std::string& extra);

// The entry of `choices` that `name` designates (its name, or an adapter's device path), or -1.
int findChoice(const std::vector<PortChoice>& choices, const std::string& name);

} // namespace upload::frontend
