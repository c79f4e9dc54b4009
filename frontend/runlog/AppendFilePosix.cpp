#include "frontend/runlog/AppendFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace runlog {

namespace {
std::string systemError() {
    return std::strerror(errno);
}
} // namespace

AppendFile::AppendFile(std::string path) : path_(std::move(path)) {
    handle_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (handle_ < 0)
        throw std::runtime_error("cannot open the run log " + path_ + ": " + systemError());
}

AppendFile::~AppendFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

void AppendFile::append(std::string_view line) {
    const int fd = static_cast<int>(handle_);
    // One write: with O_APPEND the line lands whole at the end, whoever else appends.
    const ssize_t written = ::write(fd, line.data(), line.size());
    if (written < 0 || static_cast<std::size_t>(written) != line.size())
        throw std::runtime_error("cannot write the run log " + path_ + ": " +
                                 (written < 0 ? systemError() : std::string("disk full")));
    // A log on a regular file is kept through a power cut; a pipe or a terminal cannot be synced.
    if (::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS)
        throw std::runtime_error("cannot write the run log " + path_ + ": " + systemError());
}

} // namespace runlog
