#pragma once

// The settings the main window stores for its port ComPort1: 9600 baud, 8 data bits, no parity,
// one stop bit, no flow control, every event watched, received characters delivered on the main
// thread. Whatever drives an upload run over a TComPort opens the port with these, so that the
// board sees the same line from the window and from the command line.

#include "comport/CustomComPort.h"

#include <functional>

namespace upload::frontend {

// The settings are restored as a stored form would restore them, under loading; bindHandlers, when
// given, assigns the owner's event slots before loading finishes.
inline void applyMainWindowPortSettings(
    comport::TCustomComPort& port,
    const std::function<void(comport::TCustomComPort&)>& bindHandlers = {}) {
    using namespace comport;
    port.beginLoading();
    port.setName("ComPort1");
    port.setBaudRate(br9600);
    port.setPort("COM1");
    port.Parity().setBits(prNone);
    port.setStopBits(sbOneStopBit);
    port.setDataBits(dbEight);
    port.setEvents(allComEvents);
    port.setSyncMethod(smThreadSync);
    port.FlowControl().setOutCTSFlow(false);
    port.FlowControl().setOutDSRFlow(false);
    port.FlowControl().setControlDTR(dtrDisable);
    port.FlowControl().setControlRTS(rtsDisable);
    port.FlowControl().setXonXoffOut(false);
    port.FlowControl().setXonXoffIn(false);
    port.setStoredProps(TStoredProps{spBasic});
    port.setTriggersOnRxChar(true);
    if (bindHandlers) bindHandlers(port);
    port.finishLoading();
}

} // namespace upload::frontend
