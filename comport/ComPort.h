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
// - That total time-out bounds the whole read, so a 64-byte read waits the full half second
//   when only a 4-byte reply comes. For request and reply add the interval time-out:
//   port.Timeouts().setReadInterval(20) ends a read once the line has been quiet for 20 ms after
//   a byte, so the reply is handed over 20 ms after its last byte, and the total time-out still
//   ends a read that gets nothing at all. ReadInterval -1 (the default) or 0 sets no interval.
//   With ReadInterval and ReadTotalMultiplier both -1, a read returns as soon as any byte is
//   there, waiting up to ReadTotalConstant for the first.
// - Line events (OnRxChar and the others) are handed by default (smThreadSync) to the main
//   thread, through its queue: a program whose main thread does not serve that queue
//   (fw::checkSynchronize() from its event loop, or fw::waitForSynchronize() in a plain loop;
//   framework/MainThread.h) never sees them. With port.setSyncMethod(comport::smNone) they run on
//   the port's own event thread instead, where the handler must guard what it shares.
// - Opening and closing from several threads: the calls take turns. An openPort or closePort
//   made while another thread opens or closes the port waits for that to finish (serving
//   meanwhile what the thread serves in the framework's waits), then does its own part: openPort
//   returns with the port open (or raises), closePort with it closed, whichever thread did the
//   work. Where the wait could never end the call does not wait: from a line-event handler that a
//   close under way waits for (smThreadSync and smNone: a close waits for the handlers running,
//   the close that runs them included), closePort returns at once, the port closing as soon as
//   the handler has returned (the rest of its events are dropped), and openPort fails with error
//   1 and the system's "busy" code ("Unable to open com port (Error: 16)" on Linux). So does an
//   open from OnBeforeClose, and any open while the port is being destroyed. The destructor waits
//   for every open, close and event handler still running on another thread.
// - A close on the thread that handles the line events (the main thread with smThreadSync, the
//   opening thread with smWindowSync) first hands over the events already announced: their
//   handlers run inside closePort, after OnBeforeClose. A close on any other thread drops them,
//   since it cannot run them and their thread may be waiting for the close; the bytes they
//   announced go unread.
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
