#include "upload/frontend/OwedFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The folder may be /tmp, where anyone can put anything: a file is created exclusively and opened
// through no link, never so that the open can wait, and used only when it is this user's own
// regular file.

namespace upload::frontend {

namespace {

std::string why() {
    return std::strerror(errno);
}

// A folder of this user's that no one else may write into.
bool ownFolder(const std::string& path, std::string& problem) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        problem = path + ": " + why();
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 022) != 0) {
        problem = path + " is not a folder of this user's that only this user may write into";
        return false;
    }
    return true;
}

bool ownRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
           info.st_nlink == 1;
}

} // namespace

std::string OwedFile::folder() {
    std::string problem;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        if (ownFolder(runtime, problem)) return runtime;
        warnOnce("the runtime folder " + problem);
        return {};
    }
    const std::string dir = "/tmp/torvin-" + std::to_string(::geteuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        warnOnce("cannot make the folder " + dir + ": " + why());
        return {};
    }
    if (ownFolder(dir, problem)) return dir;
    warnOnce("the folder " + problem);
    return {};
}

bool OwedFile::openForWriting(const std::string& path) {
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        warnOnce("cannot open " + path + ": " + why());
        return false;
    }
    if (!ownRegularFile(fd)) {
        ::close(fd);
        warnOnce(path + " is not a regular file of this user's");
        return false;
    }
    handle_ = fd;
    lastWritten_ = -1;
    return true;
}

bool OwedFile::writeLine(const std::string& text) {
    const int fd = static_cast<int>(handle_);
    // One write of a line of fixed length at the start: a reader finds the old line or the new.
    const ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
    // Whatever stood there before may have been longer.
    if (n == static_cast<ssize_t>(text.size()) && (lastWritten_ >= 0 || ::ftruncate(fd, n) == 0))
        return true;
    warnOnce("cannot write the file of what the board owes: " + (n < 0 ? why() : "disk full"));
    return false;
}

std::optional<std::string> OwedFile::readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) warnOnce("cannot read " + path + ": " + why());
        return std::nullopt;
    }
    std::optional<std::string> text;
    if (ownRegularFile(fd)) {
        char bytes[128];
        const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
        if (n >= 0)
            text.emplace(bytes, static_cast<std::size_t>(n));
        else
            warnOnce("cannot read " + path + ": " + why());
    } else {
        warnOnce(path + " is not a regular file of this user's; it is not trusted");
    }
    ::close(fd);
    return text;
}

void OwedFile::close() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
    handle_ = -1;
    name_.clear();
}

} // namespace upload::frontend
