#include "comport/DeviceGate.h"

#include <chrono>

namespace comport {

void DeviceGate::open(driver::Handle handle) {
    std::lock_guard g(lock_);
    handle_ = handle;
    ++generation_;
    shut_ = false;
}

void DeviceGate::closed() {
    std::lock_guard g(lock_);
    handle_ = driver::invalidHandleValue;
    shut_ = false;
}

driver::Handle DeviceGate::shut(const std::function<void(driver::Handle)>& endRequests) {
    std::unique_lock g(lock_);
    // Nothing to close, or another close is at it (and closes the device).
    if (shut_ || handle_ == driver::invalidHandleValue) return driver::invalidHandleValue;
    shut_ = true;
    const driver::Handle handle = handle_;
    while (users_ > 0) {
        // A call may have started a request after the close aborted the outstanding ones, and
        // wait for it up to its time-out (or without one): it is ended again, and looked at
        // again shortly, as the call may start yet another.
        if (handle != driver::invalidHandleValue && endRequests) {
            g.unlock();
            endRequests(handle);
            g.lock();
        }
        idle_.wait_for(g, std::chrono::milliseconds(20), [&] { return users_ == 0; });
    }
    return handle;
}

void DeviceGate::keep() {
    std::lock_guard g(lock_);
    shut_ = false;
}

driver::Handle DeviceGate::current() const {
    std::lock_guard g(lock_);
    return shut_ ? driver::invalidHandleValue : handle_;
}

std::uint64_t DeviceGate::generation() const {
    std::lock_guard g(lock_);
    return generation_;
}

DeviceUse::DeviceUse(DeviceGate& gate, std::uint64_t generation) : gate_(gate) {
    std::lock_guard g(gate_.lock_);
    if (gate_.shut_ || gate_.handle_ == driver::invalidHandleValue) return;
    if (generation != anyDevice && generation != gate_.generation_) return;
    handle_ = gate_.handle_;
    ++gate_.users_;
}

DeviceUse::~DeviceUse() {
    if (handle_ == driver::invalidHandleValue) return;
    std::lock_guard g(gate_.lock_);
    if (--gate_.users_ == 0) gate_.idle_.notify_all();
}

} // namespace comport
