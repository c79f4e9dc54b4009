// Every program answers -h, --help and --version; the two command-line programs read their
// options the same way: the same help layout, the same report of bad usage with status 64.
#include "tests/support/MonitorSimProcess.h"
#include "upload/ProgramVersion.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct Output {
    int status;
    std::string out, err;
};

Output run(const std::string& program, const std::string& arguments) {
    testsupport::TempDir dir;
    Output r{testsupport::runCommand("timeout -k 5 30 " + program + " " + arguments +
                                     " </dev/null >'" + dir.file("out") + "' 2>'" +
                                     dir.file("err") + "'"),
             {},
             {}};
    std::stringstream out, err;
    out << std::ifstream(dir.file("out")).rdbuf();
    err << std::ifstream(dir.file("err")).rdbuf();
    r.out = out.str();
    r.err = err.str();
    return r;
}

TEST(CommandLine, EveryProgramAnswersHelpAndVersionWithoutADisplay) {
    // The window's program too: neither needs a window system, so none is offered.
    std::vector<std::pair<std::string, std::string>> programs = {
        {"torvin-upload", TORVIN_UPLOAD_PATH}, {"monitor-sim", MONITOR_SIM_PATH}};
#ifdef TORVIN_UPDATER_PATH
    programs.emplace_back("torvin-updater", TORVIN_UPDATER_PATH);
#endif
    const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    for (const auto& [name, path] : programs) {
        for (const char* option : {"-h", "--help"}) {
            const Output help = run(noDisplay + path, option);
            EXPECT_EQ(help.status, 0) << name << " " << option << ": " << help.err;
            EXPECT_TRUE(help.out.starts_with("Usage: ")) << help.out;
            EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
        }
        const Output version = run(noDisplay + path, "--version");
        EXPECT_EQ(version.status, 0) << name << ": " << version.err;
        EXPECT_EQ(version.out, name + " " + upload::programVersion() + "\n");
    }
}

TEST(CommandLine, BothToolsShareHelpAndBadUsage) {
    const std::pair<std::string, std::string> programs[] = {{"torvin-upload", TORVIN_UPLOAD_PATH},
                                                            {"monitor-sim", MONITOR_SIM_PATH}};
    for (const auto& [name, path] : programs) {
        const Output help = run(path, "--help");
        EXPECT_TRUE(help.out.starts_with("Usage: " + name + " [OPTION]...\n")) << help.out;
        EXPECT_NE(help.out.find("\n  -h, --help "), std::string::npos) << help.out;

        for (const char* bad : {"stray", "--no-such-option", "--verbose=yes --quiet=yes",
                                "--help=1", "--version=1", "--link"}) {
            const Output r = run(path, bad);
            EXPECT_EQ(r.status, 64) << name << " " << bad << ": " << r.err;
            EXPECT_TRUE(r.err.starts_with(name + ": ")) << r.err;
            EXPECT_TRUE(r.err.ends_with("\nTry '" + name + " --help' for more information.\n"))
                << r.err;
            EXPECT_EQ(r.out, "") << name << " " << bad;
        }
    }
}

// The README's table of exit statuses says what --help says: every status, none more, each with
// what to do.
TEST(CommandLine, TheReadmeListsTheExitStatusesOfTheHelp) {
    auto statuses = [](const std::string& text, const std::regex& row) {
        std::set<int> found;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (!std::regex_search(line, m, row)) continue;
            std::istringstream each(std::regex_replace(m[1].str(), std::regex("/"), " "));
            for (int n; each >> n;)
                found.insert(n);
        }
        return found;
    };
    const Output help = run(TORVIN_UPLOAD_PATH, "--help");
    const std::string helpList = help.out.substr(help.out.find("\nExit status"));
    std::stringstream readme;
    readme << std::ifstream(README_PATH).rdbuf();
    const auto listed = statuses(readme.str(), std::regex("^\\| ([0-9][0-9 /]*) \\|"));
    EXPECT_FALSE(listed.empty());
    EXPECT_EQ(listed, statuses(helpList, std::regex("^  ([0-9]+) ")));
    // Each row says what to do after that outcome, in a third column.
    const auto advised =
        statuses(readme.str(), std::regex("^\\| ([0-9][0-9 /]*) \\|[^|]+\\|[^|]*[a-z][^|]*\\|$"));
    EXPECT_EQ(advised, listed);
}

} // namespace
