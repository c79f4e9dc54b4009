#pragma once

// The device handle of a port as every thread that calls the device sees it. A call holds the
// handle for the length of its device call (a DeviceUse); a close shuts the gate, so that later
// calls find no device, and waits for the calls under way before the handle is closed. A call
// that races a close therefore reaches the device it was meant for or fails as on a closed port:
// never a device opened later under the same number, as the platform reuses handle numbers.

#include "comport/driver/ComDriver.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace comport {

class DeviceGate {
public:
    // A new device (or none, invalidHandleValue) behind the gate; the gate opens.
    void open(driver::Handle handle);
    // Shuts the gate and waits until no call holds the handle; `endRequests` is called with the
    // handle while any do, to end the requests they may be waiting for. Gives the handle, which
    // the caller then closes, and calls closed() or (when the close failed) keep(). Gives
    // invalidHandleValue, and changes nothing, when there is no device or another close is at it.
    driver::Handle shut(const std::function<void(driver::Handle)>& endRequests);
    void closed();
    // After a close that failed: the same device stays reachable.
    void keep();

    // The handle now (invalidHandleValue while shut or closed), for the port's portHandle().
    driver::Handle current() const;
    // Counts the devices opened behind the gate; a use may ask for one of them only.
    std::uint64_t generation() const;

private:
    friend class DeviceUse;
    mutable std::mutex lock_;
    std::condition_variable idle_;
    driver::Handle handle_ = driver::invalidHandleValue;
    std::uint64_t generation_ = 0;
    int users_ = 0;
    bool shut_ = false;
};

// One call's hold on the device: handle() is the open device, or invalidHandleValue when the
// gate is shut, closed, or (with `generation` given) holds another device than the one asked for.
// Hold it only around device calls, never around a handler: a handler may close the port.
class DeviceUse {
public:
    static constexpr std::uint64_t anyDevice = ~std::uint64_t{0};
    explicit DeviceUse(DeviceGate& gate, std::uint64_t generation = anyDevice);
    ~DeviceUse();
    DeviceUse(const DeviceUse&) = delete;
    DeviceUse& operator=(const DeviceUse&) = delete;

    driver::Handle handle() const { return handle_; }
    bool reaches() const { return handle_ != driver::invalidHandleValue; }

private:
    DeviceGate& gate_;
    driver::Handle handle_ = driver::invalidHandleValue;
};

} // namespace comport
