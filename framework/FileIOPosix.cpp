#include "framework/FileIO.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int code) {
    throw EFileError(what + " '" + path + "': " + std::strerror(code), code);
}

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { close(); }
    int get() const { return fd_; }
    // Closes now and reports the result, since a failed close can mean lost data.
    int close() {
        int result = 0;
        if (fd_ >= 0) result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string resolveTarget(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        auto target = std::filesystem::weakly_canonical(path, ec);
        if (!ec) return target.string();
    }
    return path;
}

} // namespace

std::optional<std::string> readWholeFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        fail("Cannot read", path, errno);
    }
    std::string content;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot read", path, errno);
        }
        if (n == 0) break;
        content.append(chunk, static_cast<std::size_t>(n));
    }
    return content;
}

void writeFileAtomically(const std::string& path, std::string_view content) {
    const std::filesystem::path target = resolveTarget(path);
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";

    // A name no other writer in this process or another one picks at the same time.
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = dir / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                      std::to_string(counter++));
        // Mode 0666 lets the process umask decide, as for any newly created file.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100)) fail("Cannot write", path, errno);
    }
    FileDescriptor file(fd);

    auto abandon = [&](int code) {
        file.close();
        ::unlink(temp.c_str());
        fail("Cannot write", path, code);
    };

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && ::fchmod(file.get(), old.st_mode & 07777) != 0) {
        abandon(errno);
    }
    if (!writeAll(file.get(), content)) abandon(errno);
    if (::fsync(file.get()) != 0) abandon(errno);
    if (file.close() != 0) abandon(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        fail("Cannot write", path, code);
    }
    // The rename itself must reach the disk too, or a crash could bring back the old name.
    FileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
}

} // namespace fw
