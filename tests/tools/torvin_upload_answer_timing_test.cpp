// torvin-upload against monitor-sim where the answers' timing, the machine or the line play
// tricks within the bound the uploader relies on: each run must end in the exact image or in an
// outcome that says it is not, never in "TRANSMISSÃO CONCLUIDA !!" over a missing record. The
// machine's part (a late hand-over, a kill at an exact byte, a real line's rate) is preloaded into
// the uploader from tests/support/linefaults; a stall is SIGSTOP and SIGCONT from here.
#include "tests/support/MonitorSimProcess.h"
#include "tests/support/TextFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <thread>

using testsupport::contains;
using testsupport::MonitorSimProcess;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::TempDir;

namespace {

const std::string firmware = FIRMWARE_HEX_PATH;
const std::string completed = "TRANSMISSÃO CONCLUIDA !!\n";

// A simulated board that keeps what it was sent in `saved` when it stops.
struct Board {
    TempDir dir;
    std::string saved = dir.file("board.hex");
    MonitorSimProcess sim;

    explicit Board(std::vector<std::string> faults)
        : sim(MONITOR_SIM_PATH, (faults.insert(faults.end(), {"--save", saved}), faults)) {
        if (sim.serialPath().empty())
            throw std::runtime_error("monitor-sim did not start: " + sim.errorOutput());
    }
    // Stops the simulator; true when what it holds is exactly `image`, as srec_cmp finds.
    bool holdsExactly(const std::string& image) {
        sim.stop();
        return runCommand("srec_cmp '" + saved + "' -intel '" + image + "' -intel >/dev/null") == 0;
    }
};

// The first `records` records of the embedded image, as a file of their own.
std::string shortImage(const TempDir& dir, int records) {
    const std::string image = dir.file("short.hex");
    runCommand("head -" + std::to_string(records) + " '" + firmware + "' >'" + image + "'");
    return image;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// One torvin-upload run on the board's line; `faults` are the preloaded faults' settings.
class Upload {
public:
    Upload(const Board& board, const std::string& image, const TempDir& runtime,
           const std::string& faults = "", const std::string& options = "--quiet") {
        std::string environment = "XDG_RUNTIME_DIR='" + runtime.path() + "' ";
        if (!faults.empty()) {
            environment += "LD_PRELOAD='" + std::string(LINE_FAULTS_PATH) + "' LINEFAULT_DEVICE='" +
                           board.sim.serialPath() + "' " + faults + " ";
        }
        // The shell notes its process number, which the uploader then takes over.
        std::ofstream(dir_.file("run.sh"))
            << "echo $$ >'" << dir_.file("pid") << "'\nexec env " << environment
            << TORVIN_UPLOAD_PATH << " " << options << " --port " << board.sim.serialPath()
            << " --image '" << image << "' </dev/null >'" << dir_.file("out") << "' 2>'"
            << dir_.file("err") << "'\n";
        // A hang ends in timeout's status 124 rather than in a stuck suite.
        command_ = "timeout -k 5 120 sh '" + dir_.file("run.sh") + "'";
    }
    Result run() {
        Result r;
        r.status = runCommand(command_);
        r.out = readFile(dir_.file("out"));
        r.err = readFile(dir_.file("err"));
        return r;
    }
    // Runs it on a thread of its own; finish() gives the result.
    void start() {
        thread_ = std::thread([this] { result_ = run(); });
    }
    Result finish() {
        thread_.join();
        return result_;
    }
    // The uploader's process.
    pid_t pid() {
        for (;;) {
            const std::string text = readFile(dir_.file("pid"));
            if (text.ends_with("\n")) return static_cast<pid_t>(std::stol(text));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // Waits until standard error (the --trace) holds `count` lines containing `what`.
    void waitForTrace(const std::string& what, int count) {
        for (;;) {
            const std::string err = readFile(dir_.file("err"));
            int seen = 0;
            for (std::size_t at = err.find(what); at != std::string::npos;
                 at = err.find(what, at + 1))
                ++seen;
            if (seen >= count) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    TempDir dir_;
    std::string command_;
    std::thread thread_;
    Result result_;
};

std::vector<std::string> args(std::initializer_list<std::string> words) {
    return words;
}

} // namespace

#ifdef LINE_FAULTS_PATH

// The board's answer reaches the port just before the retry's tick, and the handler that reads
// it runs 50 ms after the bytes came (a busy machine): the tick must not send another copy, nor
// time the answer from it, over bytes waiting unread. Record 3's copies are answered late, then
// record 4's first send is refused: taken for a later record's, it would leave record 4 unwritten.
TEST(TorvinUploadAnswerTiming, AnAnswerWaitingUnreadAtTheRetryIsTimedFromWhenItCame) {
    TempDir dir;
    const std::string image = shortImage(dir, 7);
    Board board(args(
        {"--late", "3:1:1965", "--late", "3:2:2500", "--late", "3:3:2500", "--answer", "4:1:R"}));
    TempDir runtime;
    const Result r = Upload(board, image, runtime, "LINEFAULT_RX_DELAY_MS=50").run();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, completed);
    EXPECT_TRUE(board.holdsExactly(image));
}

// The program stopped (SIGSTOP) for longer than the quiet time right after it read the answer to
// record 5's first send, while the answer to its retry ("[R]": the write failed) comes and waits
// in the port; continued, it must read that answer before anything else goes out.
TEST(TorvinUploadAnswerTiming, AStallPastTheQuietTimeReadsWhatWaitsBeforeGoingOn) {
    TempDir dir;
    const std::string image = shortImage(dir, 8);
    Board board(args({"--late", "5:1:1500", "--late", "5:2:300", "--answer", "5:2:R"}));
    TempDir runtime;
    Upload upload(board, image, runtime, "LINEFAULT_RX_DELAY_MS=50", "--quiet --trace");
    upload.start();
    const pid_t pid = upload.pid();
    upload.waitForTrace(" > 3A\n", 6); // records 1 to 4, record 5 and its retry
    upload.waitForTrace(" < 5D\n", 6); // the answer to record 5's first send read
    ::kill(pid, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // the stall itself
    ::kill(pid, SIGCONT);
    const Result r = upload.finish();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, completed);
    EXPECT_TRUE(board.holdsExactly(image));
}

// The process is killed right after the last byte of record 3 went out, and the board answers
// it 2.6 s later (within the quiet time its 0.9 s answers give): the next run must have known of
// that send and wait for its answer, not take it for its command's. Record 5 is then refused
// once; an answer taken for the wrong item would leave it unwritten.
TEST(TorvinUploadAnswerTiming, AKillRightAfterASendLeavesThatSendOwed) {
    TempDir dir;
    const std::string image = shortImage(dir, 7);
    std::ifstream lines(image);
    std::string line;
    int bytes = 6; // the programming-mode command
    for (int record = 1; record <= 3 && std::getline(lines, line); ++record)
        bytes += 1 + static_cast<int>(line.size() - 1) / 2;
    Board board(
        args({"--delay-ms", "900", "--late", "3:1:1700", "--keep-answers", "--answer", "5:1:R"}));
    TempDir runtime;
    const Result first =
        Upload(board, image, runtime, "LINEFAULT_KILL_AFTER_BYTES=" + std::to_string(bytes)).run();
    ASSERT_EQ(first.status, 128 + SIGKILL) << first.out << first.err;
    const Result second = Upload(board, image, runtime).run();
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(second.out, completed);
    EXPECT_TRUE(board.holdsExactly(image));
}

#endif

// A reply with more bytes after it in the same read (a line end, noise) is still a reply: the
// board's "[L]" (it started over, its memory erased) must send the run back to record 1.
TEST(TorvinUploadAnswerTiming, BytesAfterAReplyInTheSameWriteDoNotHideIt) {
    for (const char* after : {"\\r\\n", "x", "\\x00?"}) {
        TempDir dir;
        const std::string image = shortImage(dir, 7);
        Board board(args({"--answer", "4:1:L", "--trail", std::string("4:1:") + after}));
        TempDir runtime;
        const Result r = Upload(board, image, runtime).run();
        EXPECT_EQ(r.status, 0) << after << r.out << r.err;
        EXPECT_EQ(r.out, completed) << after;
        EXPECT_TRUE(board.holdsExactly(image)) << after;
    }
}
