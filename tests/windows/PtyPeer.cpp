#include "PtyPeer.h"

#include "tests/support/HexText.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace wintest {

namespace {

struct Winsock {
    Winsock() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

} // namespace

PtyLine::PtyLine(int number) : number_(number) {
    static Winsock winsock;
    const char* port = std::getenv("TORVIN_PTY_PEER_PORT");
    if (!port)
        throw std::runtime_error("TORVIN_PTY_PEER_PORT is not set (run scripts/test-windows.sh)");
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET ||
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot reach the pty peer");
    socket_ = s;
    const std::string reply = request("open " + std::to_string(number_));
    if (!reply.starts_with("ok")) throw std::runtime_error("pty peer: " + reply);
}

PtyLine::~PtyLine() {
    ::closesocket(static_cast<SOCKET>(socket_));
}

std::string PtyLine::request(const std::string& line) {
    const std::string text = line + "\n";
    const SOCKET s = static_cast<SOCKET>(socket_);
    ::send(s, text.data(), static_cast<int>(text.size()), 0);
    std::string reply;
    char c = 0;
    while (::recv(s, &c, 1, 0) == 1 && c != '\n')
        reply += c;
    return reply;
}

void PtyLine::send(const std::string& bytes) {
    const std::string reply =
        request("send " + std::to_string(number_) + " " + testsupport::hexText(bytes));
    if (reply != "ok") throw std::runtime_error("pty peer: " + reply);
}

std::string PtyLine::receive(std::size_t count, std::chrono::milliseconds limit) {
    const std::string reply = request("recv " + std::to_string(number_) + " " +
                                      std::to_string(count) + " " + std::to_string(limit.count()));
    if (!reply.starts_with("data")) throw std::runtime_error("pty peer: " + reply);
    return testsupport::bytesOfHex(reply.size() > 5 ? reply.substr(5) : "");
}

KernelSettings PtyLine::settings() {
    std::istringstream in(request("termios " + std::to_string(number_)));
    KernelSettings k;
    std::string word;
    int rtscts = 0, ixon = 0, ixoff = 0;
    in >> word >> k.speed >> word >> k.size >> word >> k.parity >> word >> k.stop >> word >>
        rtscts >> word >> ixon >> word >> ixoff >> word >> k.xon >> word >> k.xoff;
    k.rtscts = rtscts, k.ixon = ixon, k.ixoff = ixoff;
    return k;
}

void PtyLine::vanish() {
    request("close " + std::to_string(number_));
}

} // namespace wintest
