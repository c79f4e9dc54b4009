#pragma once

// The device layer on the Windows API: every operation is the system call of the same name.
// Handles, events, request records, control blocks and error codes are the system's own, so the
// component's error numbers and texts are those Windows gives.

#include "comport/driver/ComDriver.h"
#include "comport/driver/EscapedLines.h"

#include <mutex>
#include <unordered_map>

namespace comport::driver::win32 {

class Win32Driver final : public ComDriver {
public:
    // Under Wine, a ClearCommError from the event thread on a line that broke leaves the next
    // device opened under the port unusable ("Not ready"); a real Windows was not tried. The
    // owner's query stamps the bytes instead, later by the hand-over's delay.
    bool countsOnEventThread() const override { return false; }
    // devices (Win32Device.cpp)
    Handle createFile(const std::string& path) override;
    bool closeHandle(Handle device) override;
    bool setupComm(Handle device, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool getCommState(Handle device, Dcb& dcb) override;
    bool setCommState(Handle device, const Dcb& dcb) override;
    bool getCommTimeouts(Handle device, CommTimeouts& timeouts) override;
    bool setCommTimeouts(Handle device, const CommTimeouts& timeouts) override;

    // overlapped reading and writing (Win32Io.cpp)
    bool readFile(Handle device, void* buffer, std::uint32_t count, std::uint32_t* read,
                  Overlapped* request) override;
    bool writeFile(Handle device, const void* bytes, std::uint32_t count, std::uint32_t* written,
                   Overlapped* request) override;
    bool getOverlappedResult(Handle device, Overlapped* request, std::uint32_t* moved,
                             bool wait) override;
    bool cancelIoEx(Handle device, Overlapped* request) override;
    bool purgeComm(Handle device, std::uint32_t flags) override;

    // line state and line events (Win32Line.cpp)
    bool clearCommError(Handle device, std::uint32_t* errors, ComStat* status) override;
    bool getCommModemStatus(Handle device, std::uint32_t* status) override;
    bool escapeCommFunction(Handle device, std::uint32_t function) override;
    bool setCommMask(Handle device, std::uint32_t mask) override;
    bool getCommMask(Handle device, std::uint32_t* mask) override;
    bool waitCommEvent(Handle device, std::uint32_t* mask, Overlapped* request) override;

    // events, waits and errors (Win32Events.cpp)
    EventHandle createEvent(bool manualReset, bool initialState) override;
    bool setEvent(EventHandle event) override;
    bool resetEvent(EventHandle event) override;
    bool closeEvent(EventHandle event) override;
    std::uint32_t waitForSingleObject(EventHandle event, std::uint32_t milliseconds) override;
    std::uint32_t waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                         bool waitAll, std::uint32_t milliseconds) override;
    std::uint32_t getLastError() override;
    std::string systemErrorMessage(std::uint32_t code) override;

private:
    // Per open device: DTR and RTS as escape functions left them, kept across control blocks.
    std::mutex linesLock_;
    std::unordered_map<Handle, EscapedLines> lines_;
};

// The system's name for a port: "COM10" and "\\.\COM10" both give "\\.\COM10", so that ports
// above COM9 open; any other name is used as it stands.
std::wstring devicePathOf(const std::string& path);

} // namespace comport::driver::win32
