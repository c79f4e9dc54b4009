#pragma once

// The command-line programs read their options with CLI11, in one shape: options written
// "--name VALUE" or "--name=VALUE", a help text in the GNU layout (usage line, what the program
// does, the options in groups, then the rest), and every bad usage told in one line.

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace toolcommon {

// A command line for `program`: `description` comes under the usage line and `footer` after
// the options; option names take `column` characters before their descriptions.
void setUpCommandLine(CLI::App& app, const std::string& description, const std::string& footer,
                      std::size_t column);

// Reads `arguments` (those after the program's name). Returns the problem in one line, or an
// empty text when they are good; `help` is set when -h or --help was among them, `version` when
// --version was.
std::string parseCommandLine(CLI::App& app, const std::vector<std::string>& arguments, bool& help,
                             bool& version);

// --version: "PROGRAM VERSION" on standard output, the project's one version number.
int printVersion(const std::string& program);

// Bad usage: tells it on standard error in one shape for every program, with the way to the help
// text, and gives the exit status for it, 64.
int usageError(const std::string& program, const std::string& problem);

// A check that refuses an empty value: in a script it means an unset variable, not a choice.
const CLI::Validator& nonEmpty();

} // namespace toolcommon
