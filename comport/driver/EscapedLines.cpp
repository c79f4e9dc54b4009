#include "comport/driver/EscapedLines.h"

namespace comport::driver {

void EscapedLines::escaped(std::uint32_t function) {
    switch (function) {
    case escape::setDtr:
    case escape::clrDtr:
        dtr_.raised = function == escape::setDtr;
        break;
    case escape::setRts:
    case escape::clrRts:
        rts_.raised = function == escape::setRts;
        break;
    default:
        break;
    }
}

Dcb EscapedLines::applying(const Dcb& wanted) {
    Dcb block = wanted;
    keep(block.fDtrControl, dtr_);
    keep(block.fRtsControl, rts_);
    return block;
}

void EscapedLines::keep(std::uint8_t& control, Line& line) {
    if (line.control != control) {
        line.control = control;
        line.raised.reset();
        return;
    }
    // Only "enable" and "disable" leave the line to the program (dtrControl and rtsControl share
    // these two values).
    if (line.raised && (control == dtrControl::enable || control == dtrControl::disable))
        control = *line.raised ? dtrControl::enable : dtrControl::disable;
}

} // namespace comport::driver
