#pragma once

// What a run's record says of the port: the device file behind the name, and the USB adapter's
// serial number, which names the cable's adapter (and so the board's place on the bench) however
// the system numbers the devices.

#include <string>

namespace upload::frontend {

// The device path a port name opens, as named: /dev/ttyS0 for COM1, the name itself for a path
// (and on Windows, where COM1 is the device's own name).
std::string devicePathOf(const std::string& portName);

// The device file a port name opens, links followed: /dev/ttyS0 for COM1, /dev/ttyUSB0 for a
// /dev/serial/by-id/ name. The name itself when no such file exists.
std::string deviceFileOf(const std::string& portName);

// Whether the port `portName` names is present on this computer: its device exists (on Linux,
// for /dev/ttySn, with a serial chip behind it; on Windows, a device of that name).
bool portPresent(const std::string& portName);

// Whether the device file is the terminal end of a pseudo-terminal, which moves bytes at once
// whatever rate it was set to (never on Windows, whose ports are devices of their own).
bool isPseudoTerminal(const std::string& deviceFile);

// The serial number of the USB adapter that `deviceFile` belongs to, as the system's device
// manager knows it; empty for a device without one (a built-in port, a pseudo-terminal) or when
// the device manager cannot be read.
std::string adapterSerialOf(const std::string& deviceFile);

} // namespace upload::frontend
