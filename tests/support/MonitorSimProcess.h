#pragma once

#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// One monitor-sim process: started with the given arguments, its serial path read from the first
// line of its standard output, its standard error kept in a file. The destructor stops it (SIGTERM,
// then SIGKILL if it does not go), so that no test leaves one behind.
class MonitorSimProcess {
public:
    MonitorSimProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~MonitorSimProcess();
    MonitorSimProcess(const MonitorSimProcess&) = delete;
    MonitorSimProcess& operator=(const MonitorSimProcess&) = delete;

    // Empty if the program printed no path (it failed to start); errorOutput() then says why.
    const std::string& serialPath() const { return serialPath_; }
    pid_t pid() const { return pid_; }

    // Sends SIGTERM and waits; returns the exit status (or 128 + signal number).
    int stop();
    // Waits for the process to end on its own; nullopt if it has not after `limit` (it runs on).
    std::optional<int> waitForExit(std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::string errorOutput() const;
    // Waits until its standard error (--verbose logs every item) holds `text` at least `times`
    // times; false if it does not within `limit`.
    bool waitForLog(std::string_view text, int times = 1,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int out_ = -1; // the read end of its standard output
    std::optional<int> status_;
    std::string serialPath_;
};

// The uploader's side of the line for tests: the serial end opened raw.
class HostLine {
public:
    explicit HostLine(const std::string& path);
    ~HostLine();
    HostLine(const HostLine&) = delete;
    HostLine& operator=(const HostLine&) = delete;

    void send(std::string_view bytes);
    void send(const std::vector<std::uint8_t>& bytes);
    // Reads until `count` bytes have arrived, the line hangs up, or `limit` passes; returns what
    // arrived.
    std::string receive(std::size_t count,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reads until the bytes received end with `ending` (or hang-up, or `limit`).
    std::string receiveThrough(std::string_view ending,
                               std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Waits until bytes wait to be read, without reading them; false if none come within `limit`.
    bool waitReadable(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // True once the other end has gone away.
    bool hungUp() const { return hungUp_; }
    void close();

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

// A record as it goes on the wire: ':' and the raw bytes, checksum appended.
std::vector<std::uint8_t> wireRecord(std::uint16_t address, std::uint8_t type,
                                     const std::vector<std::uint8_t>& data);
// The same record as an Intel HEX text line (upper-case digits, no line end).
std::string hexLine(std::uint16_t address, std::uint8_t type,
                    const std::vector<std::uint8_t>& data);

// Runs a shell command line; returns its exit status.
int runCommand(const std::string& commandLine);

// A shell command line run beside the test (sh -c, so `exec` in it makes the command's own
// process the one signal() reaches). The destructor kills what still runs.
class BackgroundCommand {
public:
    explicit BackgroundCommand(const std::string& commandLine);
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

    void signal(int number) const;
    // Waits for it to end; its exit status (or 128 + signal number).
    int wait();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

} // namespace testsupport
