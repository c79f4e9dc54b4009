#pragma once

// The DTR and RTS outputs as the program last set them with escape functions. The component
// builds the device control block afresh from its settings at every apply, so a block applied
// after an escape says "disable" (or "enable") for a line that the program has raised (or
// dropped) since, and the system's SetCommState sets the line that way: changing the baud rate
// would drop the DTR the program raised. While a line's control stays the same, the block passed
// on carries the line's escaped state instead; a new control value sets the line itself.

#include "comport/driver/ComDriver.h"

#include <optional>

namespace comport::driver {

class EscapedLines {
public:
    // An escape function has succeeded (setDtr, clrDtr, setRts, clrRts; others are ignored).
    void escaped(std::uint32_t function);
    // The block to pass on for `wanted`.
    Dcb applying(const Dcb& wanted);

private:
    struct Line {
        std::optional<std::uint8_t> control; // as last asked for
        std::optional<bool> raised;          // by an escape since
    };
    static void keep(std::uint8_t& control, Line& line);
    Line dtr_, rts_;
};

} // namespace comport::driver
