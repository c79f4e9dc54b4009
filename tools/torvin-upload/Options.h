#pragma once

#include <optional>
#include <string>
#include <vector>

namespace torvinupload {

// What the command line asks for.
struct Options {
    std::string port = "COM1";
    bool quiet = false;
    bool trace = false;
    bool dumpImage = false;
    bool listPorts = false;
    bool help = false;
    std::optional<std::string> imageFile; // another Intel HEX image instead of the embedded one
};

struct ParsedOptions {
    Options options;
    std::string error; // empty when the command line is good
};

// Reads the arguments after the program's name. "--opt VALUE" and "--opt=VALUE" are both taken;
// each option is given once at most.
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The text --help prints.
std::string usageText();

} // namespace torvinupload
