// torvin-upload flashing several simulated boards in one command, with a run log: each board's
// outcome, memory and log line, and the exit status of the whole.
#include "tests/support/MonitorSimProcess.h"
#include "tests/support/Pty.h"
#include "tests/support/TextFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/ioctl.h>
#include <thread>

using testsupport::BackgroundCommand;
using testsupport::MonitorSimProcess;
using testsupport::runCommand;
using testsupport::TempDir;

using testsupport::contains;
using testsupport::readFile;

namespace {

struct Board {
    TempDir dir;
    std::string saved = dir.file("board.hex");
    std::unique_ptr<MonitorSimProcess> sim;

    explicit Board(std::vector<std::string> faults = {}) {
        faults.insert(faults.end(), {"--save", saved});
        sim = std::make_unique<MonitorSimProcess>(MONITOR_SIM_PATH, faults);
        if (sim->serialPath().empty())
            throw std::runtime_error("monitor-sim did not start: " + sim->errorOutput());
    }
    const std::string& path() const { return sim->serialPath(); }
    bool holdsExactly(const std::string& image) {
        sim->stop();
        return runCommand("srec_cmp '" + saved + "' -intel '" + image + "' -intel >/dev/null") == 0;
    }
};

struct Result {
    int status = -1;
    std::string out, err;
};

// `output` receives standard output when given (a terminal, say).
Result upload(const std::string& arguments, const std::string& output = "") {
    TempDir dir;
    Result r;
    r.status = runCommand("timeout -k 5 120 " + std::string(TORVIN_UPLOAD_PATH) + " " + arguments +
                          " </dev/null >'" + (output.empty() ? dir.file("out") : output) + "' 2>'" +
                          dir.file("err") + "'");
    r.out = readFile(dir.file("out"));
    r.err = readFile(dir.file("err"));
    return r;
}

std::vector<nlohmann::json> logLines(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);)
        lines.push_back(nlohmann::json::parse(line)); // throws on a line that is no JSON
    return lines;
}

const std::string firmware = FIRMWARE_HEX_PATH;

} // namespace

TEST(TorvinUploadBatch, FourBoardsEachEndTheirOwnWayAndTheLogRecordsEveryOne) {
    // In the order given: clean, vanishing at record 40, silent at record 7, refusing record 5.
    std::vector<std::unique_ptr<Board>> boards;
    for (const std::vector<std::string>& faults :
         {std::vector<std::string>{}, {"--vanish", "40"}, {"--silent", "7:5"}, {"--reject", "5:4"}})
        boards.push_back(std::make_unique<Board>(faults));
    TempDir dir;
    const std::string log = dir.file("runs.jsonl");
    std::ofstream(log) << ""; // appended to, not replaced
    std::string ports;
    for (const auto& b : boards)
        ports += " --port " + b->path();
    const Result r = upload(ports + " --log " + log);

    // The first board in the order given that failed sets the status: the vanished one's port
    // error, not the lower status of the silent board after it.
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    const std::string outcomes[] = {"TRANSMISSÃO CONCLUIDA !!",
                                    "port error: ", "PLACA NÃO RESPONDE !",
                                    "REGISTRO 5 RECUSADO PELA PLACA !"};
    const int statuses[] = {0, 5, 2, 4};
    // Plain lines, each after its port, then one table line per board.
    EXPECT_TRUE(contains(r.out, boards[0]->path() + ": 0:0")) << r.out;
    EXPECT_TRUE(contains(r.out, boards[2]->path() + ": PLACA NÃO RESPONDE !\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nport ")) << r.out;
    for (std::size_t i = 0; i < boards.size(); ++i) {
        const std::string row = "\n" + boards[i]->path() + "  ";
        const auto at = r.out.rfind(row);
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_TRUE(contains(r.out.substr(at, r.out.find('\n', at + 1) - at), outcomes[i]))
            << r.out;
    }
    // The line broke off: the next write fails, the component's message and a hint follow.
    EXPECT_TRUE(r.err.starts_with("torvin-upload: port " + boards[1]->path() + ": ")) << r.err;
    EXPECT_TRUE(contains(r.err, "\nThe line to the board broke off")) << r.err;
    EXPECT_TRUE(boards[0]->holdsExactly(firmware));

    const auto lines = logLines(log);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
        std::size_t i = 0;
        while (i < boards.size() && line["port"] != boards[i]->path())
            ++i;
        ASSERT_LT(i, boards.size()) << line;
        EXPECT_TRUE(contains(line["outcome"].get<std::string>(), outcomes[i])) << line;
        EXPECT_EQ(line["exit_status"], statuses[i]) << line;
        EXPECT_EQ(line["device"], boards[i]->path()) << line;
        EXPECT_TRUE(line["adapter_serial"].is_null()) << line; // a pseudo-terminal has none
        EXPECT_EQ(line["image"], "embedded");
        EXPECT_EQ(line["image_records"], 1974);
        EXPECT_EQ(line["image_sha256"].get<std::string>().size(), 64u);
        if (i != 1) { // the vanished board re-sent once before the write failed
            EXPECT_EQ(line["resends"], i == 2 ? 4 : 0) << line;
        }
        EXPECT_EQ(line["refusals"], i == 3 ? 4 : 0) << line;
        EXPECT_EQ(line["records_acknowledged"], (std::array{1974, 39, 6, 4}[i])) << line;
        EXPECT_GT(line["seconds"].get<double>(), 0.0);
        EXPECT_TRUE(line["started"].get<std::string>().ends_with("Z")) << line;
        EXPECT_TRUE(line["version"].is_string());
    }
    // The digest is that of the image file, as sha256sum gives it.
    EXPECT_EQ(runCommand("sha256sum '" + firmware + "' | grep -q " +
                         lines[0]["image_sha256"].get<std::string>()),
              0);
}

TEST(TorvinUploadBatch, CtrlCStopsEveryBoardAndNamesThoseLeftIncomplete) {
    // One board finishes its small image, the other sits silent on record 2 when the signal
    // comes; on a terminal, one line per board.
    Board done, stuck({"--silent", "2:4", "--verbose"});
    const std::string image = done.dir.file("small.hex");
    std::ofstream(image) << ":020000040000FA\n:04030000112233444F\n:00000001FF\n";
    TempDir dir;
    testsupport::PtyPair terminal;
    const std::string err = dir.file("err");
    BackgroundCommand run("exec timeout -k 5 60 " + std::string(TORVIN_UPLOAD_PATH) + " --port " +
                          done.path() + " --port " + stuck.path() + " --image " + image +
                          " </dev/null >'" + terminal.path() + "' 2>'" + err + "'");
    ASSERT_TRUE(stuck.sim->waitForLog("record 2: no answer")) << stuck.sim->errorOutput();
    // ...and the other board's run has ended, as the terminal shows.
    std::string screen;
    for (int i = 0; i < 2000 && !contains(screen, "TRANSMISSÃO CONCLUIDA !!"); ++i) {
        screen += terminal.drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(), 130) << readFile(err);
    EXPECT_EQ(readFile(err), "torvin-upload: stopped by Ctrl-C (SIGINT); every port is closed.\n"
                             "These boards may hold an incomplete firmware: run the upload again "
                             "for them before using them:\n  " +
                                 stuck.path() + " (stopped by Ctrl-C at record 2)\n");
    screen += terminal.drain();
    // Names padded to one column: /dev/pts/9 and /dev/pts/10 are not as wide.
    const auto shows = [&screen](const std::string& name, const std::string& text) {
        return std::regex_search(screen, std::regex(name + "  +" + text));
    };
    EXPECT_TRUE(shows(done.path(), "TRANSMISSÃO CONCLUIDA !!")) << screen;
    EXPECT_TRUE(contains(screen, "\x1b[2A")) << screen; // the block is redrawn in place
    EXPECT_TRUE(shows(stuck.path(), "stopped by Ctrl-C at record 2")) << screen;
    EXPECT_TRUE(done.holdsExactly(image));
}

namespace {

// What a terminal shows, line by line: the cursor movements and line clearing left out, each line
// as the last carriage return in it left it.
std::vector<std::string> screenLines(const std::string& screen) {
    const std::string plain = std::regex_replace(screen, std::regex("\x1b\\[[0-9;]*[A-Za-z]"), "");
    std::vector<std::string> lines;
    std::istringstream text(plain);
    for (std::string line; std::getline(text, line);) {
        while (line.ends_with('\r'))
            line.pop_back();
        lines.push_back(
            line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1));
    }
    return lines;
}

std::size_t columnsOf(const std::string& line) {
    return static_cast<std::size_t>(std::count_if(line.begin(), line.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

// The README's advice, ports by their /dev/serial/by-id names, on an 80-column terminal: names
// wider than the screen that differ only in their last characters. A line that wraps breaks the
// redraw in place, so every line must keep within 79 columns, and each board stay recognisable.
TEST(TorvinUploadBatch, OnEightyColumnsEveryLineFitsAndLongNamesKeepTheirEnds) {
    Board done, refusing({"--reject", "0:4"});
    const std::string image = done.dir.file("small.hex");
    std::ofstream(image) << ":020000040000FA\n:04030000112233444F\n";
    TempDir dir;
    const std::string byId = dir.file("serial/by-id");
    std::filesystem::create_directories(byId);
    const std::string stem = byId + "/usb-FTDI_FT232R_USB_UART_A9X1QZ2B-if00-port";
    std::filesystem::create_symlink(done.path(), stem + "0");
    std::filesystem::create_symlink(refusing.path(), stem + "1");
    testsupport::PtyPair terminal;
    const winsize size{24, 80, 0, 0};
    ASSERT_EQ(::ioctl(terminal.controller(), TIOCSWINSZ, &size), 0);

    const Result r =
        upload("--port " + stem + "0 --port " + stem + "1 --image " + image, terminal.path());
    EXPECT_EQ(r.status, 4) << r.err;
    const std::string screen = terminal.drain();
    for (const std::string& line : screenLines(screen))
        EXPECT_LE(columnsOf(line), 79u) << line << "\nin:\n" << screen;
    // The block's last drawing: each board by the end of its name, with its whole outcome.
    EXPECT_TRUE(contains(screen, "-if00-port0  TRANSMISSÃO CONCLUIDA !!")) << screen;
    EXPECT_TRUE(contains(screen, "-if00-port1  COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA !"))
        << screen;
    // The table folds: the outcome reads whole across its lines (the counts beside its first line
    // left out), after the port's.
    const auto heading = screen.rfind("\nport\r\n");
    ASSERT_NE(heading, std::string::npos) << screen;
    const std::string table = screen.substr(heading);
    const std::string joined =
        std::regex_replace(std::regex_replace(table, std::regex("\\s+"), " "),
                           std::regex("\\d+/\\d+ \\d+ \\d+ \\d+:\\d+ "), "");
    EXPECT_TRUE(contains(joined, "-if00-port1 COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA ! "))
        << table;
}

TEST(TorvinUploadBatch, ALogThatCannotBeOpenedStopsTheProgramBeforeAnyPortIsTouched) {
    Board board;
    const Result r = upload("--port " + board.path() + " --log /nonexistent/runs.jsonl");
    EXPECT_EQ(r.status, 73);
    EXPECT_EQ(r.err, "torvin-upload: cannot open the run log /nonexistent/runs.jsonl: No such file "
                     "or directory\nNothing was sent. Give a --log file that can be written, or "
                     "leave --log out.\n");
    board.sim->stop();
    EXPECT_TRUE(contains(board.sim->errorOutput(), " 0 bytes received"));
}
