#include "tests/support/Pty.h"

#include "frontend/OwedFile.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

PtyPair::PtyPair(bool keepTerminalOpen) {
    char name[256] = {};
    if (::openpty(&controller_, &terminal_, name, nullptr, nullptr) < 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
    // A new pseudo-terminal is a new line: what a test that had this number before left owed on
    // it (the uploader keeps that beyond the process) is no board's debt to this test.
    upload::frontend::OwedFile().keep(path_, {});
    ::fcntl(controller_, F_SETFD, FD_CLOEXEC);
    ::fcntl(terminal_, F_SETFD, FD_CLOEXEC);
    if (!keepTerminalOpen) {
        ::close(terminal_);
        terminal_ = -1;
    }
}

PtyPair::~PtyPair() {
    closeController();
    if (terminal_ >= 0) ::close(terminal_);
}

void PtyPair::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(controller_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("writing to the pseudo-terminal failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyPair::receive(std::size_t count, std::chrono::milliseconds limit) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{controller_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[256];
        const ssize_t n = ::read(controller_, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

std::string PtyPair::drain() {
    std::string out;
    for (;;) {
        pollfd p{controller_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
        char buffer[256];
        const ssize_t n = ::read(controller_, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

void PtyPair::closeController() {
    if (controller_ >= 0) ::close(controller_);
    controller_ = -1;
}

bool PtyPair::terminalSettings(void* termiosOut) const {
    return ::tcgetattr(terminal_, static_cast<termios*>(termiosOut)) == 0;
}

} // namespace testsupport
