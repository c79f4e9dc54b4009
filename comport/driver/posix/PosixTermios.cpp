#ifndef _WIN32

#include "comport/driver/posix/PosixTermios.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace comport::driver::posix {

namespace {

struct StandardRate {
    std::uint32_t rate;
    unsigned int code;
};

constexpr StandardRate standardRates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},
    {150, B150},       {200, B200},       {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
};

int errnoOr(int result) {
    return result < 0 ? errno : 0;
}

bool noModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Drives one modem output line; devices without modem lines accept this as a no-op.
int driveLine(int fd, int line, bool on) {
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return 0;
    return noModemLines(errno) ? 0 : errno;
}

int setRs485(int fd, bool on) {
    serial_rs485 rs{};
    if (ioctl(fd, TIOCGRS485, &rs) < 0) return errno;
    if (on) {
        rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
    } else {
        rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
    }
    return errnoOr(ioctl(fd, TIOCSRS485, &rs));
}

// Whether the line holds the word, parity, stop bits and flow control of `cflag`, and a rate
// within 3 % of the one asked for (more and the far end would not understand the line).
bool heldAsAsked(tcflag_t cflag, unsigned int speedCode, std::uint32_t rate, const termios2& back) {
    tcflag_t frame = CSIZE | PARENB | CSTOPB | CRTSCTS;
    if (cflag & PARENB) frame |= PARODD | CMSPAR;
    if ((back.c_cflag & frame) != (cflag & frame)) return false;
    if (speedCode != BOTHER) return (back.c_cflag & CBAUD) == speedCode;
    const long diff = std::labs(static_cast<long>(back.c_ospeed) - long(rate));
    return (back.c_cflag & CBAUD) == BOTHER && diff * 100 <= long(rate) * 3;
}

} // namespace

int makeRaw(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) < 0) return errno;
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // One byte minimum with no timer: a non-blocking read then tells "nothing yet" (EAGAIN)
    // from a hang-up (0 bytes or EIO).
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return errnoOr(ioctl(fd, TCSETS2, &t));
}

int applyDcb(int fd, const Dcb& dcb, LineMode& mode) {
    // termios has one switch for both halves of hardware flow control (output held while CTS is
    // low, RTS dropped while the input is full); half of it would stall a three-wire cable.
    const bool ctsOut = dcb.fOutxCtsFlow;
    const bool rtsIn = dcb.fRtsControl == rtsControl::handshake;
    // What termios cannot express is refused rather than silently dropped.
    if (ctsOut != rtsIn || !dcb.fBinary || dcb.fAbortOnError || dcb.fOutxDsrFlow ||
        dcb.fDsrSensitivity || dcb.fDtrControl > dtrControl::enable ||
        dcb.fRtsControl > rtsControl::toggle || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
        dcb.Parity > parity::space || dcb.StopBits > stopBits::two || dcb.BaudRate == 0)
        return EINVAL;

    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) < 0) return errno;
    const termios2 before = t;

    tcflag_t cflag = t.c_cflag;
    cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CMSPAR |
                                    CSTOPB | CRTSCTS);
    cflag |= CREAD | CLOCAL;

    unsigned int speedCode = BOTHER;
    for (const auto& s : standardRates)
        if (s.rate == dcb.BaudRate) speedCode = s.code;
    if (speedCode == BOTHER)
        cflag |= BOTHER | (BOTHER << IBSHIFT);
    else
        cflag |= speedCode; // input speed field 0: the same as the output speed
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;

    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    cflag |= sizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case parity::odd:
        cflag |= PARENB | PARODD;
        break;
    case parity::even:
        cflag |= PARENB;
        break;
    case parity::mark:
        cflag |= PARENB | CMSPAR | PARODD;
        break;
    case parity::space:
        cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // One and a half stop bits go out as two: a 16550-style UART sends 1.5 for 5-bit words with
    // this setting, and a receiver set to 1.5 accepts 2.
    if (dcb.StopBits != stopBits::one) cflag |= CSTOPB;
    if (ctsOut && rtsIn) cflag |= CRTSCTS;
    t.c_cflag = cflag;

    // Parity checking alone keeps the received byte as it came (the error is still counted);
    // replacement needs the driver to flag the byte: with INPCK it arrives as \0, and with
    // PARMRK it arrives marked so that the reading side puts the error character in its place.
    tcflag_t iflag = 0;
    const bool replace = dcb.fParity && dcb.fErrorChar;
    const bool parityMarks = replace && dcb.ErrorChar != 0;
    if (replace) iflag |= INPCK;
    if (parityMarks) iflag |= PARMRK;
    if (dcb.fOutX) iflag |= IXON;
    if (dcb.fInX) iflag |= IXOFF;
    t.c_iflag = iflag;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    // Once the line starts to change, a refusal at any later step puts back all of it (the
    // settings, the driver's RTS toggling, the two output lines, the reading side's mode): half
    // a block would leave, say, parity marking on with nobody reading the marks.
    const LineMode modeBefore = mode;
    int linesBefore = 0;
    const bool linesKnown = ioctl(fd, TIOCMGET, &linesBefore) == 0;
    auto refuse = [&](int error) {
        (void)ioctl(fd, TCSETS2, &before);
        if (mode.rs485 != modeBefore.rs485) (void)setRs485(fd, modeBefore.rs485);
        if (linesKnown) {
            (void)driveLine(fd, TIOCM_DTR, linesBefore & TIOCM_DTR);
            if (!modeBefore.rs485) (void)driveLine(fd, TIOCM_RTS, linesBefore & TIOCM_RTS);
        }
        mode = modeBefore;
        return error;
    };

    if (ioctl(fd, TCSETS2, &t) < 0) return refuse(errno);

    // A driver keeps what its hardware can do and says nothing about the rest (a USB adapter
    // without mark and space parity or 5-bit words, a pseudo-terminal that stays at 8 bits
    // without parity), and it may round a rate to what its clock can make: the block is read
    // back, and one that did not hold is refused.
    termios2 back{};
    if (ioctl(fd, TCGETS2, &back) < 0) return refuse(errno);
    if (!heldAsAsked(cflag, speedCode, dcb.BaudRate, back)) return refuse(EINVAL);
    mode.parityMarks = parityMarks;

    if (dcb.fRtsControl == rtsControl::toggle) {
        if (int e = setRs485(fd, true)) return refuse(e);
        mode.rs485 = true;
    } else if (mode.rs485) {
        if (int e = setRs485(fd, false)) return refuse(e);
        mode.rs485 = false;
    }
    if (int e = driveLine(fd, TIOCM_DTR, dcb.fDtrControl == dtrControl::enable)) return refuse(e);
    if (dcb.fRtsControl == rtsControl::disable || dcb.fRtsControl == rtsControl::enable)
        if (int e = driveLine(fd, TIOCM_RTS, dcb.fRtsControl == rtsControl::enable))
            return refuse(e);
    return 0;
}

void requestLowLatency(int fd) {
    serial_struct s{};
    if (ioctl(fd, TIOCGSERIAL, &s) < 0) return;
    if (s.flags & ASYNC_LOW_LATENCY) return;
    s.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &s);
}

int flushQueues(int fd, bool input, bool output) {
    if (!input && !output) return 0;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return errnoOr(ioctl(fd, TCFLSH, which));
}

int suspendOutput(int fd, bool suspend) {
    return errnoOr(ioctl(fd, TCXONC, suspend ? TCOOFF : TCOON));
}

} // namespace comport::driver::posix

#endif
