#include "tools/torvin-upload/BatchDisplay.h"

#include <algorithm>

namespace torvinupload {
namespace {

using Clock = std::chrono::steady_clock;

// Columns a text takes on a terminal: UTF-8 continuation bytes take none ("Ã" is two bytes).
std::size_t width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string padded(const std::string& text, std::size_t columns) {
    const std::size_t w = width(text);
    return w >= columns ? text : text + std::string(columns - w, ' ');
}

} // namespace

class BoardLines::Line : public ProgressDisplay {
public:
    Line(BoardLines& lines, std::size_t index) : lines_(lines), index_(index) {}
    void update(const RunProgress& p, Clock::time_point) override {
        lines_.changed(index_, p, false);
    }
    void finish(const RunProgress& p, Clock::time_point) override {
        lines_.changed(index_, p, true);
    }

private:
    BoardLines& lines_;
    std::size_t index_;
};

BoardLines::BoardLines(std::FILE* out, int columns, std::vector<std::string> ports)
    : out_(out), columns_(columns) {
    std::size_t labelWidth = 0;
    for (const auto& port : ports)
        labelWidth = std::max(labelWidth, width(port));
    for (auto& port : ports)
        boards_.push_back({padded(port, labelWidth) + "  ", {}, {}});
}

std::unique_ptr<ProgressDisplay> BoardLines::display(std::size_t index) {
    return std::make_unique<Line>(*this, index);
}

void BoardLines::changed(std::size_t index, const RunProgress& p, bool now) {
    boards_[index].progress = p;
    if (now || !drawn_ || Clock::now() - lastDraw_ >= std::chrono::milliseconds(50)) draw();
}

void BoardLines::setOutcome(std::size_t index, const std::string& text) {
    boards_[index].outcome = text;
    draw();
}

void BoardLines::draw() {
    if (finished_) return;
    const auto now = Clock::now();
    // Back to the block's first line, then every line rewritten and the rest of it cleared.
    if (drawn_) std::fprintf(out_, "\x1b[%zuA", boards_.size());
    for (const Board& b : boards_) {
        const int room = std::max(columns_ - static_cast<int>(width(b.label)), 1);
        std::string text;
        if (!b.outcome.empty())
            text = b.outcome;
        else if (b.progress.total > 0)
            text = TerminalBar::render(b.progress, now, room);
        else
            text = "opening";
        std::fprintf(out_, "\r%s%s\x1b[K\n", b.label.c_str(), text.c_str());
    }
    std::fflush(out_);
    drawn_ = true;
    lastDraw_ = now;
}

void BoardLines::finish() {
    draw();
    finished_ = true;
}

std::string summaryTable(const std::vector<BoardSummary>& boards) {
    std::vector<std::vector<std::string>> rows{
        {"port", "outcome", "records", "re-sends", "refusals", "time"}};
    for (const auto& b : boards)
        rows.push_back({b.port, b.outcome,
                        std::to_string(b.acknowledged) + "/" + std::to_string(b.total),
                        std::to_string(b.resends), std::to_string(b.refusals), clockText(b.time)});
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], width(row[c]));
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            // Counts are right-aligned, texts left-aligned.
            const bool number = c >= 2;
            const std::string cell =
                number ? std::string(widths[c] - width(row[c]), ' ') + row[c] : row[c];
            line += c + 1 == row.size() ? cell : padded(cell, widths[c]) + "  ";
        }
        while (line.ends_with(' '))
            line.pop_back();
        table += line + "\n";
    }
    return table;
}

} // namespace torvinupload
