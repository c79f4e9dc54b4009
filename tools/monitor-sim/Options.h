#pragma once

#include "tools/monitor-sim/Monitor.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace monitorsim {

struct Options {
    std::string linkPath;
    std::string savePath;
    Faults faults;
    bool noise = false;
    bool split = false;
    bool trailing = false;
    std::uint32_t baud = 0; // 0: no line model, bytes move at once
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds vary{0}; // each record's delay is `delay` plus up to this much
    bool keepAnswers = false;          // answers still owed outlive the host's close
    std::chrono::milliseconds resync{500};
    bool once = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// The outcome of reading the command line: the options, or the text of a usage error.
struct ParsedOptions {
    Options options;
    std::string error;
};

ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string usageText();

} // namespace monitorsim
