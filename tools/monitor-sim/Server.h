#pragma once

#include "tools/monitor-sim/Monitor.h"
#include "tools/monitor-sim/Options.h"
#include "tools/monitor-sim/PseudoTerminal.h"
#include "tools/monitor-sim/RecordStream.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

namespace monitorsim {

// Serves one host after another on the pseudo-terminal: reads what the host sends in chunks,
// cuts it into commands and records, lets the Monitor decide, and sends the answers at the time
// the line model says. Waiting never spins: it blocks in ppoll on the terminal, the signal
// descriptor and (between hosts) the watch for the next open.
class Server {
public:
    enum class End { signal, once, vanished };

    Server(const Options& options, PseudoTerminal& terminal, Monitor& monitor, std::FILE* log);

    // Runs until a signal arrives on signalFd, --once is done, or --vanish is played.
    // Throws std::system_error when the terminal fails in a way no host could cause.
    End run(int signalFd);

    std::uint64_t bytesReceived() const { return bytesReceived_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        std::string bytes;
    };
    enum class Step { goOn, hostGone, vanished };

    bool waitForHost(int signalFd);
    std::optional<End> serveHost(int signalFd);
    Step take(const std::uint8_t* bytes, std::size_t count, Clock::time_point now);
    Step flushDue(Clock::time_point now);
    // When bytes read at `now` began to cross the line, this process's own lateness taken out.
    Clock::time_point arrival(Clock::time_point now) const;
    void answer(char letter, Clock::time_point ready, const std::string& trail = {});
    Clock::duration stallGap() const;
    // The board's own time over one record: --delay-ms, and --vary-ms more or less of it.
    Clock::duration recordDelay();
    std::string noise();
    void endSession();
    void dropPartialRecord();
    void note(const Monitor::Outcome& outcome, bool isCommand);

    const Options& options_;
    PseudoTerminal& terminal_;
    Monitor& monitor_;
    std::FILE* log_;
    RecordStream stream_;
    std::deque<Pending> pending_;
    bool writeBlocked_ = false;
    Clock::duration byteTime_{0};
    Clock::time_point inboundFree_{};  // when the host's bytes so far have crossed the line
    Clock::time_point outboundFree_{}; // when the answers so far have crossed the line
    Clock::time_point lastInput_{};
    Clock::time_point busyUntil_{};     // a --stall, and the items held during it, keep it busy
    Clock::time_point answerWritten_{}; // when the last answer was really written
    std::array<Clock::duration, 16> recentLate_{}; // how late the latest answers went out
    // An answer held until the next send begins to arrive (--cross).
    struct Crossing {
        char letter;
        std::string trail;
        Clock::duration after;
    };
    std::optional<Crossing> crossing_;
    std::size_t answers_ = 0;
    std::uint64_t bytesReceived_ = 0;
    std::uint32_t noiseState_ = 0x2545F491;
    std::uint32_t delayState_ = 0x9E3779B9;
};

} // namespace monitorsim
