// The Linux end of the Windows tests' serial lines. Makes pseudo-terminals, links each as a COM
// port of the Wine prefix (dosdevices/comN), and plays the far end of the line on request from
// the test program, which talks to it over one loopback TCP connection at a time. Prints the
// port it listens on, then serves until it is ended by a signal.
//
// Requests, one per line, each answered with one line:
//   open N            a new terminal as COMN             -> ok /dev/pts/K
//   send N HEX        the far end sends bytes            -> ok
//   recv N COUNT MS   what arrived, up to COUNT bytes, waiting at most MS ms -> data HEX
//   termios N         the terminal's settings as the kernel has them
//                     -> speed B size S parity P stop T rtscts R ixon X ixoff Y xon C xoff D
//   close N           the far end goes away (the device vanishes) -> ok

#include "tests/support/HexText.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

namespace {

struct Line {
    int controller = -1;
    int terminal = -1; // kept open so that the settings can be read and the line stays up
};

std::string dosdevices;
std::map<int, Line> lines;

void closeLine(Line& line) {
    if (line.controller >= 0) ::close(line.controller);
    if (line.terminal >= 0) ::close(line.terminal);
    line = {};
}

std::string openLine(int n) {
    closeLine(lines[n]);
    Line line;
    line.controller = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (line.controller < 0 || grantpt(line.controller) || unlockpt(line.controller))
        return std::string("error ") + std::strerror(errno);
    const std::string path = ptsname(line.controller);
    line.terminal = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(line.terminal, &t);
    cfmakeraw(&t);
    tcsetattr(line.terminal, TCSANOW, &t);
    const std::string link = dosdevices + "/com" + std::to_string(n);
    ::unlink(link.c_str());
    if (::symlink(path.c_str(), link.c_str()) != 0)
        return std::string("error ") + std::strerror(errno);
    lines[n] = line;
    return "ok " + path;
}

std::string receive(Line& line, std::size_t count, int ms) {
    std::string bytes;
    while (bytes.size() < count) {
        pollfd p{line.controller, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) break;
        char buffer[4096];
        const ssize_t n =
            ::read(line.controller, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return "data " + testsupport::hexText(bytes);
}

std::string settings(const Line& line) {
    termios t{};
    if (tcgetattr(line.terminal, &t) != 0) return std::string("error ") + std::strerror(errno);
    static const std::map<speed_t, int> rates = {
        {B110, 110},       {B300, 300},       {B600, 600},      {B1200, 1200},   {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},     {B19200, 19200},  {B38400, 38400}, {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}};
    const auto rate = rates.find(cfgetospeed(&t));
    const int sizes[] = {5, 6, 7, 8};
    const tcflag_t csize = t.c_cflag & CSIZE;
    const int size = sizes[csize == CS5 ? 0 : csize == CS6 ? 1 : csize == CS7 ? 2 : 3];
    char parity = 'N';
    if (t.c_cflag & PARENB)
        parity = (t.c_cflag & CMSPAR) ? ((t.c_cflag & PARODD) ? 'M' : 'S')
                                      : ((t.c_cflag & PARODD) ? 'O' : 'E');
    std::ostringstream out;
    out << "speed " << (rate == rates.end() ? -1 : rate->second) << " size " << size << " parity "
        << parity << " stop " << ((t.c_cflag & CSTOPB) ? 2 : 1) << " rtscts "
        << ((t.c_cflag & CRTSCTS) ? 1 : 0) << " ixon " << ((t.c_iflag & IXON) ? 1 : 0) << " ixoff "
        << ((t.c_iflag & IXOFF) ? 1 : 0) << " xon " << int(t.c_cc[VSTART]) << " xoff "
        << int(t.c_cc[VSTOP]);
    return out.str();
}

std::string answer(const std::string& request) {
    std::istringstream in(request);
    std::string verb;
    int n = 0;
    in >> verb >> n;
    if (verb == "open") return openLine(n);
    auto found = lines.find(n);
    if (found == lines.end() || found->second.controller < 0)
        return "error no line " + std::to_string(n);
    Line& line = found->second;
    if (verb == "send") {
        std::string text;
        in >> text;
        const std::string bytes = testsupport::bytesOfHex(text);
        return ::write(line.controller, bytes.data(), bytes.size()) == ssize_t(bytes.size())
                   ? "ok"
                   : std::string("error ") + std::strerror(errno);
    }
    if (verb == "recv") {
        std::size_t count = 0;
        int ms = 0;
        in >> count >> ms;
        return receive(line, count, ms);
    }
    if (verb == "termios") return settings(line);
    if (verb == "close") {
        closeLine(line);
        return "ok";
    }
    return "error unknown request";
}

void serve(int connection) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(connection, buffer, sizeof buffer);
        if (n <= 0) return;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string reply = answer(pending.substr(0, end)) + "\n";
            pending.erase(0, end + 1);
            if (::write(connection, reply.data(), reply.size()) < 0) return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pty-peer DOSDEVICES-FOLDER\n");
        return 64;
    }
    dosdevices = argv[1];
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("pty-peer");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        serve(connection);
        ::close(connection);
    }
}
