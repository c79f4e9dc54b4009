#pragma once

// The Linux end of a serial line, for tests that run under Wine: the pty-peer program (started by
// the test script, its TCP port in TORVIN_PTY_PEER_PORT) makes a pseudo-terminal that the prefix
// knows as COMn and plays its far end on request.

#include <chrono>
#include <cstdint>
#include <string>

namespace wintest {

// What the kernel has set on the terminal.
struct KernelSettings {
    int speed = 0;
    int size = 0;
    char parity = '?';
    int stop = 0;
    bool rtscts = false, ixon = false, ixoff = false;
    int xon = 0, xoff = 0;
};

class PtyLine {
public:
    // A fresh terminal as COM<number>.
    explicit PtyLine(int number);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    std::string portName() const { return "COM" + std::to_string(number_); }
    void send(const std::string& bytes);
    // What arrived from the port, until `count` bytes are there or the time is up.
    std::string receive(std::size_t count,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    KernelSettings settings();
    // The far end goes away: the device vanishes.
    void vanish();

private:
    std::string request(const std::string& line);

    int number_;
    std::uintptr_t socket_;
};

} // namespace wintest
