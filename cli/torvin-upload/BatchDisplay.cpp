#include "cli/torvin-upload/BatchDisplay.h"

#include "upload/Outcome.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>

namespace torvinupload {
namespace {

using Clock = std::chrono::steady_clock;

bool continuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Columns a text takes on a terminal: UTF-8 continuation bytes take none ("Ã" is two bytes).
std::size_t width(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !continuationByte(c); }));
}

// The byte where column `column` of `text` begins (the text's size past its end).
std::size_t byteAt(std::string_view text, std::size_t column) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (continuationByte(text[at])) continue;
        if (seen++ == column) break;
    }
    return at;
}

std::string firstColumns(std::string_view text, std::size_t columns) {
    return std::string(text.substr(0, byteAt(text, columns)));
}

std::string lastColumns(std::string_view text, std::size_t columns) {
    const std::size_t w = width(text);
    return std::string(columns >= w ? text : text.substr(byteAt(text, w - columns)));
}

std::string padded(const std::string& text, std::size_t columns) {
    const std::size_t w = width(text);
    return w >= columns ? text : text + std::string(columns - w, ' ');
}

const std::string ellipsis = "\u2026";

// `text` in at most `columns` columns, its end cut off and marked when it does not fit.
std::string fitted(const std::string& text, std::size_t columns) {
    if (width(text) <= columns) return text;
    if (columns == 0) return {};
    return firstColumns(text, columns - 1) + ellipsis;
}

// Where `name` starts to differ from the most alike of `names` (its first column when it is the
// only one): what lies from there to its end tells it apart.
std::size_t distinctFrom(const std::string& name, const std::vector<std::string>& names) {
    std::size_t from = 0;
    for (const auto& other : names) {
        if (&other == &name || other == name) continue;
        const auto [a, b] = std::mismatch(name.begin(), name.end(), other.begin(), other.end());
        from = std::max(from, width(std::string_view(name).substr(0, a - name.begin())));
    }
    return from;
}

// `name` in at most `columns` columns: whole when it fits, otherwise its start, "…" and its end,
// the end long enough to hold what tells it apart from `names` (devices by id differ in their
// last characters) and two thirds of the room at least.
std::string shortened(const std::string& name, const std::vector<std::string>& names,
                      std::size_t columns) {
    const std::size_t w = width(name);
    if (w <= columns) return name;
    if (columns < 2) return lastColumns(name, columns);
    const std::size_t keep = columns - 1;
    const std::size_t tail = std::min(keep, std::max(w - distinctFrom(name, names), keep * 2 / 3));
    return firstColumns(name, keep - tail) + ellipsis + lastColumns(name, tail);
}

// `text` in lines of at most `columns` columns, broken between words; a word of marks alone ("!")
// stays with the word before it, and a word longer than a line is cut.
std::vector<std::string> wrapped(const std::string& text, std::size_t columns) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        const bool marks = std::none_of(word.begin(), word.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return std::isalnum(u) || u >= 0x80; // letters beyond ASCII count as letters
        });
        if (marks && !words.empty())
            words.back() += " " + word;
        else
            words.push_back(word);
    }
    std::vector<std::string> lines;
    std::string line;
    for (std::string word : words) {
        while (columns > 0 && width(word) > columns) {
            if (!line.empty()) lines.push_back(std::move(line));
            line.clear();
            lines.push_back(firstColumns(word, columns));
            word = lastColumns(word, width(word) - columns);
        }
        if (line.empty()) {
            line = word;
        } else if (width(line) + 1 + width(word) <= columns) {
            line += " " + word;
        } else {
            lines.push_back(std::move(line));
            line = word;
        }
    }
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
}

constexpr std::size_t gap = 2;

// The columns a port's name may take on a line of `limit` columns: what leaves room beside it for
// the longest of the board's outcomes, so that each reads whole, but a third of the line at least.
// A failure's own words are as long as they are: those wrap.
std::size_t nameRoom(std::size_t limit) {
    std::size_t outcome = 0;
    for (const upload::RunOutcome o : upload::everyRunOutcome)
        outcome = std::max(outcome, width(upload::outcomeWords(o, 0)));
    return std::max({limit > outcome + gap ? limit - outcome - gap : 0, limit / 3, std::size_t{8}});
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
    // A line that wraps breaks the redraw in place (it moves up one line per board), so every
    // line keeps within the terminal, the last column left free: long names are shortened.
    const std::size_t room = nameRoom(lineLimit());
    std::vector<std::string> labels;
    std::size_t labelWidth = 0;
    for (const auto& port : ports) {
        labels.push_back(shortened(port, ports, room));
        labelWidth = std::max(labelWidth, width(labels.back()));
    }
    for (const auto& label : labels)
        boards_.push_back({padded(label, labelWidth) + "  ", {}, {}});
}

std::size_t BoardLines::lineLimit() const {
    return static_cast<std::size_t>(std::max(columns_ - 1, 1));
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
        const std::size_t limit = lineLimit();
        const std::size_t used = std::min(width(b.label), limit);
        const std::size_t room = limit - used;
        std::string text;
        if (!b.outcome.empty())
            text = b.outcome;
        else if (b.progress.total > 0)
            text = TerminalBar::render(b.progress, now, static_cast<int>(room) + 1);
        else
            text = "opening";
        // Whatever the outcome says (a port's error may be long), it ends at the line's end; the
        // whole text follows on standard error and in the table.
        std::fprintf(out_, "\r%s%s\x1b[K\n", fitted(b.label, limit).c_str(),
                     fitted(text, room).c_str());
    }
    std::fflush(out_);
    drawn_ = true;
    lastDraw_ = now;
}

void BoardLines::finish() {
    draw();
    finished_ = true;
}

std::string summaryTable(const std::vector<BoardSummary>& boards, int columns) {
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
    // Counts are right-aligned, texts left-aligned; the outcome may run over several lines.
    auto line = [&](const std::vector<std::string>& cells, std::size_t first) {
        std::string text;
        for (std::size_t c = first; c < cells.size(); ++c) {
            const bool number = c >= 2;
            const std::string cell =
                number ? std::string(widths[c] - width(cells[c]), ' ') + cells[c] : cells[c];
            text += c + 1 == cells.size() ? cell : padded(cell, widths[c]) + "  ";
        }
        while (text.ends_with(' '))
            text.pop_back();
        return text + "\n";
    };

    std::size_t total = gap * (widths.size() - 1);
    for (std::size_t w : widths)
        total += w;
    const std::size_t limit = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
    std::string table;
    if (limit == 0 || total <= limit) {
        for (const auto& row : rows)
            table += line(row, 0);
        return table;
    }

    // Too wide for the terminal: each port on a line of its own (shortened only when even that
    // line cannot hold it), its outcome and counts indented below it, the outcome broken between
    // words when it does not fit.
    const std::string indent(gap, ' ');
    std::size_t counts = 0;
    for (std::size_t c = 2; c < widths.size(); ++c)
        counts += widths[c] + gap;
    widths[1] = std::min(
        widths[1], std::max<std::size_t>(limit > gap + counts ? limit - gap - counts : 0, 12));
    std::vector<std::string> ports;
    for (const auto& b : boards)
        ports.push_back(b.port);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        table += shortened(rows[r][0], ports, limit) + "\n";
        const std::vector<std::string> parts = wrapped(rows[r][1], widths[1]);
        std::vector<std::string> cells = rows[r];
        for (std::size_t p = 0; p < parts.size(); ++p) {
            cells[1] = parts[p];
            if (p == 1) std::fill(cells.begin() + 2, cells.end(), std::string());
            table += indent + line(cells, 1);
        }
    }
    return table;
}

} // namespace torvinupload
