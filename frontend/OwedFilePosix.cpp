#include "frontend/OwedFile.h"

#include "frontend/RunDevice.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The lock folder is writable by every user: a file is created exclusively and opened through
// no link, never so that the open can wait, and written only when it is this user's own regular
// file with no other name.

namespace upload::frontend {

namespace {

std::string why() {
    return std::strerror(errno);
}

constexpr int openFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool ownRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
           info.st_nlink == 1;
}

std::string readBootId() {
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string text, id;
    std::getline(file, text);
    for (char c : text)
        if (c != '-') id += c;
    return id.size() == 32 ? id : std::string();
}

} // namespace

std::string OwedFile::systemFolder() {
    return "/run/lock";
}

BootTime OwedFile::systemClock() {
    static const std::string boot = readBootId();
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return {boot, std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)};
}

std::string OwedFile::userTag() {
    return std::to_string(::geteuid());
}

std::string OwedFile::nameOf(const std::string& portName) {
    return std::filesystem::path(devicePathOf(portName)).lexically_normal().string();
}

std::optional<std::string> OwedFile::deviceOf(const std::string& portName) {
    struct stat info {};
    if (::stat(devicePathOf(portName).c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return std::nullopt;
    return std::to_string(::major(info.st_rdev)) + "-" + std::to_string(::minor(info.st_rdev));
}

std::string OwedFile::randomTag() {
    std::random_device random;
    return std::to_string(random()) + std::to_string(random());
}

std::intptr_t OwedFile::openOwn(const std::string& name, std::string& problem) {
    const std::string path = pathOf(name);
    const auto create = [](const std::string& at) {
        return ::open(at.c_str(), O_RDWR | O_CREAT | O_EXCL | openFlags, 0644);
    };
    int fd = create(path);
    if (fd < 0 && errno == EEXIST) {
        fd = ::open(path.c_str(), O_RDWR | openFlags);
        if (fd >= 0 && !ownRegularFile(fd)) {
            ::close(fd);
            fd = -1;
        }
        // Something else stands at this user's name (planted by another user, or a link): a
        // name of this run's own that no one can foresee instead; readers find it by its key.
        for (int tries = 0; fd < 0 && tries < 8; ++tries)
            if ((fd = create(path + "-" + randomTag())) < 0 && errno != EEXIST) break;
    }
    // Readable by every user whatever the umask: the next run may be another user's.
    if (fd >= 0 && ::fchmod(fd, 0644) != 0) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) problem = why();
    return fd;
}

bool OwedFile::writeLine(std::intptr_t handle, const std::string& text, std::string& problem) {
    const int fd = static_cast<int>(handle);
    // One write at the start, of a line whose length never changes: a reader finds the old line
    // or the new.
    const ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
    if (n == static_cast<ssize_t>(text.size()) && ::ftruncate(fd, n) == 0) return true;
    problem = n < 0 || n == static_cast<ssize_t>(text.size()) ? why() : "the disk is full";
    return false;
}

std::optional<std::vector<std::string>> OwedFile::namesInFolder(std::string& problem) const {
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir) {
        problem = why();
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, "torvin-owed-", 12) == 0) names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

std::optional<std::string> OwedFile::readSmall(const std::string& name,
                                               std::string& problem) const {
    const int fd = ::open(pathOf(name).c_str(), O_RDONLY | openFlags);
    if (fd < 0) {
        if (errno == ENOENT) return std::string(); // gone since the folder was listed
        problem = errno == ELOOP ? "is a link" : "cannot be read (" + why() + ")";
        return std::nullopt;
    }
    std::optional<std::string> text;
    struct stat info {};
    char bytes[256];
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = "is not a regular file";
    } else if (info.st_size > static_cast<off_t>(sizeof bytes)) {
        problem = "is larger than what this program writes there";
    } else {
        const ssize_t n = ::pread(fd, bytes, sizeof bytes, 0);
        if (n >= 0)
            text.emplace(bytes, static_cast<std::size_t>(n));
        else
            problem = "cannot be read (" + why() + ")";
    }
    ::close(fd);
    return text;
}

void OwedFile::closeHandle(std::intptr_t handle) {
    ::close(static_cast<int>(handle));
}

} // namespace upload::frontend
