// Starting and stopping event delivery for an open port. Line events are not delivered yet: an
// open port starts no event thread, so hasEventThread stays false.

#include "comport/CustomComPort.h"

namespace comport {

void TCustomComPort::startEventDelivery() {
    hasEventThread_ = false;
}

void TCustomComPort::stopEventDelivery() {
    hasEventThread_ = false;
}

} // namespace comport
