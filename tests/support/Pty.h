#pragma once

// A pseudo-terminal pair for tests: the port under test opens the terminal end by its path and
// the test plays the far end of the line through the controller end.

#include <chrono>
#include <string>

namespace testsupport {

class PtyPair {
public:
    // With keepTerminalOpen false nothing but the port under test holds the terminal end.
    explicit PtyPair(bool keepTerminalOpen = true);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The terminal end's path, as a port name.
    const std::string& path() const { return path_; }
    int controller() const { return controller_; }

    // The far end writes bytes onto the line.
    void send(const std::string& bytes);
    // Reads what arrived from the port until `count` bytes are there or the time is up.
    std::string receive(std::size_t count,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    // Everything that has arrived so far, without waiting.
    std::string drain();
    // The far end goes away.
    void closeController();
    // The terminal end's settings as the kernel reports them (struct termios, via a copy).
    bool terminalSettings(void* termiosOut) const;

private:
    int controller_ = -1;
    int terminal_ = -1; // kept open (by default) so the line stays up while the port is closed
    std::string path_;
};

} // namespace testsupport
