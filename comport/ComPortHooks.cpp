// Event hooks, the open and close notifications, and the notices to linked objects.

#include "comport/CustomComPort.h"

#include <algorithm>

namespace comport {

void TCustomComPort::fireAfterClose() {
    OnAfterClose(this);
}
void TCustomComPort::fireAfterOpen() {
    OnAfterOpen(this);
}
void TCustomComPort::fireBeforeClose() {
    OnBeforeClose(this);
}
void TCustomComPort::fireBeforeOpen() {
    OnBeforeOpen(this);
}
void TCustomComPort::fireRxChar(std::int32_t count) {
    OnRxChar(this, count);
}
void TCustomComPort::fireRxBuf(const std::uint8_t* buffer, std::int32_t count) {
    OnRxBuf(this, buffer, count);
}
void TCustomComPort::fireTxEmpty() {
    OnTxEmpty(this);
}
void TCustomComPort::fireBreak() {
    OnBreak(this);
}
void TCustomComPort::fireRing() {
    OnRing(this);
}
void TCustomComPort::fireRxFlag() {
    OnRxFlag(this);
}
void TCustomComPort::fireCTSChange(bool onOff) {
    OnCTSChange(this, onOff);
}
void TCustomComPort::fireDSRChange(bool onOff) {
    OnDSRChange(this, onOff);
}
void TCustomComPort::fireError(TComErrors errors) {
    OnError(this, errors);
}
void TCustomComPort::fireRLSDChange(bool onOff) {
    OnRLSDChange(this, onOff);
}
void TCustomComPort::fireRx80Full() {
    OnRx80Full(this);
}

void TCustomComPort::handleBeforeOpen() {
    fireBeforeOpen();
}

// A handler may destroy the port: after each one, what follows runs only while the port is there.

void TCustomComPort::handleAfterOpen() {
    const std::shared_ptr<PortLife> life = life_;
    notifyLinksState(lnConnection, true);
    if (!life->alive) return;
    fireAfterOpen();
    if (!life->alive) return;
    reportLineSignals(true);
}

void TCustomComPort::handleBeforeClose() {
    const std::shared_ptr<PortLife> life = life_;
    reportLineSignals(false);
    if (!life->alive) return;
    fireBeforeClose();
}

void TCustomComPort::handleAfterClose() {
    const std::shared_ptr<PortLife> life = life_;
    notifyLinksState(lnConnection, false);
    if (!life->alive) return;
    fireAfterClose();
}

void TCustomComPort::registerLink(TPortLink* link) {
    if (!link || life_->notifying > 0 ||
        std::find(linkList_.begin(), linkList_.end(), link) != linkList_.end()) {
        reportError(CE_RegFailed + 1);
        return;
    }
    linkList_.push_back(link);
    if (link->dataReceived.assigned()) rxBufLinked_ = true;
}

void TCustomComPort::unregisterLink(TPortLink* link) {
    auto it = std::find(linkList_.begin(), linkList_.end(), link);
    if (!link || life_->notifying > 0 || it == linkList_.end()) {
        reportError(CE_RegFailed + 1);
        return;
    }
    linkList_.erase(it);
    rxBufLinked_ = std::any_of(linkList_.begin(), linkList_.end(),
                               [](const TPortLink* l) { return l->dataReceived.assigned(); });
}

namespace {

// Fires one slot of every attached link with the port as sender. Registration is refused while
// the walk is under way, so the list cannot change beneath it; a link that destroys the port (and
// with it the list) ends the walk.
template <typename Slot, typename... Args>
void notifyEach(const std::shared_ptr<PortLife>& life, const std::vector<TPortLink*>& links,
                Slot TPortLink::*member, TCustomComPort* port, Args... args) {
    const NotifyingScope scope(life);
    const std::size_t count = links.size();
    for (std::size_t i = 0; i < count; ++i) {
        Slot& slot = links[i]->*member;
        if (!slot.assigned()) continue;
        slot(port, args...);
        if (!scope.portAlive()) return;
    }
}

TPortLink::StateSlot TPortLink::*stateSlot(TLinkNotice kind) {
    switch (kind) {
    case lnConnection:
        return &TPortLink::connectionChanged;
    case lnCTS:
        return &TPortLink::ctsChanged;
    case lnDSR:
        return &TPortLink::dsrChanged;
    case lnRLSD:
        return &TPortLink::rlsdChanged;
    case lnReceiving:
        return &TPortLink::receivingChanged;
    case lnSending:
        return &TPortLink::sendingChanged;
    default:
        return nullptr;
    }
}

TPortLink::NoticeSlot TPortLink::*noticeSlot(TLinkNotice kind) {
    switch (kind) {
    case lnRing:
        return &TPortLink::ringDetected;
    case lnTxEmpty:
        return &TPortLink::sendQueueEmptied;
    case lnRxFlag:
        return &TPortLink::eventCharReceived;
    default:
        return nullptr;
    }
}

} // namespace

void TCustomComPort::notifyLinksState(TLinkNotice kind, bool onOff) {
    if (const auto member = stateSlot(kind)) notifyEach(life_, linkList_, member, this, onOff);
}

void TCustomComPort::notifyLinks(TLinkNotice kind) {
    if (const auto member = noticeSlot(kind)) notifyEach(life_, linkList_, member, this);
}

void TCustomComPort::notifyLinksSent(const std::uint8_t* buffer, std::int32_t count) {
    notifyEach(life_, linkList_, &TPortLink::dataSent, this, buffer, count);
}

} // namespace comport
