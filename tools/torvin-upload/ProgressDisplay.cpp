#include "tools/torvin-upload/ProgressDisplay.h"

#include <algorithm>

namespace torvinupload {

using Clock = std::chrono::steady_clock;

std::string clockText(Clock::duration d) {
    const auto total =
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(d).count());
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

std::string remainingText(const RunProgress& p, Clock::time_point now) {
    // Record n is being sent, so n - 1 are done.
    const std::int32_t done = p.record - 1;
    if (done < 1 || p.total <= 0) return "--:--";
    const auto elapsed = now - p.started;
    return clockText(elapsed * (p.total - done) / done);
}

namespace {

std::string counters(const RunProgress& p) {
    std::string text;
    auto add = [&](std::int32_t n, const char* what) {
        if (n == 0) return;
        text += text.empty() ? "  (" : ", ";
        text += std::to_string(n) + " " + what;
    };
    add(p.resends, "re-sent");
    add(p.refusals, "refused");
    add(p.restarts, "restarted");
    if (!text.empty()) text += ")";
    return text;
}

} // namespace

TerminalBar::TerminalBar(std::FILE* out, int columns) : out_(out), columns_(columns) {}

std::string TerminalBar::render(const RunProgress& p, Clock::time_point now, int columns) {
    char figures[128];
    std::snprintf(figures, sizeof figures, " %3d%%  record %*d of %d  %s elapsed, %s left",
                  p.percent, static_cast<int>(std::to_string(p.total).size()), p.record, p.total,
                  clockText(now - p.started).c_str(), remainingText(p, now).c_str());
    const std::string tail = std::string(figures) + counters(p);

    // The bar takes what the text leaves of the line, within sensible bounds.
    const int room = columns - 1 - static_cast<int>(tail.size()) - 2;
    const int width = std::clamp(room, 10, 40);
    const int filled = std::clamp(p.percent, 0, 100) * width / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(width - filled), '.') + "]" + tail;
    if (columns > 1 && line.size() > static_cast<std::size_t>(columns - 1))
        line.resize(static_cast<std::size_t>(columns - 1));
    return line;
}

void TerminalBar::draw(const RunProgress& p, Clock::time_point now) {
    // Carriage return, the line, then clear whatever a longer earlier line left behind.
    std::fprintf(out_, "\r%s\x1b[K", render(p, now, columns_).c_str());
    std::fflush(out_);
    drawn_ = true;
    lastDraw_ = now;
    lastResends_ = p.resends;
    lastRefusals_ = p.refusals;
}

void TerminalBar::update(const RunProgress& p, Clock::time_point now) {
    const bool news = p.resends != lastResends_ || p.refusals != lastRefusals_;
    if (!drawn_ || news || now - lastDraw_ >= std::chrono::milliseconds(50)) draw(p, now);
}

void TerminalBar::finish(const RunProgress& p, Clock::time_point now) {
    if (!drawn_) return;
    draw(p, now);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ProgressLines::update(const RunProgress& p, Clock::time_point now) {
    auto line = [&](const std::string& text) {
        std::fprintf(out_, "%s  %s\n", clockText(now - p.started).c_str(), text.c_str());
    };
    const std::string item = p.record == 0 ? std::string("programming-mode command")
                                           : "record " + std::to_string(p.record);

    if (p.restarts != lastRestarts_) {
        line("the board asked to start again: record 1 of " + std::to_string(p.total));
        lastTenth_ = 0;
    } else if (p.record != lastRecord_ && p.record > 0) {
        const int tenth = p.total > 0 ? static_cast<int>(std::int64_t{p.record} * 10 / p.total) : 0;
        if (p.record == 1 || p.record == p.total || tenth != lastTenth_)
            line("record " + std::to_string(p.record) + " of " + std::to_string(p.total) + " (" +
                 std::to_string(p.percent) + "%)");
        lastTenth_ = tenth;
    }
    if (p.record != lastRecord_) refusedSinceResend_ = false;
    if (p.resends != lastResends_) {
        // After "[R]" to the command the board did answer; what went unanswered was the empty
        // record the refusal is met with, and the command goes again.
        const char* why =
            refusedSinceResend_ ? "refused, sending again" : "no answer, sending again";
        line(item + ": " + why + " (send " + std::to_string(p.attempt) + " of 5)");
        refusedSinceResend_ = false;
    }
    if (p.refusals != lastRefusals_) {
        line(item + ": refused by the board (\"[R]\")");
        refusedSinceResend_ = p.record == 0;
    }
    std::fflush(out_);

    lastRecord_ = p.record;
    lastResends_ = p.resends;
    lastRefusals_ = p.refusals;
    lastRestarts_ = p.restarts;
}

} // namespace torvinupload
