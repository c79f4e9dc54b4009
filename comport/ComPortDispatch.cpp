// What each line event does: the handling operations the event thread's hand-over (or the
// hidden window) calls, and the open and close reports of the input lines.

#include "comport/CustomComPort.h"

namespace comport {

namespace ce = driver::commEvent;

// A handler may destroy the port (the event thread lets go of a port destroyed by its own
// handlers): after each notice or event, what follows runs only while the port is there.

void TCustomComPort::reportLineSignals(bool opening) {
    const std::shared_ptr<PortLife> life = life_;
    if (opening) {
        // Each reads the lines afresh, so the owner learns their state right after opening.
        for (auto handle : {&TCustomComPort::handleCTSChange, &TCustomComPort::handleDSRChange,
                            &TCustomComPort::handleRLSDChange}) {
            (this->*handle)();
            if (!life->alive) return;
        }
        return;
    }
    // Closing: all three go off, without asking the device.
    for (TLinkNotice notice : {lnCTS, lnDSR, lnRLSD}) {
        notifyLinksState(notice, false);
        if (!life->alive) return;
    }
    for (auto fire : {&TCustomComPort::fireCTSChange, &TCustomComPort::fireDSRChange,
                      &TCustomComPort::fireRLSDChange}) {
        (this->*fire)(false);
        if (!life->alive) return;
    }
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
    const std::shared_ptr<PortLife> life = life_;
    std::int32_t count = bytesWaiting();
    if (count > 0) notifyLinksState(lnReceiving, true);
    if (!life->alive) return;
    deliverReceivedData(count);
    // Bytes that went to OnRxBuf or the linked readers are not announced again.
    if (count > 0 && life->alive) fireRxChar(count);
}

void TCustomComPort::deliverReceivedData(std::int32_t& count) {
    if (count <= 0 || TriggersOnRxChar()) return;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::int32_t got = 0;
    bool read = false;
    try {
        // A reader that detaches (or attaches another) from inside dataReceived is refused, as in
        // every other walk over the links.
        const NotifyingScope scope(life_);
        const std::size_t links = linkList_.size();
        for (std::size_t i = 0; i < links; ++i) {
            auto& slot = linkList_[i]->dataReceived;
            if (!slot.assigned()) continue;
            if (!read) {
                read = true;
                got = readForRxBuf(buffer, count);
                if (!scope.portAlive()) break;
            }
            slot(this, buffer.get(), got);
            if (!scope.portAlive()) break;
        }
        if (!scope.portAlive()) {
            count = 0;
            return;
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
    const std::shared_ptr<PortLife> life = life_;
    buffer.reset(new std::uint8_t[static_cast<std::size_t>(count)]);
    // Only what was read is handed out: a short read must not pass on bytes never received.
    const std::int32_t got = readBytes(buffer.get(), count);
    if (life->alive) fireRxBuf(buffer.get(), got); // the read tells links of the drained queue
    return got;
}

void TCustomComPort::handleTxEmpty() {
    const std::shared_ptr<PortLife> life = life_;
    notifyLinksState(lnSending, false);
    if (!life->alive) return;
    notifyLinks(lnTxEmpty);
    if (!life->alive) return;
    fireTxEmpty();
}

void TCustomComPort::handleBreak() {
    fireBreak();
}

void TCustomComPort::handleRing() {
    const std::shared_ptr<PortLife> life = life_;
    notifyLinks(lnRing);
    if (life->alive) fireRing();
}

void TCustomComPort::reportLine(TLineSignal line, TLinkNotice notice,
                                void (TCustomComPort::*fire)(bool)) {
    const std::shared_ptr<PortLife> life = life_;
    const bool on = modemSignals().contains(line);
    notifyLinksState(notice, on);
    if (life->alive) (this->*fire)(on);
}

void TCustomComPort::handleCTSChange() {
    reportLine(lsCTS, lnCTS, &TCustomComPort::fireCTSChange);
}

void TCustomComPort::handleDSRChange() {
    reportLine(lsDSR, lnDSR, &TCustomComPort::fireDSRChange);
}

void TCustomComPort::handleRLSDChange() {
    reportLine(lsRLSD, lnRLSD, &TCustomComPort::fireRLSDChange);
}

void TCustomComPort::handleRxFlag() {
    const std::shared_ptr<PortLife> life = life_;
    notifyLinks(lnRxFlag);
    if (life->alive) fireRxFlag();
}

void TCustomComPort::handleRx80Full() {
    fireRx80Full();
}

} // namespace comport
