#ifndef _WIN32

#include "comport/driver/posix/PosixDriver.h"

#include "comport/driver/Event.h"
#include "comport/driver/posix/PosixDevice.h"
#include "comport/driver/posix/PosixEventWait.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <system_error>

namespace comport::driver {

std::shared_ptr<ComDriver> platformDriver() {
    static const std::shared_ptr<ComDriver> instance = std::make_shared<posix::PosixDriver>();
    return instance;
}

namespace posix {

PosixDriver::~PosixDriver() {
    for (auto& [handle, device] : devices_)
        device->close();
}

std::shared_ptr<PosixDevice> PosixDriver::find(Handle device) {
    std::lock_guard g(tableLock_);
    auto it = devices_.find(device);
    return it == devices_.end() ? nullptr : it->second;
}

bool PosixDriver::result(std::uint32_t code) {
    if (code == 0) return true;
    return fail(code);
}

Handle PosixDriver::createFile(const std::string& path) {
    const auto resolved = resolveDevicePath(path);
    if (!resolved) {
        setLastError(ENOENT);
        return invalidHandleValue;
    }
    int error = 0;
    auto device = PosixDevice::open(*resolved, error);
    if (!device) {
        setLastError(static_cast<std::uint32_t>(error));
        return invalidHandleValue;
    }
    const auto handle = static_cast<Handle>(device->fd());
    std::lock_guard g(tableLock_);
    devices_[handle] = std::move(device);
    return handle;
}

bool PosixDriver::closeHandle(Handle handle) {
    std::shared_ptr<PosixDevice> device;
    {
        std::lock_guard g(tableLock_);
        auto it = devices_.find(handle);
        if (it == devices_.end()) return fail(EBADF);
        device = std::move(it->second);
        devices_.erase(it);
    }
    return result(device->close());
}

#define WITH_DEVICE(call)                                                                          \
    auto device = find(handle);                                                                    \
    if (!device) return fail(EBADF);                                                               \
    return result(device->call)

bool PosixDriver::setupComm(Handle handle, std::uint32_t inQueue, std::uint32_t outQueue) {
    WITH_DEVICE(setupComm(inQueue, outQueue));
}
bool PosixDriver::getCommState(Handle handle, Dcb& dcb) {
    WITH_DEVICE(getState(dcb));
}
bool PosixDriver::setCommState(Handle handle, const Dcb& dcb) {
    WITH_DEVICE(setState(dcb));
}
bool PosixDriver::getCommTimeouts(Handle handle, CommTimeouts& timeouts) {
    WITH_DEVICE(getTimeouts(timeouts));
}
bool PosixDriver::setCommTimeouts(Handle handle, const CommTimeouts& timeouts) {
    WITH_DEVICE(setTimeouts(timeouts));
}

bool PosixDriver::readFile(Handle handle, void* buffer, std::uint32_t count, std::uint32_t* read,
                           Overlapped* request) {
    if (read) *read = 0;
    if (!request || (!buffer && count > 0)) return fail(EINVAL);
    WITH_DEVICE(read(buffer, count, read, request));
}

bool PosixDriver::writeFile(Handle handle, const void* bytes, std::uint32_t count,
                            std::uint32_t* written, Overlapped* request) {
    if (written) *written = 0;
    if (!request || (!bytes && count > 0)) return fail(EINVAL);
    WITH_DEVICE(write(bytes, count, written, request));
}

bool PosixDriver::cancelIoEx(Handle handle, Overlapped* request) {
    WITH_DEVICE(cancel(request));
}
bool PosixDriver::purgeComm(Handle handle, std::uint32_t flags) {
    WITH_DEVICE(purge(flags));
}
bool PosixDriver::clearCommError(Handle handle, std::uint32_t* errors, ComStat* status) {
    WITH_DEVICE(clearErrors(errors, status));
}
bool PosixDriver::getCommModemStatus(Handle handle, std::uint32_t* status) {
    WITH_DEVICE(modemStatus(status));
}
bool PosixDriver::escapeCommFunction(Handle handle, std::uint32_t function) {
    WITH_DEVICE(escape(function));
}
bool PosixDriver::setCommMask(Handle handle, std::uint32_t mask) {
    WITH_DEVICE(setMask(mask));
}
bool PosixDriver::getCommMask(Handle handle, std::uint32_t* mask) {
    WITH_DEVICE(getMask(mask));
}
bool PosixDriver::waitCommEvent(Handle handle, std::uint32_t* mask, Overlapped* request) {
    WITH_DEVICE(waitEvent(mask, request));
}

#undef WITH_DEVICE

void PosixDriver::beginHandOver(Handle handle) {
    if (auto device = find(handle)) device->handOver(true);
}
void PosixDriver::endHandOver(Handle handle) {
    if (auto device = find(handle)) device->handOver(false);
}
std::uint32_t PosixDriver::takeEvents(Handle handle, std::uint32_t mask) {
    auto device = find(handle);
    return device ? device->takeEvents(mask) : 0;
}

bool PosixDriver::getOverlappedResult(Handle handle, Overlapped* request, std::uint32_t* moved,
                                      bool wait) {
    // The record and its event tell everything, as on the platform when an event is given.
    if (!request || !request->hEvent) return fail(EINVAL);
    auto* event = toEvent(request->hEvent);
    if (!event->isSet()) {
        if (wait) {
            waitForSingleObject(request->hEvent, infinite);
        } else if (auto device = find(handle); device && device->waitsOn(request->hEvent)) {
            // Nobody may be watching the line for this event wait: look at what has arrived.
            device->serveInput(POLLIN);
        }
        if (!event->isSet()) return fail(errorIoIncomplete);
    }
    if (moved) *moved = static_cast<std::uint32_t>(request->InternalHigh);
    if (request->Internal != 0) return fail(static_cast<std::uint32_t>(request->Internal));
    return true;
}

std::size_t PosixDriver::devicesWaitingOn(std::uint32_t count, const EventHandle* events,
                                          std::shared_ptr<PosixDevice>* found) {
    std::size_t n = 0;
    std::lock_guard g(tableLock_);
    for (auto& [handle, device] : devices_) {
        for (std::uint32_t i = 0; i < count && n < DeviceSleeper::maxDevices; ++i) {
            if (events[i] && device->waitsOn(events[i])) {
                found[n++] = device;
                break;
            }
        }
    }
    return n;
}

std::uint32_t PosixDriver::waitForSingleObject(EventHandle event, std::uint32_t milliseconds) {
    // A request that has completed (the usual case for a read or a write) needs no look.
    if (event && !toEvent(event)->isSet()) {
        std::shared_ptr<PosixDevice> device;
        if (devicesWaitingOn(1, &event, &device) > 0)
            return waitForMultipleObjects(1, &event, false, milliseconds);
    }
    return ComDriverBase::waitForSingleObject(event, milliseconds);
}

std::uint32_t PosixDriver::waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                                  bool waitAll, std::uint32_t milliseconds) {
    std::array<std::shared_ptr<PosixDevice>, DeviceSleeper::maxDevices> devices;
    const std::size_t n = waitAll || !events || count > DeviceSleeper::maxDevices
                              ? 0
                              : devicesWaitingOn(count, events, devices.data());
    if (n == 0) return ComDriverBase::waitForMultipleObjects(count, events, waitAll, milliseconds);

    auto failWait = [](std::uint32_t code) {
        setLastError(code);
        return waitFailed;
    };
    DeviceSleeper* sleeper = nullptr;
    try {
        sleeper = &DeviceSleeper::forThisThread();
    } catch (const std::system_error& e) {
        return failWait(static_cast<std::uint32_t>(e.code().value()));
    }
    struct Serving {
        DeviceSleeper& sleeper;
        ~Serving() { sleeper.end(); } // the devices must not keep a sleeper that has moved on
    } serving{*sleeper};
    sleeper->begin(devices.data(), n);
    const std::uint32_t result = waitAnyEvent(count, events, milliseconds, sleeper);
    if (result == waitTimeout && sleeper->failure() != 0)
        return failWait(static_cast<std::uint32_t>(sleeper->failure()));
    return result;
}

std::uint32_t PosixDriver::prepareWaits() {
    try {
        DeviceSleeper::forThisThread();
        return 0;
    } catch (const std::system_error& e) {
        return static_cast<std::uint32_t>(e.code().value());
    }
}

std::string PosixDriver::systemErrorMessage(std::uint32_t code) {
    char buffer[256];
    return ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
}

} // namespace posix
} // namespace comport::driver

#endif
