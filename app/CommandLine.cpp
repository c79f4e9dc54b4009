#include "app/CommandLine.h"

#include "upload/ProgramVersion.h"

namespace app {

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help" || a == "-?") return {CommandLine::Help, {}, {}};
        if (a == "-v" || a == "--version") return {CommandLine::Version, {}, {}};
        if (a == "--port" || a == "-port") {
            if (i + 1 == args.size())
                return {CommandLine::Fail, {}, "Missing value after '" + a + "'."};
            result.port = args[++i];
        } else if (a.starts_with("--port=")) {
            result.port = a.substr(7);
        } else if (a.starts_with("-")) {
            return {CommandLine::Fail,
                    {},
                    "Unknown option '" + a.substr(a.find_first_not_of('-')) + "'."};
        } else {
            return {CommandLine::Fail, {}, "Unexpected argument '" + a + "'."};
        }
    }
    return result;
}

std::string helpText() {
    return std::string("Usage: ") + programName + " [options]\n" + programDescription +
           "\n\nOptions:\n"
           "  -?, -h, --help  Displays help on commandline options.\n"
           "  -v, --version   Displays version information.\n"
           "  --port <NAME>   " +
           portOptionHelp + "\n";
}

std::string versionText() {
    return std::string(programName) + " " + upload::programVersion() + "\n";
}

} // namespace app
