// Faults of the machine around the serial line, preloaded (LD_PRELOAD) into the uploader by the
// process tests: what the program does when the bytes reach it late, when it dies between two
// writes, or when the device is a real line. Everything applies only to the device named by
// LINEFAULT_DEVICE (compared by device number, whatever name the program opens it by):
//
//   LINEFAULT_RX_DELAY_MS=N      a wait for the line that wakes with bytes to read returns N ms
//                                late: the hand-over from the bytes' arrival to the handler
//                                that reads them takes that long (a busy machine)
//   LINEFAULT_KILL_AFTER_BYTES=N the process is killed (SIGKILL) right after the write that
//                                brings the bytes written to the device to N or more
//   LINEFAULT_REAL_LINE=1        the device's node, looked up by name, is a serial chip's rather
//                                than a pseudo-terminal's, so that the line's rate counts
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

template <typename F> F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

long setting(const char* name) {
    const char* text = std::getenv(name);
    return text ? std::strtol(text, nullptr, 10) : 0;
}

using StatFn = int (*)(const char*, struct stat*);

// The device's number, looked up once; 0 when none is named or it cannot be found.
dev_t device() {
    static const dev_t number = [] {
        const char* path = std::getenv("LINEFAULT_DEVICE");
        struct stat info {};
        if (!path || real<StatFn>("stat")(path, &info) != 0) return dev_t{0};
        return info.st_rdev;
    }();
    return number;
}

bool isDevice(int fd) {
    struct stat info {};
    return device() != 0 && ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) &&
           info.st_rdev == device();
}

std::atomic<long> written{0};

// The bytes are there; the wait that saw them returns late.
int late(struct pollfd* fds, nfds_t n, int ready) {
    static const long delay = setting("LINEFAULT_RX_DELAY_MS");
    if (ready <= 0 || delay <= 0) return ready;
    for (nfds_t i = 0; i < n; ++i) {
        if ((fds[i].revents & POLLIN) && isDevice(fds[i].fd)) {
            const int saved = errno;
            const timespec wait{delay / 1000, (delay % 1000) * 1'000'000};
            ::nanosleep(&wait, nullptr);
            errno = saved;
            break;
        }
    }
    return ready;
}

} // namespace

extern "C" {

int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    using Fn = int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);
    static const Fn next = real<Fn>("ppoll");
    return late(fds, n, next(fds, n, timeout, mask));
}

// What a build with _FORTIFY_SOURCE calls instead.
int __ppoll_chk(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask,
                size_t size) {
    using Fn = int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*, size_t);
    static const Fn next = real<Fn>("__ppoll_chk");
    return late(fds, n, next(fds, n, timeout, mask, size));
}

ssize_t write(int fd, const void* bytes, size_t count) {
    using Fn = ssize_t (*)(int, const void*, size_t);
    static const Fn next = real<Fn>("write");
    const ssize_t n = next(fd, bytes, count);
    static const long killAfter = setting("LINEFAULT_KILL_AFTER_BYTES");
    if (n > 0 && killAfter > 0 && isDevice(fd) && (written += n) >= killAfter)
        ::kill(::getpid(), SIGKILL);
    return n;
}

int stat(const char* path, struct stat* info) {
    static const StatFn next = real<StatFn>("stat");
    const int result = next(path, info);
    static const bool realLine = setting("LINEFAULT_REAL_LINE") != 0;
    if (result == 0 && realLine && S_ISCHR(info->st_mode) && device() != 0 &&
        info->st_rdev == device())
        info->st_rdev = ::makedev(4, 64); // the first serial chip's, as /dev/ttyS0
    return result;
}

} // extern "C"
