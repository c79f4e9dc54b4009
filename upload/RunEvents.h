#pragma once

#include "upload/Outcome.h"

#include <cstdint>
#include <variant>

namespace upload {

// What an upload run tells its front ends as it goes, so that none has to read it back from the
// window: the run log, the command line's progress and its exit status all follow these. The
// window is changed exactly as before; these come beside its changes. An item is the
// programming-mode command (record 0) or a record.

// A press of the start button on an open port: a run from the command, over `totalRecords`.
struct RunStarted {
    std::int32_t totalRecords = 0;
};
// An item goes out, whatever the reason: first, after a refusal or a restart, or on a retry.
struct ItemSent {
    std::int32_t record = 0;
};
// The retry timer sends the item again after silence: send number `send` of five.
struct ItemResent {
    std::int32_t record = 0;
    std::int32_t send = 0;
};
// The board refused the item ("[R]").
struct ItemRefused {
    std::int32_t record = 0;
};
// The run is over, at `record`: answers still on their way change nothing.
struct RunEnded {
    RunOutcome outcome = RunOutcome::failed;
    std::int32_t record = 0;
};

using RunEvent = std::variant<RunStarted, ItemSent, ItemResent, ItemRefused, RunEnded>;

// Told each event on the thread that runs the upload logic, as it happens. A listener takes the
// events with std::visit and one overload per kind (RunEventHandlers), so an event added here is
// a compile error wherever it is not yet handled.
class RunListener {
public:
    virtual ~RunListener() = default;
    virtual void told(const RunEvent& event) = 0;
};

template <typename... Handlers> struct RunEventHandlers : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers> RunEventHandlers(Handlers...) -> RunEventHandlers<Handlers...>;

} // namespace upload
