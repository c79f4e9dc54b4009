#pragma once

#ifndef _WIN32

// The device layer on POSIX terminals (termios). Handles are the devices' file descriptors.

#include "comport/driver/ComDriverBase.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace comport::driver::posix {

class PosixDevice;

class PosixDriver : public ComDriverBase {
public:
    ~PosixDriver() override;

    Handle createFile(const std::string& path) override;
    bool closeHandle(Handle device) override;
    bool setupComm(Handle device, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool getCommState(Handle device, Dcb& dcb) override;
    bool setCommState(Handle device, const Dcb& dcb) override;
    bool getCommTimeouts(Handle device, CommTimeouts& timeouts) override;
    bool setCommTimeouts(Handle device, const CommTimeouts& timeouts) override;
    bool readFile(Handle device, void* buffer, std::uint32_t count, std::uint32_t* read,
                  Overlapped* request) override;
    bool writeFile(Handle device, const void* bytes, std::uint32_t count, std::uint32_t* written,
                   Overlapped* request) override;
    bool getOverlappedResult(Handle device, Overlapped* request, std::uint32_t* moved,
                             bool wait) override;
    bool cancelIoEx(Handle device, Overlapped* request) override;
    bool purgeComm(Handle device, std::uint32_t flags) override;
    bool clearCommError(Handle device, std::uint32_t* errors, ComStat* status) override;
    bool getCommModemStatus(Handle device, std::uint32_t* status) override;
    bool escapeCommFunction(Handle device, std::uint32_t function) override;
    bool setCommMask(Handle device, std::uint32_t mask) override;
    bool getCommMask(Handle device, std::uint32_t* mask) override;
    bool waitCommEvent(Handle device, std::uint32_t* mask, Overlapped* request) override;
    void beginHandOver(Handle device) override;
    void endHandOver(Handle device) override;
    std::uint32_t takeEvents(Handle device, std::uint32_t mask) override;
    std::string systemErrorMessage(std::uint32_t code) override;
    // The calling thread's wake-up descriptor (PosixEventWait.h).
    std::uint32_t prepareWaits() override;

    // A wait for the completion event of a pending event wait watches that device's input in
    // the waiting thread (PosixEventWait.h); other waits are the base's.
    std::uint32_t waitForSingleObject(EventHandle event, std::uint32_t milliseconds) override;
    std::uint32_t waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                         bool waitAll, std::uint32_t milliseconds) override;

private:
    std::shared_ptr<PosixDevice> find(Handle device);
    // The devices whose pending event wait completes one of `events`; their number.
    std::size_t devicesWaitingOn(std::uint32_t count, const EventHandle* events,
                                 std::shared_ptr<PosixDevice>* found);
    // Records a result code: 0 gives true, anything else false with the code as last error.
    static bool result(std::uint32_t code);

    std::mutex tableLock_;
    std::unordered_map<Handle, std::shared_ptr<PosixDevice>> devices_;
};

} // namespace comport::driver::posix

#endif
