#pragma once

#include <optional>
#include <string>
#include <vector>

namespace torvinupload {

// What the command line asks for.
struct Options {
    std::vector<std::string> ports; // each --port in order; none means COM1
    bool quiet = false;
    bool trace = false;
    bool dumpImage = false;
    bool listPorts = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> imageFile; // another Intel HEX image instead of the embedded one
    std::optional<std::string> logFile;   // where each board's run is recorded, one JSON line
};

struct ParsedOptions {
    Options options;
    std::string error; // empty when the command line is good
};

// Reads the arguments after the program's name. "--opt VALUE" and "--opt=VALUE" are both taken;
// each option is given once at most, but --port once per board.
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string usageText();

} // namespace torvinupload
