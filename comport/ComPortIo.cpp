// Reading, writing and the line signals.

#include "comport/CustomComPort.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace comport {

namespace {
constexpr std::uint16_t errWrite = CE_WriteFailed + 1;
constexpr std::uint16_t errRead = CE_ReadFailed + 1;
constexpr std::uint16_t errInvalidAsync = CE_InvalidAsync + 1;
constexpr std::uint16_t errNotOpen = CEPortNotOpen + 1;
} // namespace

// --- request records -----------------------------------------------------------------------

TComRequest::TComRequest(std::shared_ptr<driver::ComDriver> driver) : driver_(std::move(driver)) {
    overlapped.hEvent = driver_->createEvent(true, true);
}

TComRequest::~TComRequest() {
    const driver::EventHandle event = overlapped.hEvent;
    if (!event) return;
    if (driver_->waitForSingleObject(event, 0) != driver::waitObject0) {
        // Still running: the device holds this record and its buffer until the request ends.
        driver_->cancelIoEx(device_, &overlapped);
        if (driver_->waitForSingleObject(event, driver::infinite) != driver::waitObject0)
            return; // keep the event alive rather than free what the device may still touch
    }
    driver_->closeEvent(event);
}

std::unique_ptr<TComRequest> TCustomComPort::createRequest() {
    return std::unique_ptr<TComRequest>(new TComRequest(driver_));
}

void TCustomComPort::releaseRequest(std::unique_ptr<TComRequest>& request) {
    request.reset();
}

std::unique_ptr<TComRequest> TCustomComPort::takeSyncRequest() {
    if (TComRequest* spare = spareRequest_.exchange(nullptr))
        return std::unique_ptr<TComRequest>(spare);
    return createRequest();
}

void TCustomComPort::keepSyncRequest(std::unique_ptr<TComRequest> request) {
    // Only a request that has ended is kept (a failure that OnException took may leave one
    // running); the destructor of one that is not kept waits for it.
    if (driver_->waitForSingleObject(request->overlapped.hEvent, 0) != driver::waitObject0) return;
    TComRequest* none = nullptr;
    if (spareRequest_.compare_exchange_strong(none, request.get())) request.release();
}

// --- starting and finishing requests -------------------------------------------------------

std::int32_t TCustomComPort::writeBytesAsync(const std::uint8_t* bytes, std::int32_t count,
                                             TComRequest* request) {
    if (!request) {
        reportError(errInvalidAsync);
        return 0;
    }
    std::int32_t written = 0;
    startWrite(bytes, count, *request, true, written);
    return written;
}

bool TCustomComPort::startWrite(const std::uint8_t* bytes, std::int32_t count, TComRequest& request,
                                bool keepCopy, std::int32_t& written) {
    // Held from the handle to the device call; a report is made while it holds nothing, since
    // a handler may close the port, and the close waits for the calls that hold the device.
    std::optional<DeviceUse> use(std::in_place, life_->device);
    if (!use->reaches()) reportError(errNotOpen, -errNotOpen);
    if (count < 0 || (!bytes && count > 0)) {
        // A negative count would reach the device as a huge unsigned one.
        use.reset();
        reportError(errInvalidAsync);
        return false;
    }
    const driver::Handle handle = use->handle();
    request.kind = rkWrite;
    request.device_ = handle;
    const std::uint8_t* source = bytes;
    if (keepCopy) {
        // The device writes from the request's own copy, which lives until the request has
        // ended, so the caller may reuse its buffer as soon as this returns.
        request.data.reset(new std::uint8_t[static_cast<std::size_t>(count)]);
        if (count > 0) std::memcpy(request.data.get(), bytes, static_cast<std::size_t>(count));
        request.size = count;
        source = request.data.get();
    }

    std::uint32_t moved = 0;
    std::uint32_t code = 0;
    if (!driver_->writeFile(handle, source, static_cast<std::uint32_t>(count), &moved,
                            &request.overlapped))
        code = driver_->getLastError();
    use.reset();
    if (code != 0 && code != driver::errorIoPending) reportError(errWrite, code);
    notifyLinksState(lnSending, true);
    written = static_cast<std::int32_t>(moved);
    return true;
}

std::int32_t TCustomComPort::writeTextAsync(const std::string& text, TComRequest* request) {
    if (text.empty()) return 0;
    return writeBytesAsync(reinterpret_cast<const std::uint8_t*>(text.data()),
                           static_cast<std::int32_t>(text.size()), request);
}

std::int32_t TCustomComPort::readBytesAsync(std::uint8_t* buffer, std::int32_t count,
                                            TComRequest* request) {
    if (!request) {
        reportError(errInvalidAsync);
        return 0;
    }
    request->kind = rkRead;
    std::optional<DeviceUse> use(std::in_place, life_->device);
    if (!use->reaches()) reportError(errNotOpen, -errNotOpen); // holds nothing
    if (count < 0 || (!buffer && count > 0)) {
        use.reset();
        reportError(errInvalidAsync);
        return 0;
    }
    request->device_ = use->handle();
    std::uint32_t read = 0;
    std::uint32_t code = 0;
    if (!driver_->readFile(use->handle(), buffer, static_cast<std::uint32_t>(count), &read,
                           &request->overlapped))
        code = driver_->getLastError();
    use.reset();
    if (code != 0 && code != driver::errorIoPending) reportError(errRead, code);
    return static_cast<std::int32_t>(read);
}

std::int32_t TCustomComPort::waitForCompletion(TComRequest* request) {
    if (!request) {
        reportError(errInvalidAsync);
        return 0;
    }
    std::uint32_t moved = 0;
    bool done = driver_->waitForSingleObject(request->overlapped.hEvent, driver::infinite) ==
                driver::waitObject0;
    if (done) {
        const DeviceUse use(life_->device);
        done = driver_->getOverlappedResult(use.handle(), &request->overlapped, &moved, false);
    }
    if (!done) reportError(request->kind == rkWrite ? errWrite : errRead, driver_->getLastError());

    if (request->kind == rkRead) {
        life_->arrivals.read(life_->device.generation(), moved, driver_->monotonicTime());
        // Only links hear about the drained queue; without any, the query (which also clears the
        // line's error flags) is not worth making.
        if (!linkList_.empty() && bytesWaiting() == 0) notifyLinksState(lnReceiving, false);
    } else if (request->data) {
        // What went out, not what was asked for: a write that ran out of time or failed moved less.
        const auto sent = static_cast<std::int32_t>(
            std::min<std::uint32_t>(moved, static_cast<std::uint32_t>(request->size)));
        if (sent > 0) notifyLinksSent(request->data.get(), sent);
    }
    return static_cast<std::int32_t>(moved);
}

std::int32_t TCustomComPort::writeBytes(const std::uint8_t* bytes, std::int32_t count) {
    // The caller's bytes outlive this call (and the request), so the device writes from them
    // directly: one byte at a time is how the upload sends, and a copy per byte buys nothing.
    auto request = takeSyncRequest();
    std::int32_t unused = 0;
    const bool started = startWrite(bytes, count, *request, false, unused);
    const std::int32_t moved = waitForCompletion(request.get());
    keepSyncRequest(std::move(request));
    if (started && moved > 0) notifyLinksSent(bytes, std::min(moved, count));
    return moved;
}

std::int32_t TCustomComPort::writeText(const std::string& text) {
    if (text.empty()) return 0;
    return writeBytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::int32_t>(text.size()));
}

std::int32_t TCustomComPort::readBytes(std::uint8_t* buffer, std::int32_t count) {
    auto request = takeSyncRequest();
    readBytesAsync(buffer, count, request.get());
    const std::int32_t moved = waitForCompletion(request.get());
    keepSyncRequest(std::move(request));
    return moved;
}

void TCustomComPort::abortAllRequests() {
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->purgeComm(use.handle(), driver::purge::txAbort | driver::purge::rxAbort);
    }
    if (!done) reportError(CE_PurgeFailed + 1, driver_->getLastError());
}

std::optional<std::chrono::steady_clock::time_point> TCustomComPort::lastReadArrival() const {
    return life_->arrivals.lastRead();
}

// --- line state ----------------------------------------------------------------------------

std::int32_t TCustomComPort::bytesWaiting() {
    std::uint32_t errors = 0;
    driver::ComStat status;
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->clearCommError(use.handle(), &errors, &status);
    }
    if (!done) reportError(CE_ClearComFailed + 1, driver_->getLastError());
    life_->arrivals.seen(life_->device.generation(), status.cbInQue, driver_->monotonicTime());
    return static_cast<std::int32_t>(status.cbInQue);
}

TLineSignals TCustomComPort::modemSignals() {
    std::uint32_t status = 0;
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->getCommModemStatus(use.handle(), &status);
    }
    if (!done) reportError(CE_ModemStatFailed + 1, driver_->getLastError());
    TLineSignals signals;
    if (status & driver::modemStatus::ctsOn) signals.include(lsCTS);
    if (status & driver::modemStatus::dsrOn) signals.include(lsDSR);
    if (status & driver::modemStatus::ringOn) signals.include(lsRing);
    if (status & driver::modemStatus::rlsdOn) signals.include(lsRLSD);
    return signals;
}

void TCustomComPort::setDtrLine(bool on) {
    escape(on ? driver::escape::setDtr : driver::escape::clrDtr);
}

void TCustomComPort::setRtsLine(bool on) {
    escape(on ? driver::escape::setRts : driver::escape::clrRts);
}

void TCustomComPort::escape(std::uint32_t function) {
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->escapeCommFunction(use.handle(), function);
    }
    if (!done) reportError(CE_EscapeComFailed + 1, driver_->getLastError());
}

TComErrors TCustomComPort::lineErrors() {
    std::uint32_t flags = 0;
    driver::ComStat status;
    bool done = false;
    {
        const DeviceUse use(life_->device);
        done = driver_->clearCommError(use.handle(), &flags, &status);
    }
    if (!done) reportError(CE_ClearComFailed + 1, driver_->getLastError());
    flags |= life_->clearedErrors.exchange(0);
    TComErrors errors;
    using namespace driver::commError;
    if (flags & frame) errors.include(ceFrame);
    if ((flags & rxParity) && parity_->Check()) errors.include(ceRxParity);
    if (flags & overrun) errors.include(ceOverrun);
    if (flags & rxOver) errors.include(ceRxOver);
    if (flags & txFull) errors.include(ceTxFull);
    if (flags & brk) errors.include(ceBreak);
    if (flags & ioe) errors.include(ceIO);
    if (flags & mode) errors.include(ceMode);
    return errors;
}

} // namespace comport
