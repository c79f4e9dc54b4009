#include "cli/torvin-upload/ProgressDisplay.h"

#include <algorithm>
#include <iterator>

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
    // The pace counts from record 1: not the listening before the command, and after "[L]" the
    // board takes the records from 1 again.
    const auto elapsed = now - std::max(p.started, p.paceStarted);
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
    // Everything must fit on one line (the last column left free, so that the terminal does not
    // wrap) and no word may be cut: the figures shorten, then the least needed go whole.
    const int limit = std::max(columns - 1, 1);
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", std::clamp(p.percent, 0, 999));
    const std::string total = std::to_string(p.total);
    char padded[48];
    std::snprintf(padded, sizeof padded, "  record %*d of %d", static_cast<int>(total.size()),
                  p.record, p.total);
    const std::string recordLong = padded;
    const std::string recordShort = "  " + std::to_string(p.record) + "/" + total;
    const std::string left = remainingText(p, now) + " left";
    const std::string timeLong = "  " + clockText(now - p.started) + " elapsed, " + left;
    const std::string timeShort = "  " + left;
    const std::string news = counters(p);

    const std::string tails[] = {
        percent + recordLong + timeLong + news,   percent + recordShort + timeLong + news,
        percent + recordShort + timeShort + news, percent + recordShort + news,
        percent + recordShort + timeShort,        percent + recordShort,
    };
    constexpr int minBar = 10, maxBar = 40;
    const std::string* tail = &tails[std::size(tails) - 1];
    for (const std::string& t : tails) {
        if (static_cast<int>(t.size()) + 2 + minBar <= limit) {
            tail = &t;
            break;
        }
    }
    // The bar takes what the text leaves of the line, within sensible bounds; on a very narrow
    // terminal it shrinks further, and goes when even that does not fit.
    const int room = limit - static_cast<int>(tail->size()) - 2;
    if (room < 3) return tail->size() <= static_cast<std::size_t>(limit) ? *tail : percent;
    const int width = std::min(room, maxBar);
    const int filled = std::clamp(p.percent, 0, 100) * width / 100;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "]" + *tail;
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
        std::fprintf(out_, "%s%s  %s\n", prefix_.c_str(), clockText(now - p.started).c_str(),
                     text.c_str());
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
