#pragma once

// Event slot types of the serial port component. Sender is always the port.

#include "comport/ComTypes.h"
#include "framework/EventSlot.h"

#include <cstdint>
#include <string>

namespace comport {

using TRxCharEvent = fw::TEventSlot<fw::TObject*, std::int32_t>;
using TRxBufEvent = fw::TEventSlot<fw::TObject*, const std::uint8_t*, std::int32_t>;
using TComSignalEvent = fw::TEventSlot<fw::TObject*, bool>;
using TComErrorEvent = fw::TEventSlot<fw::TObject*, TComErrors>;
// Sender, kind, the component's message, the system error code, the system's text for it.
using TComExceptionEvent = fw::TEventSlot<fw::TObject*, TComExceptions, const std::string&,
                                          std::int64_t, const std::string&>;

} // namespace comport
