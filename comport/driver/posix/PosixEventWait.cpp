#ifndef _WIN32

#include "comport/driver/posix/PosixEventWait.h"

#include "comport/driver/posix/PosixDevice.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace comport::driver::posix {

DeviceSleeper& DeviceSleeper::forThisThread() {
    thread_local DeviceSleeper sleeper;
    return sleeper;
}

DeviceSleeper::DeviceSleeper() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    // Without it the stop event could never end the sleep; no wait can be served then.
    if (wakeFd_ < 0)
        throw std::system_error(errno, std::generic_category(),
                                "cannot create the event wait's wake-up descriptor");
}

DeviceSleeper::~DeviceSleeper() {
    ::close(wakeFd_);
}

void DeviceSleeper::begin(const std::shared_ptr<PosixDevice>* devices, std::size_t count) {
    failure_ = 0;
    {
        // A wake-up left from the last wait (its own arrival completing it) is not for this one,
        // which looks at its events before it first sleeps anyway.
        std::lock_guard g(lock_);
        pending_ = false;
    }
    devices_ = devices;
    count_ = count < maxDevices ? count : maxDevices;
    due_.fill(false);
    for (std::size_t i = 0; i < count_; ++i)
        devices_[i]->attachInputWaiter(this);
}

void DeviceSleeper::end() {
    for (std::size_t i = 0; i < count_; ++i)
        devices_[i]->detachInputWaiter(this);
    devices_ = nullptr;
    count_ = 0;
}

bool DeviceSleeper::sleep(Event::Deadline deadline) {
    {
        std::lock_guard g(lock_);
        if (pending_) {
            pending_ = false;
            return true;
        }
        asleep_ = true;
    }
    pollfd fds[maxDevices + 1];
    std::size_t owner[maxDevices + 1];
    fds[0] = {wakeFd_, POLLIN, 0};
    nfds_t n = 1;
    // The sleep also ends for the devices' planned looks (see inputWatch).
    Event::Deadline wakeAt = deadline;
    Event::Deadline lookAt[maxDevices];
    for (std::size_t i = 0; i < count_; ++i) {
        short events = 0;
        lookAt[i].reset();
        if (!devices_[i]->inputWatch(events, lookAt[i])) continue;
        fds[n] = {devices_[i]->fd(), events, 0};
        owner[n++] = i;
        if (lookAt[i] && (!wakeAt || *lookAt[i] < *wakeAt)) wakeAt = lookAt[i];
    }
    timespec left{};
    if (wakeAt) {
        auto rest = *wakeAt - std::chrono::steady_clock::now();
        if (rest.count() < 0) rest = {};
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(rest).count();
        left = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    }
    const int ready = ::ppoll(fds, n, wakeAt ? &left : nullptr, nullptr);
    const int error = errno;
    {
        std::lock_guard g(lock_);
        asleep_ = false;
        pending_ = false; // whatever woke it, the caller looks at its events next
        written_ = false;
    }
    // Taken whenever it is readable, not only when a wake() is known to have written: a wake()
    // that raced with the line's own wake-up may write after this sleep has looked, and a count
    // nobody takes would end every later sleep at once.
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &value, sizeof value);
    }
    if (ready < 0 && error != EINTR) {
        // Only a lack of kernel memory gets here (the arguments are sound): the wait ends as
        // failed (see failure()) rather than going round again.
        failure_ = error;
        return false;
    }
    for (nfds_t k = 1; k < n; ++k)
        revents_[owner[k]] = fds[k].revents;
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count_; ++i)
        due_[i] = lookAt[i] && now >= *lookAt[i];
    // Only the caller's own deadline counts as a time-out.
    return ready != 0 || !deadline || now < *deadline;
}

void DeviceSleeper::serve() {
    for (std::size_t i = 0; i < count_; ++i) {
        if (revents_[i] == 0 && !due_[i]) continue;
        due_[i] = false;
        devices_[i]->serveInput(std::exchange(revents_[i], short{0}));
    }
}

void DeviceSleeper::wake() {
    bool ring = false;
    {
        std::lock_guard g(lock_);
        pending_ = true;
        ring = asleep_ && !written_;
        if (ring) written_ = true;
    }
    if (ring) {
        const std::uint64_t one = 1;
        // An eventfd write fails only when its counter would overflow, which a count taken back
        // after every sleep never nears.
        [[maybe_unused]] const ssize_t r = ::write(wakeFd_, &one, sizeof one);
    }
}

} // namespace comport::driver::posix

#endif
