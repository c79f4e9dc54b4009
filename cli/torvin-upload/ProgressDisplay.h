#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace torvinupload {

// A run's progress as the window's counters show it, and what happened on the way.
struct RunProgress {
    using Clock = std::chrono::steady_clock;

    std::int32_t total = 0;    // Label2: records in the image
    std::int32_t record = 0;   // the record being sent (0 while the command waits)
    int percent = 0;           // ProgressBar1
    std::int32_t attempt = 0;  // Label4: the latest re-send was send number `attempt` of its item
    std::int32_t resends = 0;  // re-sends after silence, in the whole run
    std::int32_t refusals = 0; // "[R]" replies, in the whole run
    std::int32_t restarts = 0; // "[L]" replies (back to record 1), in the whole run
    Clock::time_point started{};
    Clock::time_point paceStarted{}; // when record 1 went out first, or after the latest "[L]"
};

// "m:ss", or "h:mm:ss" past an hour.
std::string clockText(std::chrono::steady_clock::duration d);
// Time still to go at the pace so far; nothing before the first record is acknowledged.
std::string remainingText(const RunProgress& p, std::chrono::steady_clock::time_point now);

// Shows a run's progress while it goes on; `update` is called after each change of a counter,
// `finish` once, before the outcome is printed.
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    virtual void update(const RunProgress& p, std::chrono::steady_clock::time_point now) = 0;
    virtual void finish(const RunProgress& p, std::chrono::steady_clock::time_point now) = 0;
};

// One line redrawn in place on a terminal: a bar, the percentage, the record, the elapsed and the
// remaining time, and the re-sends and refusals when there are any; on a narrow terminal the
// figures shorten and the least needed go, never cut in the middle of a word. Redrawn at most every
// 50 ms (a fast line acknowledges records far quicker than anyone reads), and always when a re-send
// or a refusal is counted.
class TerminalBar : public ProgressDisplay {
public:
    TerminalBar(std::FILE* out, int columns);
    void update(const RunProgress& p, std::chrono::steady_clock::time_point now) override;
    void finish(const RunProgress& p, std::chrono::steady_clock::time_point now) override;

    // The line as drawn, without the carriage return; at most `columns` - 1 characters.
    static std::string render(const RunProgress& p, std::chrono::steady_clock::time_point now,
                              int columns);

private:
    void draw(const RunProgress& p, std::chrono::steady_clock::time_point now);

    std::FILE* out_;
    int columns_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::int32_t lastResends_ = 0;
    std::int32_t lastRefusals_ = 0;
};

// Plain lines for a log: the first record, every tenth of the image, the last record, and every
// re-send, refusal and restart as it happens; each line starts with `prefix` (the port's name
// when several boards share the output).
class ProgressLines : public ProgressDisplay {
public:
    explicit ProgressLines(std::FILE* out, std::string prefix = {})
        : out_(out), prefix_(std::move(prefix)) {}
    void update(const RunProgress& p, std::chrono::steady_clock::time_point now) override;
    void finish(const RunProgress&, std::chrono::steady_clock::time_point) override {}

private:
    std::FILE* out_;
    std::string prefix_;
    std::int32_t lastRecord_ = 0;
    int lastTenth_ = 0;
    std::int32_t lastResends_ = 0;
    std::int32_t lastRefusals_ = 0;
    std::int32_t lastRestarts_ = 0;
    bool refusedSinceResend_ = false; // the board's latest word on this item was "[R]"
};

class NoProgress : public ProgressDisplay {
public:
    void update(const RunProgress&, std::chrono::steady_clock::time_point) override {}
    void finish(const RunProgress&, std::chrono::steady_clock::time_point) override {}
};

} // namespace torvinupload
