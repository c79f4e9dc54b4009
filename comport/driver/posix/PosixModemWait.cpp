#ifndef _WIN32

#include "comport/driver/posix/PosixModemWait.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>

namespace comport::driver::posix {

namespace {

extern "C" void ignoreRelease(int) {}

void installReleaseHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = ignoreRelease;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the interrupted wait must return
        ::sigaction(PosixModemWait::releaseSignal(), &action, nullptr);
    });
}

} // namespace

int PosixModemWait::releaseSignal() {
    return SIGRTMIN + 6;
}

PosixModemWait::PosixModemWait(int fd, std::function<void(int)> woke)
    : fd_(fd), woke_(std::move(woke)) {
    installReleaseHandler();
    thread_ = std::thread([this] { run(); });
}

PosixModemWait::~PosixModemWait() {
    stop_.store(true);
    {
        std::unique_lock l(lock_);
        while (!finished_) {
            ::pthread_kill(thread_.native_handle(), releaseSignal());
            ended_.wait_for(l, std::chrono::milliseconds(2));
        }
    }
    thread_.join();
}

void PosixModemWait::run() {
    sigset_t release;
    sigemptyset(&release);
    sigaddset(&release, releaseSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &release, nullptr);

    while (!stop_.load()) {
        const int r = ::ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
        const int error = r < 0 ? errno : 0;
        if (stop_.load()) break;
        if (error == EINTR) continue;
        woke_(error);
        if (error != 0) break;
    }
    std::lock_guard l(lock_);
    finished_ = true;
    ended_.notify_all();
}

} // namespace comport::driver::posix

#endif
