#include "tools/monitor-sim/Server.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace monitorsim {
namespace {

timespec until(std::chrono::steady_clock::duration left) {
    if (left.count() < 0) left = {};
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

bool signalArrived(int signalFd) {
    signalfd_siginfo info{};
    return ::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

// Without a line model the two parts of a split answer are still sent apart, so that the host
// really sees two arrivals.
constexpr std::chrono::milliseconds splitGap{1};

} // namespace

Server::Server(const Options& options, PseudoTerminal& terminal, Monitor& monitor, std::FILE* log)
    : options_(options), terminal_(terminal), monitor_(monitor), log_(log) {
    if (options_.baud != 0) {
        byteTime_ = std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(10'000'000'000LL / options_.baud));
        // Answers leave on timers; the kernel's default slack (50 us) would add to every one.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
}

Server::End Server::run(int signalFd) {
    for (;;) {
        if (!waitForHost(signalFd)) return End::signal;
        // Kept answers that fell due while no host held the line went nowhere.
        const Clock::time_point now = Clock::now();
        while (!pending_.empty() && pending_.front().due <= now)
            pending_.pop_front();
        if (options_.verbose) std::fprintf(log_, "monitor-sim: the host opened the line\n");
        const std::uint64_t commandsBefore = monitor_.statistics().commands;
        if (auto end = serveHost(signalFd)) return *end;
        endSession();
        if (options_.verbose) std::fprintf(log_, "monitor-sim: the host closed the line\n");
        if (options_.once && monitor_.statistics().commands > commandsBefore) return End::once;
    }
}

bool Server::waitForHost(int signalFd) {
    for (;;) {
        if (terminal_.hostPresent()) return true;
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {terminal_.openWatch(), POLLIN, 0}};
        // Without a watch on the device, look again every 50 ms.
        const timespec fallback{0, 50'000'000};
        const int n =
            ::ppoll(fds, fds[1].fd >= 0 ? 2 : 1, fds[1].fd >= 0 ? nullptr : &fallback, nullptr);
        if (n < 0 && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "poll");
        if ((fds[0].revents & POLLIN) && signalArrived(signalFd)) return false;
        terminal_.clearOpenWatch();
    }
}

std::optional<Server::End> Server::serveHost(int signalFd) {
    std::uint8_t buffer[4096];
    for (;;) {
        Clock::time_point now = Clock::now();
        if (flushDue(now) == Step::hostGone) return std::nullopt;

        std::optional<Clock::time_point> wake;
        if (!pending_.empty() && !writeBlocked_) wake = pending_.front().due;
        if (stream_.midRecord()) {
            const auto drop = lastInput_ + options_.resync;
            if (now >= drop)
                dropPartialRecord();
            else if (!wake || drop < *wake)
                wake = drop;
        }

        pollfd fds[2] = {
            {signalFd, POLLIN, 0},
            {terminal_.fd(), static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0}};
        timespec timeout{};
        if (wake) timeout = until(*wake - now);
        if (::ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if ((fds[0].revents & POLLIN) && signalArrived(signalFd)) return End::signal;

        const short events = fds[1].revents;
        if (events & POLLOUT) writeBlocked_ = false;
        if (events & POLLIN) {
            const ssize_t n = ::read(terminal_.fd(), buffer, sizeof buffer);
            if (n > 0) {
                const Step step = take(buffer, static_cast<std::size_t>(n), Clock::now());
                if (step == Step::vanished) return End::vanished;
                if (step == Step::hostGone) return std::nullopt;
            } else if (n == 0 || errno == EIO) {
                return std::nullopt; // the last holder of the serial end closed it
            } else if (errno != EAGAIN && errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "read");
            }
        } else if (events & (POLLHUP | POLLERR)) {
            return std::nullopt;
        }
    }
}

void Server::dropPartialRecord() {
    std::fprintf(log_,
                 "monitor-sim: dropped an incomplete record (%zu bytes after ':') after %lld ms "
                 "of silence\n",
                 stream_.partialLength(), static_cast<long long>(options_.resync.count()));
    stream_.reset();
}

Server::Step Server::take(const std::uint8_t* bytes, std::size_t count, Clock::time_point now) {
    // The silence may have passed while this process was not scheduled; judge it on arrival too.
    if (stream_.midRecord() && now - lastInput_ >= options_.resync) dropPartialRecord();
    bytesReceived_ += count;
    lastInput_ = now;
    // Under the line model these bytes cannot have finished arriving before the ones before them.
    Clock::time_point lineTime =
        byteTime_.count() != 0 ? std::max(inboundFree_, arrival(now)) : now;
    if (crossing_ && !stream_.midRecord()) {
        // The next send has begun to arrive: the held answer crosses it on the line.
        answer(crossing_->letter, lineTime + crossing_->after, crossing_->trail);
        crossing_.reset();
    }
    std::size_t offset = 0;
    while (offset < count) {
        RecordStream::Event event;
        const std::size_t used = stream_.feed({bytes + offset, count - offset}, event);
        offset += used;
        lineTime += byteTime_ * static_cast<long>(used);
        if (event.kind == RecordStream::Kind::none) break;

        const bool isCommand = event.kind == RecordStream::Kind::command;
        const Monitor::Outcome outcome =
            isCommand ? monitor_.onCommand() : monitor_.onRecord(event.record);
        stream_.setReceiving(monitor_.receiving());
        note(outcome, isCommand);
        if (outcome.action == Monitor::Action::vanish) {
            terminal_.close();
            return Step::vanished;
        }
        if (outcome.action == Monitor::Action::answer) {
            Clock::time_point ready = lineTime + (isCommand ? Clock::duration{} : recordDelay());
            if (outcome.late.count() > 0) {
                ready = std::max(ready, outboundFree_) + outcome.late;
                busyUntil_ = ready;
            } else if (outcome.stall.count() > 0) {
                ready += outcome.stall;
                busyUntil_ = ready;
            } else if (lineTime < busyUntil_) {
                // Arrived while the board was stalled or still working through what it held: it
                // takes one item at a time, each answer a record's time after the one before.
                ready = std::max(ready, outboundFree_ + stallGap());
                busyUntil_ = ready;
            }
            if (outcome.cross)
                crossing_ = Crossing{outcome.letter, outcome.trail, *outcome.cross};
            else
                answer(outcome.letter, ready, outcome.trail);
        }
    }
    inboundFree_ = lineTime;
    return flushDue(now);
}

Server::Clock::duration Server::recordDelay() {
    if (options_.vary.count() == 0) return options_.delay;
    delayState_ = delayState_ * 1664525u + 1013904223u;
    const auto spread = static_cast<std::uint32_t>(options_.vary.count()) + 1;
    return options_.delay + std::chrono::milliseconds((delayState_ >> 8) % spread);
}

Server::Clock::duration Server::stallGap() const {
    // A record's 22 bytes crossing the line, or a few milliseconds without a line model, so that
    // the answers really arrive apart.
    const Clock::duration line = byteTime_ * 22 + options_.delay;
    return std::max<Clock::duration>(line, std::chrono::milliseconds(10));
}

void Server::answer(char letter, Clock::time_point ready, const std::string& trail) {
    std::string head = options_.noise ? noise() : std::string();
    head += '[';
    std::string tail{letter, ']'};
    if (options_.trailing) tail += "\r\n";
    tail += trail;

    Clock::time_point at = std::max(outboundFree_, ready);
    auto send = [&](std::string bytes) {
        at += byteTime_ * static_cast<long>(bytes.size());
        pending_.push_back({at, std::move(bytes)});
    };
    if (options_.split) {
        send(std::move(head));
        if (byteTime_.count() == 0) at += splitGap;
        send(std::move(tail));
    } else {
        send(head + tail);
    }
    outboundFree_ = at;
}

std::string Server::noise() {
    // Bytes a careless host might take for part of an answer, but never the '[' that starts one.
    static constexpr char palette[] = {'\0', '\xFF', ']', 'N', 'R', '\r', '\n', '?', '\x7F', ' '};
    auto next = [this] {
        noiseState_ = noiseState_ * 1664525u + 1013904223u;
        return noiseState_ >> 24;
    };
    std::string bytes(1 + next() % 4, '\0');
    for (char& c : bytes)
        c = palette[next() % sizeof palette];
    return bytes;
}

Server::Clock::time_point Server::arrival(Clock::time_point now) const {
    if (now <= inboundFree_) return now; // more of what is still crossing the line
    // A new burst from the host. This process saw it late by its own wake-up, which is no line
    // time: the wake-up is taken to be as late as the recent timers typically were (their median:
    // one timer held up by the rest of the machine says little about this wake-up). How late the
    // answer before it was written is not taken out: the host had that answer only then, and
    // cannot have started before.
    auto late = recentLate_;
    std::nth_element(late.begin(), late.begin() + late.size() / 2, late.end());
    return std::max(now - late[late.size() / 2], answerWritten_);
}

Server::Step Server::flushDue(Clock::time_point now) {
    while (!pending_.empty() && !writeBlocked_ && pending_.front().due <= now) {
        // How late this process's timers let answers go: its wake-ups are as late.
        if (byteTime_.count() != 0)
            recentLate_[answers_++ % recentLate_.size()] = now - pending_.front().due;
        std::string& bytes = pending_.front().bytes;
        const ssize_t n = ::write(terminal_.fd(), bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EAGAIN) {
                writeBlocked_ = true; // the host is not reading; wait until it takes more
                break;
            }
            if (errno == EINTR) continue;
            if (errno == EIO) return Step::hostGone;
            throw std::system_error(errno, std::generic_category(), "write");
        }
        bytes.erase(0, static_cast<std::size_t>(n));
        if (bytes.empty()) {
            pending_.pop_front();
            answerWritten_ = Clock::now();
        }
    }
    return Step::goOn;
}

void Server::endSession() {
    monitor_.onHostGone();
    stream_.setReceiving(false);
    stream_.reset();
    writeBlocked_ = false;
    if (options_.keepAnswers) {
        // The board goes on answering what it was sent, whoever listens.
        inboundFree_ = answerWritten_ = {};
    } else {
        pending_.clear();
        crossing_.reset();
        inboundFree_ = outboundFree_ = busyUntil_ = answerWritten_ = {};
    }
    recentLate_.fill({});
    terminal_.discardQueued();
}

void Server::note(const Monitor::Outcome& outcome, bool isCommand) {
    const char* what = isCommand ? "command" : "record";
    char number[16] = "";
    if (!isCommand) std::snprintf(number, sizeof number, " %u", outcome.item);
    if (!outcome.problem.empty()) {
        std::fprintf(log_, "monitor-sim: %s%s refused with [R]: %s\n", what, number,
                     outcome.problem.c_str());
        return;
    }
    if (outcome.action == Monitor::Action::vanish) {
        std::fprintf(log_, "monitor-sim: %s%s arrived; vanishing as --vanish asked\n", what,
                     number);
        return;
    }
    if (!options_.verbose) return;
    if (outcome.action == Monitor::Action::stayQuiet)
        std::fprintf(log_, "monitor-sim: %s%s: no answer (--silent)\n", what, number);
    else
        std::fprintf(log_, "monitor-sim: %s%s: [%c]\n", what, number, outcome.letter);
}

} // namespace monitorsim
