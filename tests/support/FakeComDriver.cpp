#include "tests/support/FakeComDriver.h"
#include "tests/support/HexText.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace testsupport {

using namespace comport::driver;

// --- script --------------------------------------------------------------------------------

void FakeComDriver::failCall(const std::string& operation, std::uint32_t code, int times) {
    std::lock_guard g(lock_);
    for (int i = 0; i < times; ++i)
        failures_[operation].push_back(code);
}

void FakeComDriver::failCompletion(const std::string& operation, std::uint32_t code) {
    std::lock_guard g(lock_);
    completionFailures_[operation] = code;
}

void FakeComDriver::holdRequests(bool on) {
    std::lock_guard g(lock_);
    hold_ = on;
}

void FakeComDriver::completePending() {
    std::lock_guard g(lock_);
    for (Pending& p : pending_)
        finishLocked(p, 0);
    pending_.clear();
}

void FakeComDriver::limitWrites(std::uint32_t bytes) {
    std::lock_guard g(lock_);
    writeLimit_ = bytes;
}

void FakeComDriver::finishLocked(Pending& p, std::uint32_t status) {
    std::uint32_t moved = 0;
    if (status == 0) {
        if (p.isRead) {
            while (moved < p.count && !input_.empty()) {
                p.readBuffer[moved++] = input_.front();
                input_.pop_front();
            }
        } else {
            moved = std::min(p.count, writeLimit_);
            output_ += p.writeBytes.substr(0, moved);
        }
    }
    completeRequest(p.request, status, moved);
}

void FakeComDriver::feedInput(const std::string& bytes, bool announce) {
    std::lock_guard g(lock_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    if (bytes.empty() || !announce) return;
    std::uint32_t events = commEvent::rxChar;
    if (bytes.find(dcb_.EvtChar) != std::string::npos) events |= commEvent::rxFlag;
    raiseLocked(events);
}

void FakeComDriver::raiseEvents(std::uint32_t events) {
    std::lock_guard g(lock_);
    raiseLocked(events);
}

void FakeComDriver::raiseLocked(std::uint32_t events) {
    history_ |= events & mask_;
    if (history_ != 0 && eventWait_) {
        completeWaitLocked(history_, 0);
        history_ = 0;
    }
}

void FakeComDriver::completeWaitLocked(std::uint32_t events, std::uint32_t status) {
    if (!eventWait_) return;
    if (eventOut_) *eventOut_ = events;
    completeRequest(eventWait_, status, 0);
    eventWait_ = nullptr;
    eventOut_ = nullptr;
    changed_.notify_all();
}

void FakeComDriver::failEventWait(std::uint32_t code) {
    std::lock_guard g(lock_);
    completeWaitLocked(0, code);
}

bool FakeComDriver::waitForEventWait(std::chrono::milliseconds limit) {
    std::unique_lock g(lock_);
    return changed_.wait_for(g, limit, [&] { return eventWait_ != nullptr; });
}

bool FakeComDriver::eventWaitPending() const {
    std::lock_guard g(lock_);
    return eventWait_ != nullptr;
}

void FakeComDriver::setModemStatus(std::uint32_t bits) {
    std::lock_guard g(lock_);
    modemStatus_ = bits;
}

void FakeComDriver::setErrorFlags(std::uint32_t flags) {
    std::lock_guard g(lock_);
    errorFlags_ = flags;
}

// --- what happened -------------------------------------------------------------------------

std::vector<std::string> FakeComDriver::calls() const {
    std::lock_guard g(lock_);
    return calls_;
}

std::vector<std::string> FakeComDriver::otherThreadCalls() const {
    std::lock_guard g(lock_);
    return otherCalls_;
}

std::uint32_t FakeComDriver::eventMask() const {
    std::lock_guard g(lock_);
    return mask_;
}

void FakeComDriver::clearCalls() {
    std::lock_guard g(lock_);
    calls_.clear();
    otherCalls_.clear();
    dcbs_.clear();
    timeouts_.clear();
}

int FakeComDriver::count(const std::string& operation) const {
    std::lock_guard g(lock_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& c) {
        return c.compare(0, operation.size() + 1, operation + "(") == 0;
    }));
}

std::vector<Dcb> FakeComDriver::dcbs() const {
    std::lock_guard g(lock_);
    return dcbs_;
}

std::vector<CommTimeouts> FakeComDriver::timeouts() const {
    std::lock_guard g(lock_);
    return timeouts_;
}

std::string FakeComDriver::output() const {
    std::lock_guard g(lock_);
    return output_;
}

void FakeComDriver::setClock(std::chrono::steady_clock::time_point time) {
    std::lock_guard g(lock_);
    clock_ = time;
}

std::chrono::steady_clock::time_point FakeComDriver::monotonicTime() {
    std::lock_guard g(lock_);
    return clock_ ? *clock_ : std::chrono::steady_clock::now();
}

std::size_t FakeComDriver::inputLeft() const {
    std::lock_guard g(lock_);
    return input_.size();
}

bool FakeComDriver::isOpen() const {
    std::lock_guard g(lock_);
    return open_ != invalidHandleValue;
}

int FakeComDriver::opens() const {
    std::lock_guard g(lock_);
    return opens_;
}

// --- ComDriver -----------------------------------------------------------------------------

void FakeComDriver::onNextCall(const std::string& operation, std::function<void()> hook) {
    std::lock_guard g(lock_);
    hooks_[operation] = std::move(hook);
}

void FakeComDriver::reuseHandles(bool on) {
    std::lock_guard g(lock_);
    reuseHandles_ = on;
}

void FakeComDriver::runHook(const std::string& operation) {
    std::function<void()> hook;
    {
        std::lock_guard g(lock_);
        auto it = hooks_.find(operation);
        if (it == hooks_.end()) return;
        hook = std::move(it->second);
        hooks_.erase(it);
    }
    hook();
}

bool FakeComDriver::enter(const std::string& operation, const std::string& args, Handle device,
                          bool needsDevice) {
    (std::this_thread::get_id() == creator_ ? calls_ : otherCalls_)
        .push_back(operation + "(" + args + ")");
    auto it = failures_.find(operation);
    if (it != failures_.end() && !it->second.empty()) {
        setLastError(it->second.front());
        it->second.pop_front();
        return false;
    }
    if (needsDevice && (device == invalidHandleValue || device != open_)) {
        setLastError(badHandleCode);
        return false;
    }
    return true;
}

Handle FakeComDriver::createFile(const std::string& path) {
    std::lock_guard g(lock_);
    if (!enter("createFile", path, invalidHandleValue, false)) return invalidHandleValue;
    if (open_ != invalidHandleValue) {
        setLastError(5); // the device is held: a sharing violation
        return invalidHandleValue;
    }
    open_ = reuseHandles_ ? firstHandle : nextHandle_++;
    ++opens_;
    return open_;
}

bool FakeComDriver::closeHandle(Handle device) {
    std::lock_guard g(lock_);
    if (!enter("closeHandle", "", device)) return false;
    for (Pending& p : pending_)
        finishLocked(p, 125);
    pending_.clear();
    completeWaitLocked(0, 125);
    mask_ = 0;
    history_ = 0;
    open_ = invalidHandleValue;
    return true;
}

bool FakeComDriver::setupComm(Handle device, std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard g(lock_);
    return enter("setupComm", std::to_string(inQueue) + "," + std::to_string(outQueue), device);
}

bool FakeComDriver::getCommState(Handle device, Dcb& dcb) {
    std::lock_guard g(lock_);
    if (!enter("getCommState", "", device)) return false;
    dcb = dcb_;
    return true;
}

bool FakeComDriver::setCommState(Handle device, const Dcb& dcb) {
    std::lock_guard g(lock_);
    std::ostringstream args;
    args << dcb.BaudRate << "," << int(dcb.ByteSize) << "," << int(dcb.Parity) << ","
         << int(dcb.StopBits);
    dcbs_.push_back(dcb);
    if (!enter("setCommState", args.str(), device)) return false;
    dcb_ = dcb;
    return true;
}

bool FakeComDriver::getCommTimeouts(Handle device, CommTimeouts& timeouts) {
    std::lock_guard g(lock_);
    if (!enter("getCommTimeouts", "", device)) return false;
    timeouts = currentTimeouts_;
    return true;
}

bool FakeComDriver::setCommTimeouts(Handle device, const CommTimeouts& t) {
    std::lock_guard g(lock_);
    std::ostringstream args;
    args << t.ReadIntervalTimeout << "," << t.ReadTotalTimeoutMultiplier << ","
         << t.ReadTotalTimeoutConstant << "," << t.WriteTotalTimeoutMultiplier << ","
         << t.WriteTotalTimeoutConstant;
    timeouts_.push_back(t);
    if (!enter("setCommTimeouts", args.str(), device)) return false;
    currentTimeouts_ = t;
    return true;
}

bool FakeComDriver::readFile(Handle device, void* buffer, std::uint32_t count, std::uint32_t* read,
                             Overlapped* request) {
    runHook("readFile");
    std::lock_guard g(lock_);
    if (read) *read = 0;
    if (!enter("readFile", std::to_string(count), device)) return false;
    return submitLocked("readFile", {request, true, static_cast<std::uint8_t*>(buffer), {}, count},
                        read);
}

bool FakeComDriver::writeFile(Handle device, const void* bytes, std::uint32_t count,
                              std::uint32_t* written, Overlapped* request) {
    runHook("writeFile");
    std::lock_guard g(lock_);
    if (written) *written = 0;
    if (!enter("writeFile", hexText({static_cast<const char*>(bytes), count}), device))
        return false;
    return submitLocked(
        "writeFile",
        {request, false, nullptr,
         std::string(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + count),
         count},
        written);
}

bool FakeComDriver::submitLocked(const std::string& operation, Pending p, std::uint32_t* moved) {
    startRequest(p.request);
    if (auto it = completionFailures_.find(operation); it != completionFailures_.end()) {
        finishLocked(p, it->second);
        completionFailures_.erase(it);
        return fail(errorIoPending);
    }
    if (hold_) {
        pending_.push_back(std::move(p));
        return fail(errorIoPending);
    }
    finishLocked(p, 0);
    if (moved) *moved = static_cast<std::uint32_t>(p.request->InternalHigh);
    return true;
}

bool FakeComDriver::getOverlappedResult(Handle, Overlapped* request, std::uint32_t* moved,
                                        bool wait) {
    // As on the platform, a request with an event is judged by its record alone.
    if (wait) waitForSingleObject(request->hEvent, infinite);
    std::lock_guard g(lock_);
    (std::this_thread::get_id() == creator_ ? calls_ : otherCalls_)
        .push_back("getOverlappedResult()");
    if (request->Internal == statusPending) return fail(errorIoIncomplete);
    if (moved) *moved = static_cast<std::uint32_t>(request->InternalHigh);
    if (request->Internal != 0) return fail(static_cast<std::uint32_t>(request->Internal));
    return true;
}

bool FakeComDriver::cancelIoEx(Handle device, Overlapped* request) {
    std::lock_guard g(lock_);
    if (!enter("cancelIoEx", "", device)) return false;
    if (request && request == eventWait_) {
        completeWaitLocked(0, 125);
        return true;
    }
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [&](const Pending& p) { return p.request == request; });
    if (it == pending_.end()) return fail(2);
    finishLocked(*it, 125);
    pending_.erase(it);
    return true;
}

bool FakeComDriver::purgeComm(Handle device, std::uint32_t flags) {
    std::lock_guard g(lock_);
    if (!enter("purgeComm", std::to_string(flags), device)) return false;
    std::vector<Pending> keep;
    for (Pending& p : pending_) {
        const bool abort = p.isRead ? (flags & purge::rxAbort) : (flags & purge::txAbort);
        if (abort)
            finishLocked(p, 125);
        else
            keep.push_back(p);
    }
    pending_ = keep;
    if (flags & purge::rxClear) input_.clear();
    return true;
}

bool FakeComDriver::clearCommError(Handle device, std::uint32_t* errors, ComStat* status) {
    runHook("clearCommError");
    std::lock_guard g(lock_);
    if (!enter("clearCommError", "", device)) return false;
    if (errors) *errors = errorFlags_;
    errorFlags_ = 0;
    if (status) {
        *status = ComStat{};
        status->cbInQue = static_cast<std::uint32_t>(input_.size());
    }
    return true;
}

bool FakeComDriver::getCommModemStatus(Handle device, std::uint32_t* status) {
    std::lock_guard g(lock_);
    if (!enter("getCommModemStatus", "", device)) return false;
    if (status) *status = modemStatus_;
    return true;
}

bool FakeComDriver::escapeCommFunction(Handle device, std::uint32_t function) {
    runHook("escapeCommFunction");
    std::lock_guard g(lock_);
    return enter("escapeCommFunction", std::to_string(function), device);
}

bool FakeComDriver::setCommMask(Handle device, std::uint32_t mask) {
    std::lock_guard g(lock_);
    if (!enter("setCommMask", std::to_string(mask), device)) return false;
    mask_ = mask;
    history_ = 0;
    completeWaitLocked(0, 0); // a waiting request ends with no events
    return true;
}

bool FakeComDriver::getCommMask(Handle device, std::uint32_t* mask) {
    std::lock_guard g(lock_);
    if (!enter("getCommMask", "", device)) return false;
    if (mask) *mask = mask_;
    return true;
}

bool FakeComDriver::waitCommEvent(Handle device, std::uint32_t* mask, Overlapped* request) {
    std::lock_guard g(lock_);
    if (!enter("waitCommEvent", "", device)) return false;
    if (!mask || !request || mask_ == 0 || eventWait_) return fail(87);
    if (auto it = completionFailures_.find("waitCommEvent"); it != completionFailures_.end()) {
        startRequest(request);
        completeRequest(request, it->second, 0);
        completionFailures_.erase(it);
        return fail(errorIoPending);
    }
    if (history_ != 0) {
        *mask = history_;
        history_ = 0;
        completeRequest(request, 0, 0);
        return true;
    }
    *mask = 0;
    startRequest(request);
    eventWait_ = request;
    eventOut_ = mask;
    changed_.notify_all();
    return fail(errorIoPending);
}

std::string FakeComDriver::systemErrorMessage(std::uint32_t code) {
    return "Fake error " + std::to_string(code) + ".";
}

} // namespace testsupport
