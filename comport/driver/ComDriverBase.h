#pragma once

#include "comport/driver/ComDriver.h"
#include "comport/driver/Event.h"

namespace comport::driver {

// What every backend without native event objects shares: events in user space (driver::Event
// behind the handles) and a per-thread last-error code.
class ComDriverBase : public ComDriver {
public:
    EventHandle createEvent(bool manualReset, bool initialState) override;
    bool setEvent(EventHandle event) override;
    bool resetEvent(EventHandle event) override;
    bool closeEvent(EventHandle event) override;
    std::uint32_t waitForSingleObject(EventHandle event, std::uint32_t milliseconds) override;
    std::uint32_t waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                         bool waitAll, std::uint32_t milliseconds) override;

    std::uint32_t getLastError() override;

protected:
    // waitForMultipleObjects (wait-any), sleeping in `sleeper` when one is given.
    static std::uint32_t waitAnyEvent(std::uint32_t count, const EventHandle* events,
                                      std::uint32_t milliseconds, Event::Sleeper* sleeper);
    static Event* toEvent(EventHandle event) { return reinterpret_cast<Event*>(event); }

    static void setLastError(std::uint32_t code);
    // Records the code and gives false, for one-line failure returns.
    static bool fail(std::uint32_t code) {
        setLastError(code);
        return false;
    }
};

// Sets an overlapped request's completion: status 0 is success, anything else the error code.
void completeRequest(Overlapped* request, std::uint32_t status, std::uint32_t moved);
// Marks a request as running and resets its event.
void startRequest(Overlapped* request);
// The status value of a request that is still running.
inline constexpr std::uintptr_t statusPending = 0x103;

} // namespace comport::driver
