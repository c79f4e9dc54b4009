#include "tools/monitor-sim/PseudoTerminal.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace monitorsim {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    controller_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (controller_ < 0) fail("cannot open a pseudo-terminal");
    try {
        if (::grantpt(controller_) != 0 || ::unlockpt(controller_) != 0)
            fail("cannot unlock the pseudo-terminal");
        char name[PATH_MAX];
        if (::ptsname_r(controller_, name, sizeof name) != 0)
            fail("cannot name the pseudo-terminal");
        serialPath_ = name;

        // Raw both ways: no echo of the host's bytes back to it, no line editing, no translation
        // of carriage returns and line feeds. The host may set its own modes when it opens.
        termios mode{};
        if (::tcgetattr(controller_, &mode) != 0) fail("cannot read the pseudo-terminal's modes");
        ::cfmakeraw(&mode);
        ::cfsetspeed(&mode, B9600);
        if (::tcsetattr(controller_, TCSANOW, &mode) != 0)
            fail("cannot set the pseudo-terminal raw");

        const int flags = ::fcntl(controller_, F_GETFL);
        if (flags < 0 || ::fcntl(controller_, F_SETFL, flags | O_NONBLOCK) != 0)
            fail("cannot make the pseudo-terminal non-blocking");

        // Armed before anyone can learn the path, so that no open goes unseen.
        watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch_ >= 0 && ::inotify_add_watch(watch_, name, IN_OPEN) < 0) {
            ::close(watch_);
            watch_ = -1;
        }
    } catch (...) {
        close();
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    close();
}

bool PseudoTerminal::hostPresent() const {
    pollfd p{controller_, POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

void PseudoTerminal::clearOpenWatch() {
    char events[4096];
    while (watch_ >= 0 && ::read(watch_, events, sizeof events) > 0) {
    }
}

void PseudoTerminal::discardQueued() {
    if (controller_ < 0) return;
    ::tcflush(controller_, TCIFLUSH);
    // Answers the last host left unread wait in the serial end's own input queue, which only that
    // end can flush: open it for a moment to do so.
    const int serial = ::open(serialPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (serial >= 0) {
        ::tcflush(serial, TCIFLUSH);
        ::close(serial);
    }
}

void PseudoTerminal::close() {
    if (watch_ >= 0) ::close(watch_);
    if (controller_ >= 0) ::close(controller_);
    watch_ = controller_ = -1;
}

SymbolicLink::SymbolicLink(std::string target, std::string path)
    : target_(std::move(target)), path_(std::move(path)) {
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode))
            throw std::runtime_error("cannot make the link '" + path_ +
                                     "': a file of that name exists and is not a symbolic link");
        if (::unlink(path_.c_str()) != 0) fail("cannot replace the link '" + path_ + "'");
    }
    if (::symlink(target_.c_str(), path_.c_str()) != 0)
        fail("cannot make the link '" + path_ + "'");
}

SymbolicLink::~SymbolicLink() {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path_.c_str(), target, sizeof target);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == target_)
        ::unlink(path_.c_str());
}

} // namespace monitorsim
