#ifndef _WIN32

#include "comport/driver/posix/PosixDevice.h"

#include "comport/driver/ComDriverBase.h"
#include "comport/driver/posix/OutputSettle.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace comport::driver::posix {

namespace {

constexpr std::uint32_t maxQueue = 16u << 20;

// How long one character takes on the line, for planning when the output should have gone.
std::chrono::microseconds characterTime(const Dcb& dcb) {
    const std::uint32_t rate = dcb.BaudRate ? dcb.BaudRate : 9600;
    const std::uint32_t bits = 1 + dcb.ByteSize + (dcb.Parity != parity::none ? 1 : 0) +
                               (dcb.StopBits == stopBits::one ? 1 : 2);
    return std::chrono::microseconds(std::uint64_t{bits} * 1000000 / rate + 1);
}

// The terminal end of a pseudo-terminal (/dev/pts/N, or a legacy /dev/ttyXY).
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) < 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned kind = major(st.st_rdev);
    return (kind >= 136 && kind <= 143) || kind == 3;
}

} // namespace

std::optional<std::string> resolveDevicePath(const std::string& name) {
    std::string n = name;
    if (n.rfind("\\\\.\\", 0) == 0) n.erase(0, 4);
    if (n.empty()) return std::nullopt;
    if (n.front() == '/') return n;
    if (n.size() > 3 && std::toupper(static_cast<unsigned char>(n[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(n[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(n[2])) == 'M') {
        const std::string digits = n.substr(3);
        if (digits.size() <= 4 && std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            })) {
            const int number = std::stoi(digits);
            if (number < 1) return std::nullopt;
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    if (n == "." || n == "..") return std::nullopt;
    // A relative path (./ttyBoard, dev/ttyUSB0) is taken from the working directory, as any
    // program takes a path; only a bare name is looked up in /dev.
    if (n.find('/') != std::string::npos) return n;
    return "/dev/" + n;
}
// --- opening and closing -------------------------------------------------------------------

std::shared_ptr<PosixDevice> PosixDevice::open(const std::string& path, int& error) {
    // The serial tools' lock file comes first: opening a line can already change its modem lines
    // under the program that holds it.
    PosixLockFile lockFile;
    if (const int e = lockFile.take(path)) {
        error = e;
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    auto refuse = [&](int code) {
        ::close(fd);
        error = code;
        return nullptr;
    };
    if (!::isatty(fd)) return refuse(ENOTTY);
    // The lock is what keeps a second user out (TIOCEXCL does not stop root); both are taken
    // before anything about the line is changed.
    if (::flock(fd, LOCK_EX | LOCK_NB) < 0) return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(fd, TIOCEXCL) < 0) return refuse(errno);
    if (int e = makeRaw(fd)) {
        ::ioctl(fd, TIOCNXCL);
        return refuse(e);
    }
    requestLowLatency(fd);
    auto device = std::shared_ptr<PosixDevice>(new PosixDevice(fd));
    device->noOutputQueue_ = isPseudoTerminal(fd);
    device->lockFile_ = std::move(lockFile);
    device->dcb_.BaudRate = 9600;
    device->dcb_.ByteSize = 8;
    device->dcb_.fBinary = true;
    // What the driver counted before this open is not this program's business.
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        device->counters_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    } else {
        device->hasCounters_ = false; // pseudo-terminals and some adapters keep no counters
    }
    return device;
}

PosixDevice::~PosixDevice() {
    close();
}

std::uint32_t PosixDevice::close() {
    std::unique_ptr<PosixModemWait> modemWait;
    {
        std::lock_guard g(lock_);
        if (closed_) return EBADF;
        closed_ = true;
        stopping_ = true;
        abortLocked(true, true);
        completeWaitLocked(0, ECANCELED);
        modemWait = std::move(modemWait_);
    }
    // Without the lock: the waiting thread may be about to take it (and then sees closed_).
    modemWait.reset();
    wakeWorker();
    if (worker_.joinable()) worker_.join();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    settleOutput({[this] {
                      int queued = 0;
                      return ::ioctl(fd_, TIOCOUTQ, &queued) < 0 ? 0 : queued;
                  },
                  [](std::chrono::microseconds pause) { std::this_thread::sleep_for(pause); },
                  [this] { (void)flushQueues(fd_, false, true); }},
                 characterTime(dcb_));
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    std::lock_guard turn(writeTurn_); // no write is between its checks and its system call
    const std::uint32_t result = ::close(fd_) < 0 ? static_cast<std::uint32_t>(errno) : 0;
    lockFile_.release();
    return result;
}
// --- settings ------------------------------------------------------------------------------

std::uint32_t PosixDevice::setupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    if (inQueue > maxQueue || outQueue > maxQueue) return EINVAL;
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    kickInputWaiterLocked(); // the queue may have room now
    return 0;
}

std::uint32_t PosixDevice::getState(Dcb& dcb) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    dcb = dcb_;
    return 0;
}

std::uint32_t PosixDevice::setState(const Dcb& dcb) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    if (int e = applyDcb(fd_, dcb, lineMode_)) return static_cast<std::uint32_t>(e);
    dcb_ = dcb;
    filter_.configure(lineMode_.parityMarks, dcb.ErrorChar, dcb.fNull);
    return 0;
}

std::uint32_t PosixDevice::getTimeouts(CommTimeouts& timeouts) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    timeouts = timeouts_;
    return 0;
}

std::uint32_t PosixDevice::setTimeouts(const CommTimeouts& timeouts) {
    std::lock_guard g(lock_);
    if (closed_) return EBADF;
    timeouts_ = timeouts;
    return 0;
}

} // namespace comport::driver::posix

#endif
