#pragma once

#include "comport/CustomComPort.h"

namespace comport {

// The port as a window places it: TCustomComPort with its settings published, nothing added.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    std::string className() const override { return "TComPort"; }
};

} // namespace comport
