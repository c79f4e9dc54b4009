#pragma once

// TComPort, the serial port component: one object owns one serial port, its settings, its
// opening and closing, reading and writing, modem lines and line events. A program includes this
// header alone (CMake: find_package(TorvinComPort CONFIG), target Torvin::ComPort; pkg-config:
// torvin-comport).
//
//     comport::TComPort port;
//     port.setPort("/dev/ttyUSB0");          // or "COM1", which is /dev/ttyS0
//     port.setBaudRate(comport::br9600);     // 8 data bits, no parity, one stop bit by default
//     port.openPort();                       // raises comport::EComPort when it cannot
//     port.writeText("hello\r");
//     std::uint8_t reply[16];
//     const std::int32_t got = port.readBytes(reply, 16);
//     port.closePort();                      // or leave it to the destructor
//
// What catches a newcomer:
//
// - A read returns at once with what has already arrived, perhaps nothing: that is what the
//   default time-outs ask for. To wait for the bytes, set a time-out before reading, e.g.
//   port.Timeouts().setReadTotalConstant(500) waits up to half a second for them all.
// - Line events (OnRxChar and the others) are handed by default (smThreadSync) to the main
//   thread, through its queue: a program whose main thread does not serve that queue
//   (fw::checkSynchronize() from its event loop, or fw::waitForSynchronize() in a plain loop;
//   framework/MainThread.h) never sees them. With port.setSyncMethod(comport::smNone) they run on
//   the port's own event thread instead, where the handler must guard what it shares.
// - A failed open raises comport::EComPort. Its what() names the failure and the system's code
//   ("Unable to open com port (Error: 2)"); the system's own words for that code come from
//   port.device().systemErrorMessage(e.systemErrorCode()) ("No such file or directory").

#include "comport/CustomComPort.h"

namespace comport {

// The port as a window places it: TCustomComPort with its settings published, nothing added.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    ~TComPort() override { closeBeforeDestruction(); }
    std::string className() const override { return "TComPort"; }
};

} // namespace comport
