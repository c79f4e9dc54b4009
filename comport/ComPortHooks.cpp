// Event hooks, the open and close notifications, and the notices to linked objects.

#include "comport/CustomComPort.h"

#include <algorithm>

namespace comport {

namespace {

// Marks a link notification under way, so that the list is not changed beneath it.
class NotifyingScope {
public:
    explicit NotifyingScope(std::atomic<int>& counter) : counter_(counter) { ++counter_; }
    ~NotifyingScope() { --counter_; }
    NotifyingScope(const NotifyingScope&) = delete;
    NotifyingScope& operator=(const NotifyingScope&) = delete;

private:
    std::atomic<int>& counter_;
};

} // namespace

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

void TCustomComPort::handleAfterOpen() {
    notifyLinksState(lnConnection, true);
    fireAfterOpen();
    reportLineSignals(true);
}

void TCustomComPort::handleBeforeClose() {
    reportLineSignals(false);
    fireBeforeClose();
}

void TCustomComPort::handleAfterClose() {
    notifyLinksState(lnConnection, false);
    fireAfterClose();
}

void TCustomComPort::registerLink(TPortLink* link) {
    if (!link || notifying_ > 0 ||
        std::find(linkList_.begin(), linkList_.end(), link) != linkList_.end()) {
        reportError(CE_RegFailed + 1);
        return;
    }
    linkList_.push_back(link);
    if (link->dataReceived.assigned()) rxBufLinked_ = true;
}

void TCustomComPort::unregisterLink(TPortLink* link) {
    auto it = std::find(linkList_.begin(), linkList_.end(), link);
    if (!link || notifying_ > 0 || it == linkList_.end()) {
        reportError(CE_RegFailed + 1);
        return;
    }
    linkList_.erase(it);
    rxBufLinked_ = std::any_of(linkList_.begin(), linkList_.end(),
                               [](const TPortLink* l) { return l->dataReceived.assigned(); });
}

void TCustomComPort::notifyLinksState(TLinkNotice kind, bool onOff) {
    const NotifyingScope scope(notifying_);
    const std::size_t count = linkList_.size();
    for (std::size_t i = 0; i < count; ++i) {
        TPortLink* link = linkList_[i];
        TPortLink::StateSlot* slot = nullptr;
        switch (kind) {
        case lnConnection:
            slot = &link->connectionChanged;
            break;
        case lnCTS:
            slot = &link->ctsChanged;
            break;
        case lnDSR:
            slot = &link->dsrChanged;
            break;
        case lnRLSD:
            slot = &link->rlsdChanged;
            break;
        case lnReceiving:
            slot = &link->receivingChanged;
            break;
        case lnSending:
            slot = &link->sendingChanged;
            break;
        default:
            break;
        }
        if (slot && slot->assigned()) (*slot)(this, onOff);
    }
}

void TCustomComPort::notifyLinks(TLinkNotice kind) {
    const NotifyingScope scope(notifying_);
    const std::size_t count = linkList_.size();
    for (std::size_t i = 0; i < count; ++i) {
        TPortLink* link = linkList_[i];
        TPortLink::NoticeSlot* slot = nullptr;
        switch (kind) {
        case lnRing:
            slot = &link->ringDetected;
            break;
        case lnTxEmpty:
            slot = &link->sendQueueEmptied;
            break;
        case lnRxFlag:
            slot = &link->eventCharReceived;
            break;
        default:
            break;
        }
        if (slot && slot->assigned()) (*slot)(this);
    }
}

void TCustomComPort::notifyLinksSent(const std::uint8_t* buffer, std::int32_t count) {
    const NotifyingScope scope(notifying_);
    const std::size_t links = linkList_.size();
    for (std::size_t i = 0; i < links; ++i) {
        auto& slot = linkList_[i]->dataSent;
        if (slot.assigned()) slot(this, buffer, count);
    }
}

} // namespace comport
