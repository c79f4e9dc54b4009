#pragma once

// The window's options: --port NAME, -h/--help, -v/--version. The Qt program reads them with
// Qt's parser, which adds Qt's own options; the Win32 program with parseCommandLine(). Both show
// the texts below.

#include <string>
#include <vector>

namespace app {

inline constexpr const char* programName = "torvin-updater";
inline constexpr const char* programDescription =
    "Writes the firmware into a Torvin04/05 board through its Monitor.";
inline constexpr const char* portOptionHelp =
    "Adds NAME (a device path or COMn) to the port list and selects it.";

struct CommandLine {
    enum Action { Run, Help, Version, Fail };
    Action action = Run;
    std::string port;  // empty: none given
    std::string error; // for Fail: what is wrong, one line
};

// `args` are the arguments after the program's name. The last --port wins; -h or -v anywhere
// answer at once, as Qt's parser does.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The answers to --help and --version, each ending with a line feed.
std::string helpText();
std::string versionText();

// Exit statuses: 0 after --help and --version and when the window closes, 1 for a bad option.
inline constexpr int exitBadOption = 1;

} // namespace app
