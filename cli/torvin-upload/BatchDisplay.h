#pragma once

#include "cli/torvin-upload/ProgressDisplay.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace torvinupload {

// Several boards on one terminal: a block of lines, one per board (its port, then its bar as a
// single board's run draws it, or its outcome once it has ended), redrawn in place. Every line
// keeps within the terminal's `columns`: a name too long is shortened in its middle, keeping the
// end that tells it from the others. Redrawn at most every 50 ms, whichever board changed: sixteen
// fast lines would otherwise flood the terminal.
class BoardLines {
public:
    BoardLines(std::FILE* out, int columns, std::vector<std::string> ports);

    // The progress display that feeds board `index`'s line.
    std::unique_ptr<ProgressDisplay> display(std::size_t index);
    // Board `index` has ended: its line says how from now on.
    void setOutcome(std::size_t index, const std::string& text);
    // Draws the block a last time and leaves the cursor below it.
    void finish();

private:
    class Line;
    struct Board {
        std::string label;
        RunProgress progress;
        std::string outcome;
    };
    void changed(std::size_t index, const RunProgress& p, bool now);
    std::size_t lineLimit() const;
    void draw();

    std::FILE* out_;
    int columns_;
    std::vector<Board> boards_;
    bool drawn_ = false;
    bool finished_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// One board's line in the table printed at the end of a batch.
struct BoardSummary {
    std::string port;
    std::string outcome;
    std::int32_t acknowledged = 0;
    std::int32_t total = 0;
    std::int32_t resends = 0;
    std::int32_t refusals = 0;
    std::chrono::steady_clock::duration time{};
};

// The table: a heading and one line per board, columns aligned as a terminal shows them. On a
// terminal of `columns` columns (0: not a terminal, no limit) that cannot hold those lines, each
// board takes two: its port, then its outcome and counts indented below.
std::string summaryTable(const std::vector<BoardSummary>& boards, int columns = 0);

} // namespace torvinupload
