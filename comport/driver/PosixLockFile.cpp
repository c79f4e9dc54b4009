#ifndef _WIN32

#include "comport/driver/PosixLockFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace comport::driver::posix {

namespace {

// The holder's process number: ten characters of text, or (older tools) four binary bytes;
// 0 for a file that cannot be read as either.
pid_t holderOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n == 4 && std::strspn(text, " 0123456789\n") < 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        return binary;
    }
    if (n <= 0) return 0;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 && pid < INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool running(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool cannotWrite(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOENT;
}

} // namespace

PosixLockFile::~PosixLockFile() {
    release();
}

PosixLockFile::PosixLockFile(PosixLockFile&& other) noexcept
    : path_(std::exchange(other.path_, {})) {}

PosixLockFile& PosixLockFile::operator=(PosixLockFile&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

std::string PosixLockFile::nameFor(const std::string& devicePath) {
    char real[PATH_MAX];
    std::string name = ::realpath(devicePath.c_str(), real) ? real : devicePath;
    if (name.rfind("/dev/", 0) == 0) name.erase(0, 5);
    while (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    for (char& c : name)
        if (c == '/') c = '_';
    return "LCK.." + name;
}

int PosixLockFile::take(const std::string& devicePath, const std::string& lockFolder) {
    release();
    const std::string path = lockFolder + "/" + nameFor(devicePath);
    // Written in full under a name of its own first, then linked into place: whoever finds the
    // lock finds its number in it.
    static std::atomic<unsigned> drafts{0};
    const std::string draft =
        lockFolder + "/LTMP." + std::to_string(::getpid()) + "." + std::to_string(drafts++);
    const int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        if (!cannotWrite(error)) return error;
        // No lock of our own can be taken here; a live holder is still honoured.
        const pid_t holder = holderOf(path);
        return holder > 0 && running(holder) ? EBUSY : 0;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(draft.c_str());
        return writeError ? writeError : EIO;
    }
    int result = EBUSY;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::link(draft.c_str(), path.c_str()) == 0) {
            path_ = path;
            result = 0;
            break;
        }
        if (errno != EEXIST) {
            result = cannotWrite(errno) ? 0 : errno;
            break;
        }
        // An unreadable lock is left alone: better a port refused than one shared.
        const pid_t holder = holderOf(path);
        if (holder <= 0 || holder == ::getpid() || running(holder)) break;
        // The holder has gone without removing its lock: take it over.
        if (::unlink(path.c_str()) < 0 && errno != ENOENT) {
            result = errno;
            break;
        }
    }
    ::unlink(draft.c_str());
    return result;
}

void PosixLockFile::release() {
    if (path_.empty()) return;
    // Only our own lock is removed: one taken over by someone else after a stale-lock check of
    // theirs is theirs.
    if (holderOf(path_) == ::getpid()) ::unlink(path_.c_str());
    path_.clear();
}

} // namespace comport::driver::posix

#endif
