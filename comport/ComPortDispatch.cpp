// What each line event does: the handling operations the event thread's hand-over (or the
// hidden window) calls, and the open and close reports of the input lines.

#include "comport/CustomComPort.h"
#include "comport/NotifyingScope.h"

namespace comport {

namespace ce = driver::commEvent;

void TCustomComPort::reportLineSignals(bool opening) {
    if (opening) {
        // Each reads the lines afresh, so the owner learns their state right after opening.
        handleCTSChange();
        handleDSRChange();
        handleRLSDChange();
        return;
    }
    // Closing: all three go off, without asking the device.
    notifyLinksState(lnCTS, false);
    notifyLinksState(lnDSR, false);
    notifyLinksState(lnRLSD, false);
    fireCTSChange(false);
    fireDSRChange(false);
    fireRLSDChange(false);
}

void TCustomComPort::handleLineEvent(std::uintptr_t maskBit) {
    switch (maskBit) {
    case ce::rxChar:
        return handleRxChar();
    case ce::rxFlag:
        return handleRxFlag();
    case ce::txEmpty:
        return handleTxEmpty();
    case ce::cts:
        return handleCTSChange();
    case ce::dsr:
        return handleDSRChange();
    case ce::rlsd:
        return handleRLSDChange();
    case ce::brk:
        return handleBreak();
    case ce::err:
        return handleError();
    case ce::ring:
        return handleRing();
    case ce::rx80Full:
        return handleRx80Full();
    default:
        return;
    }
}

void TCustomComPort::handleError() {
    const TComErrors errors = lineErrors();
    if (!errors.empty()) fireError(errors);
}

void TCustomComPort::handleRxChar() {
    std::int32_t count = bytesWaiting();
    if (count > 0) notifyLinksState(lnReceiving, true);
    deliverReceivedData(count);
    // Bytes that went to OnRxBuf or the linked readers are not announced again.
    if (count > 0) fireRxChar(count);
}

void TCustomComPort::deliverReceivedData(std::int32_t& count) {
    if (count <= 0 || TriggersOnRxChar()) return;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::int32_t got = 0;
    bool read = false;
    try {
        // A reader that detaches (or attaches another) from inside dataReceived is refused, as in
        // every other walk over the links.
        const NotifyingScope scope(notifying_);
        const std::size_t links = linkList_.size();
        for (std::size_t i = 0; i < links; ++i) {
            auto& slot = linkList_[i]->dataReceived;
            if (!slot.assigned()) continue;
            if (!read) {
                read = true;
                got = readForRxBuf(buffer, count);
            }
            slot(this, buffer.get(), got);
        }
        if (!read && !triggersOnRxChar_) {
            read = true;
            readForRxBuf(buffer, count);
        }
    } catch (...) {
        if (read) count = 0;
        throw;
    }
    if (read) count = 0;
}

std::int32_t TCustomComPort::readForRxBuf(std::unique_ptr<std::uint8_t[]>& buffer,
                                          std::int32_t count) {
    buffer.reset(new std::uint8_t[static_cast<std::size_t>(count)]);
    // Only what was read is handed out: a short read must not pass on bytes never received.
    const std::int32_t got = readBytes(buffer.get(), count);
    fireRxBuf(buffer.get(), got);
    return got;
}

void TCustomComPort::handleTxEmpty() {
    notifyLinksState(lnSending, false);
    notifyLinks(lnTxEmpty);
    fireTxEmpty();
}

void TCustomComPort::handleBreak() {
    fireBreak();
}

void TCustomComPort::handleRing() {
    notifyLinks(lnRing);
    fireRing();
}

void TCustomComPort::handleCTSChange() {
    const bool on = modemSignals().contains(lsCTS);
    notifyLinksState(lnCTS, on);
    fireCTSChange(on);
}

void TCustomComPort::handleDSRChange() {
    const bool on = modemSignals().contains(lsDSR);
    notifyLinksState(lnDSR, on);
    fireDSRChange(on);
}

void TCustomComPort::handleRLSDChange() {
    const bool on = modemSignals().contains(lsRLSD);
    notifyLinksState(lnRLSD, on);
    fireRLSDChange(on);
}

void TCustomComPort::handleRxFlag() {
    notifyLinks(lnRxFlag);
    fireRxFlag();
}

void TCustomComPort::handleRx80Full() {
    fireRx80Full();
}

} // namespace comport
