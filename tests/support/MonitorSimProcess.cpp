#include "tests/support/MonitorSimProcess.h"

#include "frontend/OwedFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

MonitorSimProcess::MonitorSimProcess(const std::string& program,
                                     const std::vector<std::string>& arguments) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string errorFile = dir_.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int spawned =
        ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }

    // The first line is the path; read it byte by byte so nothing after it is taken.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::string line;
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) break;
        char c;
        if (::read(out[0], &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    // Kept open while the program runs: what it writes after the line (--help's rest) must not
    // end it with SIGPIPE.
    out_ = out[0];
    serialPath_ = line;
    // A new board owes nothing, whatever an earlier test's board on a terminal of the same name
    // left word of for the uploaders.
    if (serialPath_.starts_with("/")) upload::frontend::OwedFile().keep(serialPath_, {});
}

MonitorSimProcess::~MonitorSimProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(std::chrono::seconds(5))) {
            ::kill(pid_, SIGKILL);
            int raw = 0;
            ::waitpid(pid_, &raw, 0);
        }
    }
    ::close(out_);
}

int MonitorSimProcess::stop() {
    if (!status_) ::kill(pid_, SIGTERM);
    if (auto status = waitForExit()) return *status;
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = statusOf(raw);
    return *status_;
}

std::optional<int> MonitorSimProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!status_) {
        int raw = 0;
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = statusOf(raw);
            break;
        }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

std::string MonitorSimProcess::errorOutput() const {
    std::ifstream file(dir_.file("stderr"));
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

HostLine::HostLine(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios mode{};
    ::tcgetattr(fd_, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(fd_, TCSANOW, &mode);
}

HostLine::~HostLine() {
    close();
}

void HostLine::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void HostLine::send(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 1000);
        } else if (n < 0 && errno != EINTR) {
            throw std::runtime_error("write to the simulator failed");
        }
    }
}

void HostLine::send(const std::vector<std::uint8_t>& bytes) {
    send(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool HostLine::waitReadable(std::chrono::milliseconds limit) const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) > 0 && (p.revents & POLLIN);
}

std::string HostLine::receive(std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::string got;
    while (got.size() < count && !hungUp_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) break;
        char buffer[256];
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0)
            got.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            hungUp_ = true;
    }
    return got;
}

std::string HostLine::receiveThrough(std::string_view ending, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::string got;
    while (!got.ends_with(ending) && !hungUp_ && Clock::now() < deadline)
        got += receive(1, std::chrono::milliseconds(remainingMs(deadline)));
    return got;
}

std::vector<std::uint8_t> wireRecord(std::uint16_t address, std::uint8_t type,
                                     const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(data.size() + 6);
    for (std::uint8_t b :
         {std::uint8_t{':'}, static_cast<std::uint8_t>(data.size()),
          static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF), type})
        bytes.push_back(b);
    for (std::uint8_t b : data)
        bytes.push_back(b);
    unsigned sum = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        sum += bytes[i];
    bytes.push_back(static_cast<std::uint8_t>(-sum & 0xFF));
    return bytes;
}

std::string hexLine(std::uint16_t address, std::uint8_t type,
                    const std::vector<std::uint8_t>& data) {
    const std::vector<std::uint8_t> bytes = wireRecord(address, type, data);
    std::string line = ":";
    char pair[3];
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        line += pair;
    }
    return line;
}

int runCommand(const std::string& commandLine) {
    return statusOf(std::system(commandLine.c_str()));
}

bool MonitorSimProcess::waitForLog(std::string_view text, int times,
                                   std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const std::string log = errorOutput();
        int found = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        if (found >= times) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

BackgroundCommand::BackgroundCommand(const std::string& commandLine) {
    std::string line = commandLine;
    char sh[] = "/bin/sh", dashC[] = "-c";
    char* argv[] = {sh, dashC, line.data(), nullptr};
    if (::posix_spawn(&pid_, sh, nullptr, nullptr, argv, environ) != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start /bin/sh for: " + commandLine);
    }
}

BackgroundCommand::~BackgroundCommand() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

void BackgroundCommand::signal(int number) const {
    if (pid_ > 0 && !status_) ::kill(pid_, number);
}

int BackgroundCommand::wait() {
    if (!status_) {
        int raw = 0;
        while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        status_ = statusOf(raw);
    }
    return *status_;
}

} // namespace testsupport
