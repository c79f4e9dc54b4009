// The line's state (errors, queue counts, modem lines, DTR/RTS/break) and its events.

#include "comport/driver/win32/Win32Driver.h"
#include "comport/driver/win32/Win32Handles.h"

namespace comport::driver::win32 {

static_assert(purge::txAbort == PURGE_TXABORT && purge::rxClear == PURGE_RXCLEAR);
static_assert(commError::frame == CE_FRAME && commError::mode == CE_MODE);
static_assert(modemStatus::rlsdOn == MS_RLSD_ON && escape::clrDtr == CLRDTR);
static_assert(commEvent::rx80Full == EV_RX80FULL && commEvent::txEmpty == EV_TXEMPTY);

bool Win32Driver::clearCommError(Handle device, std::uint32_t* errors, ComStat* status) {
    DWORD flags = 0;
    COMSTAT s{};
    if (!ClearCommError(toHandle(device), &flags, &s)) return false;
    if (errors) *errors = flags;
    if (status) {
        status->fCtsHold = s.fCtsHold;
        status->fDsrHold = s.fDsrHold;
        status->fRlsdHold = s.fRlsdHold;
        status->fXoffHold = s.fXoffHold;
        status->fXoffSent = s.fXoffSent;
        status->fEof = s.fEof;
        status->fTxim = s.fTxim;
        status->cbInQue = s.cbInQue;
        status->cbOutQue = s.cbOutQue;
    }
    return true;
}

bool Win32Driver::getCommModemStatus(Handle device, std::uint32_t* status) {
    DWORD s = 0;
    if (!GetCommModemStatus(toHandle(device), &s)) return false;
    if (status) *status = s;
    return true;
}

bool Win32Driver::escapeCommFunction(Handle device, std::uint32_t function) {
    if (!EscapeCommFunction(toHandle(device), function)) return false;
    std::lock_guard g(linesLock_);
    lines_[device].escaped(function);
    return true;
}

bool Win32Driver::setCommMask(Handle device, std::uint32_t mask) {
    return SetCommMask(toHandle(device), mask);
}

bool Win32Driver::getCommMask(Handle device, std::uint32_t* mask) {
    DWORD m = 0;
    if (!GetCommMask(toHandle(device), &m)) return false;
    if (mask) *mask = m;
    return true;
}

bool Win32Driver::waitCommEvent(Handle device, std::uint32_t* mask, Overlapped* request) {
    // The system writes the events into *mask when the wait completes; DWORD is the same width.
    static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
    return started(
        WaitCommEvent(toHandle(device), reinterpret_cast<DWORD*>(mask), toOverlapped(request)),
        request);
}

} // namespace comport::driver::win32
