// Reading an image file's text on Linux.

#include "cli/torvin-upload/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvinupload {

std::optional<std::string> ImageFile::readImageText(const std::string& path, std::string& error) {
    auto failed = [&](const std::string& what) {
        error = path + ": " + what;
        return std::nullopt;
    };
    // Not blocking: a FIFO with no writer must not hold the open. Nothing is read before the
    // descriptor is known to be a regular file, so a device is never read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return failed(std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) return failed(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) {
        const char* kind = S_ISDIR(info.st_mode)    ? "a directory"
                           : S_ISFIFO(info.st_mode) ? "a FIFO"
                           : S_ISCHR(info.st_mode)  ? "a character device"
                           : S_ISBLK(info.st_mode)  ? "a block device"
                           : S_ISSOCK(info.st_mode) ? "a socket"
                                                    : "not a regular file";
        return failed(std::string("is ") + kind + ", not an image file; give a regular file");
    }
    auto tooLarge = [&] {
        return failed("larger than " + std::to_string(maxImageBytes / (1024 * 1024)) +
                      " MB, far more than any image for this board (32 KB of program memory); "
                      "is it the right file?");
    };
    if (info.st_size > static_cast<off_t>(maxImageBytes)) return tooLarge();

    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(std::strerror(errno));
        }
        if (n == 0) break;
        // The file may have grown since it was looked at.
        if (text.size() + static_cast<std::size_t>(n) > maxImageBytes) return tooLarge();
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

} // namespace torvinupload
