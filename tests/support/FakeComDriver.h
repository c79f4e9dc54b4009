#pragma once

// A scripted device layer for tests: records every device call with its arguments, fails chosen
// calls with chosen codes, and holds the bytes, modem lines, error flags and line events of one
// device. Calls made on the thread that created it (the test's) are kept apart from those of
// other threads (the port's event thread), so that each list has a fixed order.

#include "comport/driver/ComDriverBase.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class FakeComDriver : public comport::driver::ComDriverBase {
public:
    using Handle = comport::driver::Handle;
    using Overlapped = comport::driver::Overlapped;

    static constexpr Handle firstHandle = 0x100;
    static constexpr std::uint32_t badHandleCode = 9; // what the platform says of a bad handle

    // --- script ----------------------------------------------------------------------------
    // The next `times` calls of the named operation fail with `code`.
    void failCall(const std::string& operation, std::uint32_t code, int times = 1);
    // The next read, write or event wait ("readFile"/"writeFile"/"waitCommEvent") is accepted as
    // pending and ends in failure with `code`, as a request that the device gives up on.
    void failCompletion(const std::string& operation, std::uint32_t code);
    // Reads and writes go pending until completePending is called.
    void holdRequests(bool on);
    void completePending();
    // The next call of the named operation ("readFile", "writeFile", "clearCommError",
    // "escapeCommFunction"), on any thread, first runs `hook` there, before it looks at its
    // handle: a test can hold a call at the point where it races a close.
    void onNextCall(const std::string& operation, std::function<void()> hook);
    // Every open gives the same handle, as a platform gives a closed descriptor's number to the
    // next device opened.
    void reuseHandles(bool on);
    // Each write moves at most `bytes` and ends with that, as one held by flow control ends at its
    // time-out.
    void limitWrites(std::uint32_t bytes);
    // The monotonic clock reads `time` from now on (the steady clock until this is called).
    void setClock(std::chrono::steady_clock::time_point time);

    // Bytes arrive: "characters received", and "event character" when the control block's
    // event character is among them (unless `announce` is false: the bytes are simply there).
    void feedInput(const std::string& bytes, bool announce = true);
    void setModemStatus(std::uint32_t bits);
    void setErrorFlags(std::uint32_t flags);
    // Line events occur (commEvent bits; those outside the mask are dropped, as the device does).
    void raiseEvents(std::uint32_t events);
    // The waiting event request ends in failure with `code` (a device that gives up on it).
    void failEventWait(std::uint32_t code);
    // Blocks until an event request is waiting (true) or the time is up.
    bool waitForEventWait(std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool eventWaitPending() const;

    // --- what happened ---------------------------------------------------------------------
    // Calls made on the creating thread since the last clearCalls.
    std::vector<std::string> calls() const;
    // Calls made on any other thread since the last clearCalls.
    std::vector<std::string> otherThreadCalls() const;
    void clearCalls();
    // Calls of the named operation on the creating thread.
    int count(const std::string& operation) const;
    std::uint32_t eventMask() const;
    std::vector<comport::driver::Dcb> dcbs() const;
    std::vector<comport::driver::CommTimeouts> timeouts() const;
    std::string output() const;
    std::size_t inputLeft() const;
    bool isOpen() const;
    int opens() const;

    // --- ComDriver -------------------------------------------------------------------------
    Handle createFile(const std::string& path) override;
    bool closeHandle(Handle device) override;
    bool setupComm(Handle device, std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool getCommState(Handle device, comport::driver::Dcb& dcb) override;
    bool setCommState(Handle device, const comport::driver::Dcb& dcb) override;
    bool getCommTimeouts(Handle device, comport::driver::CommTimeouts& timeouts) override;
    bool setCommTimeouts(Handle device, const comport::driver::CommTimeouts& timeouts) override;
    bool readFile(Handle device, void* buffer, std::uint32_t count, std::uint32_t* read,
                  Overlapped* request) override;
    bool writeFile(Handle device, const void* bytes, std::uint32_t count, std::uint32_t* written,
                   Overlapped* request) override;
    bool getOverlappedResult(Handle device, Overlapped* request, std::uint32_t* moved,
                             bool wait) override;
    bool cancelIoEx(Handle device, Overlapped* request) override;
    bool purgeComm(Handle device, std::uint32_t flags) override;
    bool clearCommError(Handle device, std::uint32_t* errors,
                        comport::driver::ComStat* status) override;
    bool getCommModemStatus(Handle device, std::uint32_t* status) override;
    bool escapeCommFunction(Handle device, std::uint32_t function) override;
    bool setCommMask(Handle device, std::uint32_t mask) override;
    bool getCommMask(Handle device, std::uint32_t* mask) override;
    bool waitCommEvent(Handle device, std::uint32_t* mask, Overlapped* request) override;
    std::string systemErrorMessage(std::uint32_t code) override;

    std::chrono::steady_clock::time_point monotonicTime() override;

private:
    struct Pending {
        Overlapped* request;
        bool isRead;
        std::uint8_t* readBuffer;
        std::string writeBytes;
        std::uint32_t count;
    };

    void runHook(const std::string& operation);
    // Records the call; false (with the code set) when the script says it fails or the handle
    // is not the open device.
    bool enter(const std::string& operation, const std::string& args, Handle device,
               bool needsDevice = true);
    // Starts a read or write: it fails as scripted, is held, or ends at once (true, with the
    // count moved in *moved).
    bool submitLocked(const std::string& operation, Pending p, std::uint32_t* moved);
    void finishLocked(Pending& p, std::uint32_t status);
    void raiseLocked(std::uint32_t events);
    void completeWaitLocked(std::uint32_t events, std::uint32_t status);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    const std::thread::id creator_ = std::this_thread::get_id();
    std::optional<std::chrono::steady_clock::time_point> clock_;
    std::vector<std::string> calls_;
    std::vector<std::string> otherCalls_;
    std::map<std::string, std::deque<std::uint32_t>> failures_;
    std::map<std::string, std::uint32_t> completionFailures_;
    std::vector<comport::driver::Dcb> dcbs_;
    std::vector<comport::driver::CommTimeouts> timeouts_;
    comport::driver::Dcb dcb_;
    comport::driver::CommTimeouts currentTimeouts_;
    std::deque<std::uint8_t> input_;
    std::string output_;
    std::uint32_t modemStatus_ = 0;
    std::uint32_t errorFlags_ = 0;
    std::uint32_t mask_ = 0;
    std::uint32_t history_ = 0;
    Overlapped* eventWait_ = nullptr;
    std::uint32_t* eventOut_ = nullptr;
    bool hold_ = false;
    std::uint32_t writeLimit_ = 0xFFFFFFFFu;
    std::vector<Pending> pending_;
    Handle open_ = comport::driver::invalidHandleValue;
    Handle nextHandle_ = firstHandle;
    int opens_ = 0;
    bool reuseHandles_ = false;
    std::map<std::string, std::function<void()>> hooks_;
};

} // namespace testsupport
