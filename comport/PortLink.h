#pragma once

#include "framework/EventSlot.h"

#include <cstdint>

namespace comport {

// An object attached to a port that is told about the port's activity. Every slot may be empty.
class TPortLink {
public:
    using StateSlot = fw::TEventSlot<fw::TObject*, bool>;
    using DataSlot = fw::TEventSlot<fw::TObject*, const std::uint8_t*, std::int32_t>;
    using NoticeSlot = fw::TEventSlot<fw::TObject*>;

    StateSlot connectionChanged;
    DataSlot dataReceived;
    DataSlot dataSent;
    NoticeSlot sendQueueEmptied;
    NoticeSlot eventCharReceived;
    StateSlot ctsChanged;
    StateSlot dsrChanged;
    StateSlot rlsdChanged;
    NoticeSlot ringDetected;
    StateSlot sendingChanged;
    StateSlot receivingChanged;
};

} // namespace comport
