// upload-floor PATH: the least a host can do to upload the embedded image: one thread, blocking
// writes, no events, no timer, no retries. It writes the programming-mode command, then each
// record as the uploader puts it on the wire (':' and then every byte in a write of its own),
// and after each item polls for the three-byte reply. Any reply but "[N]", or two seconds of
// silence, ends it with status 1. Used by bench/upload/run.sh as the floor torvin-upload is
// measured against.

#include "upload/FirmwareImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace {

int fd = -1;

bool writeAll(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool replyIsNext() {
    char reply[3];
    std::size_t got = 0;
    while (got < sizeof reply) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) return false;
        const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return std::string_view(reply, 3) == "[N]";
}

int hex(char c) {
    return c <= '9' ? c - '0' : (c & ~0x20) - 'A' + 10;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: upload-floor PATH\n");
        return 64;
    }
    fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "upload-floor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    termios mode{};
    ::tcgetattr(fd, &mode);
    ::cfmakeraw(&mode);
    ::cfsetspeed(&mode, B9600);
    ::tcsetattr(fd, TCSANOW, &mode);

    if (!writeAll("(%P31)", 6) || !replyIsNext()) {
        std::fprintf(stderr, "upload-floor: no \"[N]\" to the command\n");
        return 1;
    }
    const auto image = upload::firmwareImage();
    for (std::int32_t n = 1; n <= upload::firmwareRecordCount; ++n) {
        const std::string_view line = image[static_cast<std::size_t>(n - 1)];
        bool ok = writeAll(":", 1);
        for (std::size_t p = 1; ok && p + 1 < line.size(); p += 2) {
            const unsigned char byte =
                static_cast<unsigned char>(hex(line[p]) * 16 + hex(line[p + 1]));
            ok = writeAll(&byte, 1);
        }
        if (!ok || !replyIsNext()) {
            std::fprintf(stderr, "upload-floor: record %d failed\n", n);
            return 1;
        }
    }
    ::close(fd);
    return 0;
}
