// torvin-upload as a process, uploading into monitor-sim over a pseudo-terminal: the outcome, the
// exit status and, for every run that completes, the board's memory compared with the image by
// Debian's srec_cmp.
#include "comport/ComPort.h"
#include "tests/support/MonitorSimProcess.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Pty.h"
#include "tests/support/TextFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <sstream>
#include <tuple>

using testsupport::BackgroundCommand;
using testsupport::MonitorSimProcess;
using testsupport::runCommand;
using testsupport::TempDir;

using testsupport::contains;
using testsupport::readFile;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs torvin-upload with its output in files. A hang would end in `timeout`'s status 124 rather
// than in a stuck suite; no run here should come near it.
// Standard output goes to `output` when given (then r.out stays empty).
// What a run leaves for the next on the port goes to `runtime` (by default a folder of this run's
// own, so that runs of other tests on a terminal of the same name do not wait for each other).
Result upload(const std::string& arguments, const std::string& output = "",
              const std::string& runtime = "") {
    TempDir dir;
    Result r;
    r.status = runCommand("XDG_RUNTIME_DIR='" + (runtime.empty() ? dir.path() : runtime) +
                          "' timeout -k 5 60 " + std::string(TORVIN_UPLOAD_PATH) + " " + arguments +
                          " </dev/null >'" + (output.empty() ? dir.file("out") : output) + "' 2>'" +
                          dir.file("err") + "'");
    r.out = readFile(dir.file("out"));
    r.err = readFile(dir.file("err"));
    return r;
}

// A simulated board that keeps what it was sent in `saved` when it stops.
struct Board {
    TempDir dir;
    std::string saved = dir.file("board.hex");
    MonitorSimProcess sim;

    explicit Board(std::vector<std::string> faults = {})
        : sim(MONITOR_SIM_PATH, withSave(std::move(faults), saved)) {
        if (sim.serialPath().empty())
            throw std::runtime_error("monitor-sim did not start: " + sim.errorOutput());
    }
    static std::vector<std::string> withSave(std::vector<std::string> arguments,
                                             const std::string& file) {
        arguments.insert(arguments.end(), {"--save", file});
        return arguments;
    }
    std::string port() const { return "--port " + sim.serialPath(); }

    // Stops the simulator; true when what it holds is exactly `image`.
    bool holdsExactly(const std::string& image) {
        sim.stop();
        return runCommand("srec_cmp '" + saved + "' -intel '" + image + "' -intel >/dev/null") == 0;
    }
};

const std::string firmware = FIRMWARE_HEX_PATH;

} // namespace

TEST(TorvinUploadProcess, ACleanRunLeavesTheBoardHoldingExactlyTheImage) {
    Board board;
    const Result r = upload(board.port());
    EXPECT_EQ(r.status, 0) << r.err;
    // Not a terminal: plain progress lines, then the outcome.
    EXPECT_TRUE(contains(r.out, "record 1 of 1974 (0%)")) << r.out;
    EXPECT_TRUE(contains(r.out, "record 1974 of 1974 (100%)")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nTRANSMISSÃO CONCLUIDA !!\n")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(board.holdsExactly(firmware));
}

TEST(TorvinUploadProcess, FaultsARunGetsOverLeaveTheMemoryExact) {
    // Refusals below the limit, a restart and one second of silence, all in one run.
    Board board({"--reject", "3:3", "--restart", "100", "--silent", "1500:1"});
    const Result r = upload(board.port());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "record 3: refused by the board")) << r.out;
    EXPECT_TRUE(contains(r.out, "the board asked to start again")) << r.out;
    EXPECT_TRUE(contains(r.out, "record 1500: no answer, sending again (send 2 of 5)")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nTRANSMISSÃO CONCLUIDA !!\n")) << r.out;
    EXPECT_TRUE(board.holdsExactly(firmware));
}

TEST(TorvinUploadProcess, ABoardThatStallsPastTheRetryAndAnswersEveryCopyLosesNoRecord) {
    // The board sits on record 200 for 2.5 s, so the uploader sends it three times; then it
    // answers all three, one by one. A refusal later must re-send the record refused.
    for (const char* refused : {"1000:1", "201:1"}) {
        Board board({"--stall", "200:2500", "--reject", refused});
        const Result r = upload(board.port());
        EXPECT_EQ(r.status, 0) << refused << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "record 200: no answer, sending again (send 3 of 5)")) << r.out;
        EXPECT_TRUE(board.holdsExactly(firmware)) << refused;
    }
}

TEST(TorvinUploadProcess, ARecordRefusedFourTimesStopsTheRun) {
    Board board({"--reject", "5:4"});
    const Result r = upload(board.port() + " --quiet");
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(r.out, "REGISTRO 5 RECUSADO PELA PLACA !\n");
}

TEST(TorvinUploadProcess, AMonitorOfTheWrongVersionStopsTheRun) {
    for (const auto& [reply, words] : {std::pair{"I", "Monitor Versão Antiga !!\n"},
                                       {"J", "Monitor Versão Não Válida !!\n"},
                                       {"K", "Monitor Versão Não Válida !!\n"}}) {
        Board board({"--version-reply", reply});
        const Result r = upload(board.port() + " --quiet");
        EXPECT_EQ(r.status, 3) << reply << r.err;
        EXPECT_EQ(r.out, words);
    }
}

TEST(TorvinUploadProcess, FiveUnansweredSendsEndTheRunWithNoAnswer) {
    Board board({"--silent", "7:5"});
    const Result r = upload(board.port());
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(contains(r.out, "record 7: no answer, sending again (send 5 of 5)")) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nPLACA NÃO RESPONDE !\n")) << r.out;
}

TEST(TorvinUploadProcess, RepliesFollowedByALineEndAreActedOn) {
    // "[N]\r\n" arrives in one piece: the reply counts as it completes, whatever follows it.
    Board board({"--trailing"});
    const Result r = upload(board.port() + " --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "TRANSMISSÃO CONCLUIDA !!\n");
}

TEST(TorvinUploadProcess, CtrlCOrSigtermDuringARunClosesThePortAndWarns) {
    for (const auto& [name, signal, status] :
         {std::tuple{"INT", SIGINT, 130}, std::tuple{"TERM", SIGTERM, 143}}) {
        // The board leaves record 3 unanswered for a while: the signal comes mid-run.
        Board board({"--silent", "3:4", "--once", "--verbose"});
        TempDir dir;
        const std::string err = dir.file("err");
        testsupport::PtyPair terminal;
        BackgroundCommand run("exec timeout -k 5 60 " + std::string(TORVIN_UPLOAD_PATH) + " " +
                              board.port() + " </dev/null >'" + terminal.path() + "' 2>'" + err +
                              "'");
        ASSERT_TRUE(board.sim.waitForLog("record 3: no answer")) << board.sim.errorOutput();
        run.signal(signal);
        EXPECT_EQ(run.wait(), status) << name << readFile(err);
        const std::string screen = terminal.drain();
        EXPECT_TRUE(screen.ends_with("\n")) << screen; // the bar's line is ended
        EXPECT_TRUE(contains(readFile(err), "at record 3; the port is closed.\nThe board may hold "
                                            "an incomplete firmware"))
            << readFile(err);
        // The port was closed: with --once the board goes when the host lets go of the line.
        EXPECT_EQ(board.sim.waitForExit(), 0) << name;
    }
}

TEST(TorvinUploadProcess, ABoardThatVanishesMidRunGivesAPortError) {
    Board board({"--vanish", "40"});
    const Result r = upload(board.port());
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_TRUE(r.err.starts_with("torvin-upload: port " + board.sim.serialPath() + ": ")) << r.err;
    EXPECT_FALSE(contains(r.out, "TRANSMISSÃO")) << r.out;
    EXPECT_EQ(board.sim.waitForExit(), 3);
}

TEST(TorvinUploadProcess, APortThatDoesNotExistOrIsHeldFailsAtOnce) {
    const Result missing = upload("--port /dev/no-such-tty");
    EXPECT_EQ(missing.status, 5);
    EXPECT_EQ(missing.out, "");
    // No such port: the list of those present, not another program, is what helps.
    EXPECT_EQ(missing.err, "torvin-upload: port /dev/no-such-tty: Unable to open com port "
                           "(Error: 2): No such file or directory\n"
                           "This computer has no port of that name.\n"
                           "Check the port's name: torvin-upload --list-ports lists the ports of "
                           "this computer (ls -l /dev/serial/by-id shows the USB adapters plugged "
                           "in).\n");

    // A COM name says which device it tried.
    const Result com = upload("--port COM99");
    EXPECT_EQ(com.status, 5);
    EXPECT_TRUE(com.err.starts_with("torvin-upload: port COM99 (/dev/ttyS98): Unable to open com "
                                    "port (Error: 2)"))
        << com.err;

    // In the user's language; the component's message and the system's words stay as they are.
    ::setenv("LC_ALL", "pt_BR.UTF-8", 1);
    const Result portuguese = upload("--port /dev/no-such-tty");
    ::unsetenv("LC_ALL");
    EXPECT_TRUE(contains(portuguese.err, "Unable to open com port (Error: 2): No such file or "
                                         "directory\nEste computador não tem porta com esse "
                                         "nome.\nVerifique o nome da porta: torvin-upload "
                                         "--list-ports"))
        << portuguese.err;

    Board board;
    comport::TComPort holder;
    holder.setEvents({});
    holder.setPort(board.sim.serialPath());
    holder.openPort();
    const Result held = upload(board.port());
    EXPECT_EQ(held.status, 5);
    EXPECT_TRUE(contains(held.err, "Unable to open com port (Error: 16): Device or resource busy"))
        << held.err;
    if (::access("/run/lock", W_OK) == 0) { // the holder is named, from its lock file
        EXPECT_TRUE(contains(held.err, "says that process " + std::to_string(::getpid()) + " "))
            << held.err;
    }
    holder.closePort();
    board.sim.stop();
    EXPECT_TRUE(contains(board.sim.errorOutput(), " 0 bytes received")) << board.sim.errorOutput();
}

// A technician outside the device's group is told which group and how to join it.
TEST(TorvinUploadProcess, APortRefusedForLackOfPermissionSaysHowToGetIt) {
    if (!testsupport::AsNobody::possible()) GTEST_SKIP() << "needs root to act as nobody";
    testsupport::PtyPair pty;
    const std::string group = testsupport::openToGroupOnly(pty.path());
    TempDir dir;
    const int status =
        runCommand("setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                   std::string(TORVIN_UPLOAD_PATH) + " --port " + pty.path() + " </dev/null >'" +
                   dir.file("out") + "' 2>'" + dir.file("err") + "'");
    const std::string err = readFile(dir.file("err"));
    EXPECT_EQ(status, 5) << err;
    EXPECT_TRUE(contains(err, "(Error: 13): Permission denied\nYou (user 'nobody') may not open " +
                                  pty.path() + ". It belongs to the group '" + group + "'"))
        << err;
    EXPECT_TRUE(contains(err, "sudo usermod -aG " + group + " nobody\n")) << err;
}

// The window's list, for scripts: COM1 to COM15 first, each with its device, marked when this
// machine has no such device, then whatever adapters this machine has.
TEST(TorvinUploadProcess, ListPortsPrintsTheWindowsList) {
    const Result r = upload("--list-ports");
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    for (int n = 1; n <= 15 && std::getline(lines, line); ++n) {
        const std::string device = "/dev/ttyS" + std::to_string(n - 1);
        EXPECT_TRUE(line.starts_with("COM" + std::to_string(n) + ": " + device)) << line;
        if (::access(device.c_str(), F_OK) != 0) {
            EXPECT_TRUE(line.ends_with(device + " (not present)")) << line;
        }
    }
}

TEST(TorvinUploadProcess, BadUsageAndBadImagesAreRefusedBeforeThePortIsTouched) {
    const Result usage = upload("--port");
    EXPECT_EQ(usage.status, 64);
    EXPECT_TRUE(contains(usage.err, "--help")) << usage.err;

    Board board;
    const std::string bad = board.dir.file("bad.hex");
    std::ofstream(bad) << ":020000040000FA\n:0402000001020304F1\n";
    const Result refused = upload(board.port() + " --image " + bad);
    EXPECT_EQ(refused.status, 65);
    EXPECT_EQ(refused.err, "torvin-upload: " + bad +
                               ":2: wrong checksum F1, the record's bytes give F0\n"
                               "Nothing was sent.\n");
    board.sim.stop();
    EXPECT_TRUE(contains(board.sim.errorOutput(), " 0 bytes received")) << board.sim.errorOutput();
}

TEST(TorvinUploadProcess, AnImageThatIsNoRegularFileOrTooLargeIsRefusedWithoutReadingIt) {
    // A FIFO without a writer must not hang the open, a device must not be read until memory
    // runs out, and a file of megabytes is no image for a chip of 32 KB.
    TempDir dir;
    const std::string fifo = dir.file("fifo.hex"), big = dir.file("big.hex");
    ASSERT_EQ(runCommand("mkfifo '" + fifo + "' && truncate -s 5M '" + big + "'"), 0);
    for (const auto& [path, reason] : {std::pair{std::string("/dev/zero"), "character device"},
                                       {fifo, "FIFO"},
                                       {dir.path(), "directory"},
                                       {big, "larger than 4 MB"}}) {
        const Result r = upload("--port /dev/null --image '" + path + "'");
        EXPECT_EQ(r.status, 65) << path << r.err;
        EXPECT_TRUE(r.err.starts_with("torvin-upload: " + path + ": ")) << r.err;
        EXPECT_TRUE(contains(r.err, reason)) << r.err;
    }
}

TEST(TorvinUploadProcess, AnotherImageIsSentWholeAndTheTraceShowsEveryByte) {
    // Noise before and a split inside every reply: what a real line does to the replies now and
    // then (each costs the simulator a millisecond, so the small image).
    Board board({"--noise", "--split"});
    const std::string image = board.dir.file("small.hex");
    std::ofstream(image) << ":020000040000FA\n"
                            ":100200000102030405060708090A0B0C0D0E0F1066\n"
                            ":04030000112233444F\n"
                            ":00000001FF\n";
    const Result r = upload(board.port() + " --quiet --trace --image " + image);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "TRANSMISSÃO CONCLUIDA !!\n");
    EXPECT_TRUE(contains(r.err, " open " + board.sim.serialPath() + "\n")) << r.err;
    EXPECT_TRUE(contains(r.err, " > 28 25 50 33 31 29\n")) << r.err; // "(%P31)"
    EXPECT_TRUE(contains(r.err, " < 5B\n")) << r.err;
    EXPECT_TRUE(contains(r.err, " < 4E\n")) << r.err;
    // ':' and then each byte of a record in its own write.
    EXPECT_TRUE(contains(r.err, " > 3A\n")) << r.err;
    EXPECT_TRUE(contains(r.err, " > 4F\n")) << r.err;
    EXPECT_TRUE(board.holdsExactly(image));
}

TEST(TorvinUploadProcess, OnATerminalTheProgressIsABarRedrawnInPlace) {
    Board board;
    const std::string image = board.dir.file("small.hex");
    std::ofstream(image) << ":020000040000FA\n"
                            ":100200000102030405060708090A0B0C0D0E0F1066\n"
                            ":04030000112233444F\n";
    testsupport::PtyPair terminal;
    const Result r = upload(board.port() + " --image " + image, terminal.path());
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string screen = terminal.drain();
    EXPECT_TRUE(contains(screen, "\r[")) << screen;
    EXPECT_TRUE(contains(screen, "] 100%  record 3 of 3  0:02 elapsed, 0:00 left")) << screen;
    EXPECT_TRUE(contains(screen, "\nTRANSMISSÃO CONCLUIDA !!")) << screen; // after the bar's line
    EXPECT_FALSE(contains(screen, "record 1 of 3 (0%)")) << screen;        // no plain lines
}

TEST(TorvinUploadProcess, ARelativePathOpensLikeAnyPath) {
    Board board;
    const std::string image = board.dir.file("small.hex");
    std::ofstream(image) << ":020000040000FA\n:04030000112233444F\n";
    ASSERT_EQ(
        runCommand("ln -s '" + board.sim.serialPath() + "' '" + board.dir.file("ttyBoard") + "'"),
        0);
    const int status = runCommand("cd '" + board.dir.path() + "' && " + TORVIN_UPLOAD_PATH +
                                  " --quiet --port ./ttyBoard --image small.hex >/dev/null");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(board.holdsExactly(image));
}

// An image file may lack the end-of-file record (the embedded image has none), but then a file cut
// short at a line's end looks whole: it is sent, with a warning on standard error and in the run
// log. The record keeps the image's name as given and adds its absolute path, so that runs
// started from different folders can be told apart.
TEST(TorvinUploadProcess, AnImageWithoutAnEndOfFileRecordIsSentWithAWarningInTheLog) {
    const std::string warning =
        "no end-of-file record: if the file was cut short, the board gets only part of it";
    for (const bool ended : {false, true}) {
        Board board;
        const std::string image = board.dir.file("small.hex");
        std::ofstream(image) << ":020000040000FA\n:04030000112233444F\n"
                             << (ended ? ":00000001FF\n" : "");
        EXPECT_EQ(runCommand("cd '" + board.dir.path() + "' && " + TORVIN_UPLOAD_PATH +
                             " --quiet " + board.port() +
                             " --image small.hex --log runs.jsonl >/dev/null 2>err"),
                  0);
        EXPECT_EQ(readFile(board.dir.file("err")), ended ? "" : "torvin-upload: " + warning + "\n");
        const auto record = nlohmann::json::parse(readFile(board.dir.file("runs.jsonl")));
        EXPECT_EQ(record["image"], "small.hex");
        EXPECT_EQ(record["image_path"], image);
        EXPECT_EQ(record["image_warning"], ended ? nlohmann::json() : nlohmann::json(warning));
        EXPECT_TRUE(board.holdsExactly(image));
    }
}

TEST(TorvinUploadProcess, DumpImageWritesTheEmbeddedImageAsStored) {
    TempDir dir;
    EXPECT_EQ(runCommand(std::string(TORVIN_UPLOAD_PATH) + " --dump-image >'" +
                         dir.file("dump.hex") + "'"),
              0);
    EXPECT_EQ(readFile(dir.file("dump.hex")), readFile(firmware));
}

namespace {

// The first `records` records of the embedded image, as a file of their own.
std::string shortImage(const TempDir& dir, int records) {
    const std::string image = dir.file("short.hex");
    runCommand("head -" + std::to_string(records) + " '" + firmware + "' >'" + image + "'");
    return image;
}

} // namespace

namespace {

// XDG_RUNTIME_DIR for the runs of one test: what one run leaves for the next stays within it.
std::string inRuntime(const TempDir& runtime, const std::string& commands) {
    return "export XDG_RUNTIME_DIR='" + runtime.path() + "'; " + commands;
}

} // namespace

TEST(TorvinUploadProcess, ABoardAnsweringPastTheRetrySecondIsFlashedWhole) {
    // Each record answered 1.1 s after it arrived, a little more for some: the uploader's retry
    // crosses every answer. Record 6 refused twice on one board, unanswered twice on the other;
    // both boards in one run.
    TempDir dir;
    const std::string image = shortImage(dir, 8);
    Board refusing({"--delay-ms", "1100", "--vary-ms", "150", "--reject", "6:2"});
    Board silent({"--delay-ms", "1100", "--vary-ms", "150", "--silent", "6:2"});
    const Result r =
        upload(refusing.port() + " " + silent.port() + " --quiet --image '" + image + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(refusing.holdsExactly(image));
    EXPECT_TRUE(silent.holdsExactly(image));
}

// A run that ends while the board still owes it answers, however it ends, leaves word of them
// for the next run on the port; the next starts at once and must not take them for its own
// (the board refuses record 6 twice: an answer taken for the wrong item skips a refusal). Each
// way of ending is a test of its own, so that their waits run side by side.
namespace {

struct EndedRun {
    const char* name;
    bool slowBoard;
    std::string firstRun; // the shell's words around the command, which stands for %s
    int firstStatus;
    // When given, the first run is stopped by this signal once the board's log says this.
    int signal = 0;
    const char* stopAt = nullptr;
};

void PrintTo(const EndedRun& run, std::ostream* out) {
    *out << run.name;
}

class ASecondRunWhileTheBoardStillAnswersTheFirst : public ::testing::TestWithParam<EndedRun> {};

} // namespace

TEST_P(ASecondRunWhileTheBoardStillAnswersTheFirst, LosesNoRecord) {
    const EndedRun& c = GetParam();
    // The quiet time grows to 7.2 s (record 3's second copy answered 2.4 s after it was sent);
    // record 5 is answered 5.5 s late, then its other copies 2.5 s apart.
    std::vector<std::string> slowBoard;
    for (const char* late :
         {"3:1:1500", "3:2:1900", "5:1:5500", "5:2:2500", "5:3:2500", "5:4:2500", "5:5:2500"})
        slowBoard.insert(slowBoard.end(), {"--late", late});
    TempDir dir;
    const std::string image = shortImage(dir, 8);
    std::vector<std::string> arguments =
        c.slowBoard ? slowBoard
                    : std::vector<std::string>{"--delay-ms", "1100", "--vary-ms", "300"};
    arguments.insert(arguments.end(), {"--keep-answers", "--reject", "6:2", "--verbose"});
    Board board(arguments);
    TempDir runtime;
    std::string first = c.firstRun;
    first.replace(first.find("%s"), 2,
                  std::string(TORVIN_UPLOAD_PATH) + " " + board.port() + " --quiet --image '" +
                      image + "' >/dev/null 2>&1");
    if (c.signal) {
        BackgroundCommand run(inRuntime(runtime, "exec " + first));
        ASSERT_TRUE(board.sim.waitForLog(c.stopAt)) << board.sim.errorOutput();
        run.signal(c.signal);
        EXPECT_EQ(run.wait(), c.firstStatus);
    } else {
        EXPECT_EQ(runCommand(inRuntime(runtime, first)), c.firstStatus);
    }
    const Result second = upload(board.port() + " --image '" + image + "'", "", runtime.path());
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    // Said, where the wait is long (on the slow board: answers owed 7.2 s apart).
    if (c.slowBoard) {
        EXPECT_TRUE(contains(second.out, "s for the answers the board may still owe an "
                                         "earlier run on this port.\n"))
            << second.out;
    }
    EXPECT_TRUE(second.out.ends_with("\nTRANSMISSÃO CONCLUIDA !!\n"));
    EXPECT_TRUE(board.holdsExactly(image));
}

INSTANTIATE_TEST_SUITE_P(
    TorvinUploadProcess, ASecondRunWhileTheBoardStillAnswersTheFirst,
    ::testing::Values(
        // Answers 1.1 s late; stopped by SIGTERM while record 1's answer is owed.
        EndedRun{"SIGTERM", false, "timeout -k 5 60 %s", 143, SIGTERM, "record 1: "},
        // The first run gives up on record 5 (no answer), or is stopped by Ctrl-C while it waits.
        EndedRun{"NoAnswer", true, "%s", 2},
        EndedRun{"CtrlC", true, "timeout -k 5 60 %s", 130, SIGINT, "record 5: "}),
    [](const ::testing::TestParamInfo<EndedRun>& info) { return std::string(info.param.name); });

// One rule: "TRANSMISSÃO CONCLUIDA !!" only if the board's memory holds every record. Each board
// stays within the bound: it answers every item once, in order, and while it owes answers it is
// never silent for longer than the quiet time. Every answer is acted on, whichever copy of a
// record it answers: a record's first send is answered 1.5 s late, so the retry's copy is out
// too, and that copy's answer undoes the first's.
TEST(TorvinUploadProcess, AnAnswerToALaterCopyIsActedOn) {
    TempDir dir;
    const std::string image = shortImage(dir, 8);
    for (const auto& [record, letter] : {std::pair{"5", "L"}, {"8", "L"}, {"5", "R"}, {"8", "R"}}) {
        const std::string what = std::string("[") + letter + "] on record " + record;
        Board board({"--late", std::string(record) + ":1:1500", "--answer",
                     std::string(record) + ":2:" + letter});
        const Result r = upload(board.port() + " --quiet --image '" + image + "'");
        EXPECT_EQ(r.status, 0) << what << r.out << r.err;
        EXPECT_EQ(r.out, "TRANSMISSÃO CONCLUIDA !!\n") << what;
        EXPECT_TRUE(board.holdsExactly(image)) << what;
    }
}
