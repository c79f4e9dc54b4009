#include "comport/driver/ComDriverBase.h"

#include "comport/driver/Event.h"

#include <cerrno>
#include <chrono>
#include <iterator>
#include <vector>

namespace comport::driver {

namespace {

thread_local std::uint32_t lastError = 0;

Event::Timeout toTimeout(std::uint32_t milliseconds) {
    if (milliseconds == infinite) return std::nullopt;
    return std::chrono::milliseconds(milliseconds);
}

} // namespace

void completeRequest(Overlapped* request, std::uint32_t status, std::uint32_t moved) {
    request->Internal = status;
    request->InternalHigh = moved;
    if (request->hEvent) reinterpret_cast<Event*>(request->hEvent)->set();
}

void startRequest(Overlapped* request) {
    request->Internal = statusPending;
    request->InternalHigh = 0;
    if (request->hEvent) reinterpret_cast<Event*>(request->hEvent)->reset();
}

EventHandle ComDriverBase::createEvent(bool manualReset, bool initialState) {
    return reinterpret_cast<EventHandle>(new Event(manualReset, initialState));
}

bool ComDriverBase::setEvent(EventHandle event) {
    if (!event) return fail(EINVAL);
    toEvent(event)->set();
    return true;
}

bool ComDriverBase::resetEvent(EventHandle event) {
    if (!event) return fail(EINVAL);
    toEvent(event)->reset();
    return true;
}

bool ComDriverBase::closeEvent(EventHandle event) {
    if (!event) return fail(EINVAL);
    delete toEvent(event);
    return true;
}

std::uint32_t ComDriverBase::waitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
    if (!event) {
        setLastError(EINVAL);
        return waitFailed;
    }
    return toEvent(event)->wait(toTimeout(milliseconds)) ? waitObject0 : waitTimeout;
}

std::uint32_t ComDriverBase::waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                                    bool waitAll, std::uint32_t milliseconds) {
    // Waiting for all events at once is not needed by the component, so it is not offered.
    if (waitAll) {
        setLastError(EINVAL);
        return waitFailed;
    }
    return waitAnyEvent(count, events, milliseconds, nullptr);
}

std::uint32_t ComDriverBase::waitAnyEvent(std::uint32_t count, const EventHandle* events,
                                          std::uint32_t milliseconds, Event::Sleeper* sleeper) {
    if (count == 0 || !events) {
        setLastError(EINVAL);
        return waitFailed;
    }
    // The event thread waits for two events on every wake-up: that needs no heap list.
    Event* few[4];
    std::vector<Event*> many;
    Event** list = few;
    if (count > std::size(few)) {
        many.resize(count);
        list = many.data();
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!events[i]) {
            setLastError(EINVAL);
            return waitFailed;
        }
        list[i] = toEvent(events[i]);
    }
    auto index = Event::waitAny(list, count, toTimeout(milliseconds), sleeper);
    return index ? waitObject0 + static_cast<std::uint32_t>(*index) : waitTimeout;
}

std::uint32_t ComDriverBase::getLastError() {
    return lastError;
}

void ComDriverBase::setLastError(std::uint32_t code) {
    lastError = code;
}

} // namespace comport::driver
