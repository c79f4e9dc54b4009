#pragma once

#ifndef _WIN32

// The wait for a line event, served by the thread that waits for it. When a thread waits for the
// completion event of a pending event wait, it sleeps in poll() on the device itself (and on a
// descriptor of its own that the other events of its wait, such as a stop event, ring) and takes
// the arrival in when it wakes: the arrival completes the request in this very thread. So a byte
// from the far end wakes one thread, the one that handles it, instead of the I/O thread first.
// The device's other helpers (the I/O thread for reads and writes that wait, "output empty", the
// modem-line wait) still complete the request from their threads, through wake().

#include "comport/driver/Event.h"

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>

namespace comport::driver::posix {

class PosixDevice;

class DeviceSleeper final : public Event::Sleeper {
public:
    // As many devices as one wait can name events.
    static constexpr std::size_t maxDevices = 64;

    // The calling thread's sleeper; its wake-up descriptor lives as long as the thread.
    static DeviceSleeper& forThisThread();

    DeviceSleeper();
    ~DeviceSleeper();
    DeviceSleeper(const DeviceSleeper&) = delete;
    DeviceSleeper& operator=(const DeviceSleeper&) = delete;

    // The devices whose input this thread watches from now until end().
    void begin(const std::shared_ptr<PosixDevice>* devices, std::size_t count);
    void end();

    // The error of a poll that failed since begin(), 0 if none; the wait has ended then.
    int failure() const { return failure_; }

    bool sleep(Event::Deadline deadline) override;
    void serve() override;
    void wake() override;

private:
    int wakeFd_ = -1;
    std::mutex lock_;
    bool pending_ = false; // wake() since the last sleep
    bool asleep_ = false;
    bool written_ = false; // a wake() has written to wakeFd_ during this sleep
    const std::shared_ptr<PosixDevice>* devices_ = nullptr;
    std::size_t count_ = 0;
    int failure_ = 0;
    std::array<short, maxDevices> revents_{};
    std::array<bool, maxDevices> due_{}; // a device's planned look has come
};

} // namespace comport::driver::posix

#endif
