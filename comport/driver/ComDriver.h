#pragma once

// The device layer: the serial calls the port component is written against, one operation for
// each platform call, with the platform's records and constant values. The component talks to a
// ComDriver only; a backend maps it onto one operating system (posix/: termios; win32/: the Win32
// communications calls), and the tests put a scripted fake in its place.
//
// Conventions, as on the platform: a bool result is false on failure and getLastError() then tells
// why (errno values on POSIX, with errorIoPending for an overlapped request that is still running);
// invalidHandleValue is the failed or absent device.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace comport::driver {

using Handle = std::uintptr_t;
inline constexpr Handle invalidHandleValue = ~Handle{0};

// A completion or stop event; 0 is no event.
using EventHandle = std::uintptr_t;

inline constexpr std::uint32_t maxDword = 0xFFFFFFFFu;
inline constexpr std::uint32_t infinite = maxDword;

// Results of the waits.
inline constexpr std::uint32_t waitObject0 = 0;
inline constexpr std::uint32_t waitTimeout = 258;
inline constexpr std::uint32_t waitFailed = maxDword;

// Last-error codes that carry a meaning of their own across backends.
inline constexpr std::uint32_t errorIoIncomplete = 996; // result asked for before completion
inline constexpr std::uint32_t errorIoPending = 997;    // overlapped request accepted, running
// The platform's "busy" code, which an open of a port being closed or destroyed fails with.
#ifdef _WIN32
inline constexpr std::uint32_t errorBusy = 170; // ERROR_BUSY
#else
inline constexpr std::uint32_t errorBusy = 16; // EBUSY
#endif

// The request record of an overlapped read, write or event wait. The backend owns Internal and
// InternalHigh while the request runs (status and bytes moved); hEvent is the caller's completion
// event, reset when the request starts and set when it ends.
struct Overlapped {
    std::uintptr_t Internal = 0;
    std::uintptr_t InternalHigh = 0;
    std::uint32_t Offset = 0;
    std::uint32_t OffsetHigh = 0;
    EventHandle hEvent = 0;
};

// Parity, stop bits, DTR and RTS control values of the device control block.
namespace parity {
inline constexpr std::uint8_t none = 0, odd = 1, even = 2, mark = 3, space = 4;
}
namespace stopBits {
inline constexpr std::uint8_t one = 0, oneAndHalf = 1, two = 2;
}
namespace dtrControl {
inline constexpr std::uint8_t disable = 0, enable = 1, handshake = 2;
}
namespace rtsControl {
inline constexpr std::uint8_t disable = 0, enable = 1, handshake = 2, toggle = 3;
}

// The device control block: line settings and flow control.
struct Dcb {
    std::uint32_t DCBlength = sizeof(Dcb);
    std::uint32_t BaudRate = 0;
    bool fBinary = false;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = 0;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    std::uint8_t fRtsControl = 0;
    bool fAbortOnError = false;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const Dcb&) const = default;
};

// Time-outs in milliseconds (multipliers per byte); maxDword in ReadIntervalTimeout with both read
// totals 0 makes a read return at once with what has arrived.
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const CommTimeouts&) const = default;
};

// Queue state filled in by clearCommError.
struct ComStat {
    bool fCtsHold = false;
    bool fDsrHold = false;
    bool fRlsdHold = false;
    bool fXoffHold = false;
    bool fXoffSent = false;
    bool fEof = false;
    bool fTxim = false;
    std::uint32_t cbInQue = 0;
    std::uint32_t cbOutQue = 0;
};

// purgeComm flags.
namespace purge {
inline constexpr std::uint32_t txAbort = 0x0001, rxAbort = 0x0002, txClear = 0x0004,
                               rxClear = 0x0008;
}

// Line error flags returned (and cleared) by clearCommError.
namespace commError {
inline constexpr std::uint32_t rxOver = 0x0001, overrun = 0x0002, rxParity = 0x0004, frame = 0x0008,
                               brk = 0x0010, txFull = 0x0100, ioe = 0x0400, mode = 0x8000;
}

// Modem input lines from getCommModemStatus.
namespace modemStatus {
inline constexpr std::uint32_t ctsOn = 0x0010, dsrOn = 0x0020, ringOn = 0x0040, rlsdOn = 0x0080;
}

// escapeCommFunction codes.
namespace escape {
inline constexpr std::uint32_t setXoff = 1, setXon = 2, setRts = 3, clrRts = 4, setDtr = 5,
                               clrDtr = 6, setBreak = 8, clrBreak = 9;
}

// Communication event mask bits (setCommMask, waitCommEvent).
namespace commEvent {
inline constexpr std::uint32_t rxChar = 0x0001, rxFlag = 0x0002, txEmpty = 0x0004, cts = 0x0008,
                               dsr = 0x0010, rlsd = 0x0020, brk = 0x0040, err = 0x0080,
                               ring = 0x0100, perr = 0x0200, rx80Full = 0x0400;
}

class ComDriver {
public:
    virtual ~ComDriver() = default;

    // --- devices ---------------------------------------------------------------------------
    // Opens a communication device for overlapped reading and writing, exclusively, existing
    // devices only. `path` is the platform's device path ("\\.\COM1" style names included).
    virtual Handle createFile(const std::string& path) = 0;
    // Closes a device; outstanding requests on it end as aborted.
    virtual bool closeHandle(Handle device) = 0;
    // Asks for the sizes of the driver's input and output queues, in bytes.
    virtual bool setupComm(Handle device, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool getCommState(Handle device, Dcb& dcb) = 0;
    virtual bool setCommState(Handle device, const Dcb& dcb) = 0;
    virtual bool getCommTimeouts(Handle device, CommTimeouts& timeouts) = 0;
    virtual bool setCommTimeouts(Handle device, const CommTimeouts& timeouts) = 0;

    // --- overlapped reading and writing ----------------------------------------------------
    // Start a request. Completing at once gives true and the count moved; a request still
    // running gives false with errorIoPending, and completes later through the record. The
    // buffer must stay valid until the request has completed.
    virtual bool readFile(Handle device, void* buffer, std::uint32_t count, std::uint32_t* read,
                          Overlapped* request) = 0;
    virtual bool writeFile(Handle device, const void* bytes, std::uint32_t count,
                           std::uint32_t* written, Overlapped* request) = 0;
    // The outcome of a request: false with the request's error code when it failed, false with
    // errorIoIncomplete when it is still running and `wait` is false.
    virtual bool getOverlappedResult(Handle device, Overlapped* request, std::uint32_t* moved,
                                     bool wait) = 0;
    // Ends one running request as aborted.
    virtual bool cancelIoEx(Handle device, Overlapped* request) = 0;
    // Aborts running requests and/or empties the driver's queues (purge flags).
    virtual bool purgeComm(Handle device, std::uint32_t flags) = 0;

    // --- line state ------------------------------------------------------------------------
    // Returns and clears the line error flags; fills the queue counts.
    virtual bool clearCommError(Handle device, std::uint32_t* errors, ComStat* status) = 0;
    virtual bool getCommModemStatus(Handle device, std::uint32_t* status) = 0;
    virtual bool escapeCommFunction(Handle device, std::uint32_t function) = 0;

    // --- line events (served by the event thread) ------------------------------------------
    // Chooses the events to watch (commEvent bits). Events seen so far are forgotten, and a
    // waiting request completes successfully with no events.
    virtual bool setCommMask(Handle device, std::uint32_t mask) = 0;
    virtual bool getCommMask(Handle device, std::uint32_t* mask) = 0;
    // Waits for events of the mask: completes at once when some occurred since the last wait,
    // otherwise goes pending (errorIoPending) and completes through the record when one occurs,
    // with the events in *mask (which must stay valid until then). "Characters received" means
    // new bytes arrived, not that bytes are waiting. One wait at a time; none without a mask
    // (EINVAL). A device that has gone fails the waiting request and every later wait.
    virtual bool waitCommEvent(Handle device, std::uint32_t* mask, Overlapped* request) = 0;

    // --- hand-overs (no platform call; a backend without them does nothing) -----------------
    // Bracket the handling of one wake-up's events, which may run on another thread while the
    // next wait is already pending. Meanwhile "output empty" after the handlers' writes is looked
    // for when takeEvents() asks or when the hand-over ends, not at each write: it then joins
    // this hand-over or the next instead of completing the pending wait on its own.
    virtual void beginHandOver(Handle) {}
    virtual void endHandOver(Handle) {}
    // Takes the events of `mask` that have occurred by now out of what the next wait reports.
    virtual std::uint32_t takeEvents(Handle, std::uint32_t) { return 0; }

    // --- events ----------------------------------------------------------------------------
    // Makes what the calling thread needs to wait on devices (a backend that sleeps on the
    // device itself makes its wake-up here), so that a thread that is to serve event waits
    // learns at once whether it can: 0, or the error code.
    virtual std::uint32_t prepareWaits() { return 0; }
    virtual EventHandle createEvent(bool manualReset, bool initialState) = 0;
    virtual bool setEvent(EventHandle event) = 0;
    virtual bool resetEvent(EventHandle event) = 0;
    virtual bool closeEvent(EventHandle event) = 0;
    // waitObject0 when signalled, waitTimeout, or waitFailed.
    virtual std::uint32_t waitForSingleObject(EventHandle event, std::uint32_t milliseconds) = 0;
    // waitObject0 + index of the lowest signalled event (wait-any), waitTimeout, or waitFailed.
    virtual std::uint32_t waitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                                 bool waitAll, std::uint32_t milliseconds) = 0;

    // --- time ------------------------------------------------------------------------------
    // The platform's monotonic clock (it never steps), by which received bytes are stamped: the
    // steady clock on both platforms (CLOCK_MONOTONIC, the performance counter); a test's fake
    // sets it by hand.
    virtual std::chrono::steady_clock::time_point monotonicTime() {
        return std::chrono::steady_clock::now();
    }
    // Whether the event thread may ask the waiting count (clearCommError) as it wakes for new
    // bytes, to stamp them then. Where it may not, bytes are stamped when the owner's thread
    // first asks the count or reads them.
    virtual bool countsOnEventThread() const { return true; }

    // --- errors ----------------------------------------------------------------------------
    // The calling thread's last error code.
    virtual std::uint32_t getLastError() = 0;
    // The platform's text for an error code.
    virtual std::string systemErrorMessage(std::uint32_t code) = 0;
};

// The backend of the platform the program runs on (one shared instance).
std::shared_ptr<ComDriver> platformDriver();

} // namespace comport::driver
