// The command-line uploader's parts without a device: the command line, the image file check, the
// retry timer, the progress display, and whole runs of the session against the scripted board on
// a clock that jumps to the next tick whenever the board is silent.
#include "cli/torvin-upload/CapturedOutput.h"
#include "cli/torvin-upload/ImageFile.h"
#include "cli/torvin-upload/Options.h"
#include "cli/torvin-upload/ProgressDisplay.h"
#include "cli/torvin-upload/RetryTimer.h"
#include "cli/torvin-upload/UploadSession.h"
#include "cli/torvin-upload/Utf8Pieces.h"
#include "tests/support/TempDir.h"
#include "tests/support/TextFiles.h"
#include "tests/support/scripted/ScriptedBoard.h"
#include "upload/UploadTexts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <tuple>
#include <unistd.h>

using namespace torvinupload;
using testsupport::contains;
using namespace std::chrono_literals;
using upload::scripted::Item;
using upload::scripted::Reply;
using upload::scripted::ScriptedBoard;
using Clock = std::chrono::steady_clock;

namespace {

// The port's events as the scripted board lets them arrive; time moves only when the board is
// silent, straight to the moment the loop waits for.
class ScriptedPump : public EventPump {
public:
    explicit ScriptedPump(ScriptedBoard& board) : board_(board) {}
    UploadSession* session = nullptr;
    Clock::time_point time{};
    int silences = 0;

    Clock::time_point now() override { return time; }
    void serve(Clock::time_point until) override {
        if (board_.arrive()) {
            session->rxChar(board_.bytesWaiting());
        } else {
            ++silences;
            time = std::max(time, until);
        }
    }

private:
    ScriptedBoard& board_;
};

struct SessionRig {
    upload::scripted::CallLog log;
    ScriptedBoard board{log};
    CapturedOutput out, errors;
    ConsoleWindow window{"COM3", std::make_unique<ProgressLines>(out.file()), out.file()};
    upload::UploadLogic logic{board, window};
    ScriptedPump pump{board};
    UploadSession session{logic, window, pump, errors.file()};

    SessionRig() { pump.session = &session; }

    int commandsSent() const {
        int n = 0;
        for (const auto& item : board.items())
            n += item.kind == Item::Kind::Command;
        return n;
    }
    std::vector<int> recordsSent() const {
        std::vector<int> records;
        for (const auto& item : board.items())
            if (item.kind == Item::Kind::Record) records.push_back(item.record);
        return records;
    }
};

} // namespace

// --- command line ------------------------------------------------------------------------------

TEST(TorvinUploadOptions, TakesEachOptionInBothFormsAndRefusesWhatItDoesNotKnow) {
    auto ok = parseOptions({"--port", "/dev/pts/7", "--quiet", "--trace", "--image=a.hex",
                            "--port=COM2", "--log", "runs.jsonl"});
    ASSERT_EQ(ok.error, "");
    EXPECT_EQ(ok.options.ports, (std::vector<std::string>{"/dev/pts/7", "COM2"}));
    EXPECT_EQ(ok.options.logFile, "runs.jsonl");
    EXPECT_TRUE(ok.options.quiet);
    EXPECT_TRUE(ok.options.trace);
    EXPECT_EQ(ok.options.imageFile, "a.hex");
    EXPECT_EQ(parseOptions({}).options.ports, std::vector<std::string>{"COM1"});

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--port"},
                                                {"--port", ""},
                                                {"--port="},
                                                {"COM3"},
                                                {"-q"},
                                                {"--quiet=yes"},
                                                {"--verbose"},
                                                {"--port", "COM1", "--port", "COM1"},
                                                {"--log", "a", "--log", "b"},
                                                {"--dump-image", "--image", "x.hex"}}) {
        EXPECT_NE(parseOptions(bad).error, "") << bad.front();
    }
}

// One device under two names is one board: the second run would only fail to open it.
TEST(TorvinUploadOptions, RefusesOnePortGivenUnderTwoNames) {
    testsupport::TempDir dir;
    const std::string link = dir.file("ttyBoard");
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
    for (const auto& [first, second] :
         {std::pair<std::string, std::string>{"COM1", "/dev/ttyS0"}, {link, "/dev/null"}}) {
        EXPECT_NE(parseOptions({"--port", first, "--port", second}).error, "") << second;
    }
    EXPECT_EQ(parseOptions({"--port", link, "--port", "/dev/zero"}).error, "");
}

// A piece of output that ends inside a character keeps that character for the next piece.
TEST(TorvinUploadConsole, OutputIsCutOnlyBetweenWholeCharacters) {
    for (const auto& [bytes, whole] : {std::pair<std::string, std::size_t>{"TRANSMISS\xC3", 9},
                                       {"TRANSMISS\xC3\x83", 11},
                                       {"\xE2\x80", 0},
                                       {"a\xF0\x9F\x98", 1},
                                       {"a\xF0\x9F\x98\x80", 5},
                                       {"a\x83", 2},
                                       {"", 0}}) {
        EXPECT_EQ(torvinupload::wholeUtf8Length(bytes), whole) << bytes.size();
    }
}

// --- image file --------------------------------------------------------------------------------

TEST(TorvinUploadImageFile, TakesDataAndUpperAddressRecordsAndStopsAtTheEndOfFileRecord) {
    std::string error;
    const ImageFile image = ImageFile::parse(":020000040000FA\r\n"
                                             ":0402000001020304F0\n"
                                             ":00000001FF\n"
                                             "\n",
                                             "small.hex", error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(image.recordCount(), 2);
    EXPECT_EQ(image.lines()[0], ":020000040000FA");
    EXPECT_EQ(image.lines()[1], ":0402000001020304F0");

    // The embedded image passes its own check.
    std::string text;
    for (auto line : upload::firmwareImage())
        text += std::string(line) + "\n";
    EXPECT_EQ(ImageFile::parse(text, "embedded", error).recordCount(), upload::firmwareRecordCount);
    EXPECT_EQ(error, "");
}

TEST(TorvinUploadImageFile, NamesTheFileTheLineAndWhatIsWrong) {
    const std::string good = ":0402000001020304F0\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0402000001020304F0", "does not start with ':'"},
        {":04020000010203G4F0", "'G' at column 16 is not a hexadecimal digit"},
        {":04020000 01020304F0", "' ' at column 10"},
        {":0402000001020304F", "odd number"},
        {":040200", "too short"},
        {":0502000001020304EF", "byte count 05 (5) does not match"},
        {":0402000001020304F1", "wrong checksum F1, the record's bytes give F0"},
        {":0402000201020304EE", "record type 02"},
        {":0400000400000102F5", "holds 2 data bytes, not 4"},
        {"", "empty line"},
    };
    for (const auto& [line, what] : cases) {
        std::string error;
        const ImageFile image = ImageFile::parse(good + line + "\n" + good, "fw.hex", error);
        EXPECT_EQ(image.recordCount(), 0);
        EXPECT_TRUE(error.starts_with("fw.hex:2: ")) << error;
        EXPECT_TRUE(contains(error, what)) << error << " / " << what;
    }

    std::string error;
    ImageFile::parse(good + ":00000001FF\n" + good, "fw.hex", error);
    EXPECT_EQ(error, "fw.hex:3: a line after the end-of-file record");
    ImageFile::parse(":00000001FF\n", "fw.hex", error);
    EXPECT_TRUE(contains(error, "no records")) << error;
    ImageFile::load("/nonexistent/fw.hex", error);
    EXPECT_TRUE(contains(error, "/nonexistent/fw.hex")) << error;
}

// --- retry timer -------------------------------------------------------------------------------

TEST(TorvinUploadRetryTimer, BehavesAsTheWindowTimer) {
    RetryTimer timer(1s);
    const Clock::time_point t0{};
    EXPECT_FALSE(timer.takeTick(t0 + 10s));

    timer.setEnabled(true, t0);
    timer.setEnabled(true, t0 + 500ms); // running: changes nothing
    EXPECT_EQ(timer.nextTick(), t0 + 1s);
    EXPECT_FALSE(timer.takeTick(t0 + 999ms));
    EXPECT_TRUE(timer.takeTick(t0 + 1s));
    EXPECT_EQ(timer.nextTick(), t0 + 2s);

    // Stopped and started again: the interval starts afresh.
    timer.setEnabled(false, t0 + 1500ms);
    EXPECT_FALSE(timer.nextTick());
    timer.setEnabled(true, t0 + 1700ms);
    EXPECT_EQ(timer.nextTick(), t0 + 2700ms);

    // A loop that fell behind gets one tick, not a burst.
    EXPECT_TRUE(timer.takeTick(t0 + 10s));
    EXPECT_FALSE(timer.takeTick(t0 + 10s));
    EXPECT_EQ(timer.nextTick(), t0 + 11s);
}

// --- progress ----------------------------------------------------------------------------------

TEST(TorvinUploadProgress, TheBarFitsTheTerminalAndEstimatesTheRemainingTime) {
    RunProgress p;
    p.total = 1974;
    p.record = 988; // 987 done
    p.percent = 50;
    p.resends = 2;
    p.started = Clock::time_point{};
    const auto now = p.started + 30s;
    const std::string wide = TerminalBar::render(p, now, 120);
    EXPECT_TRUE(contains(wide, "[####################....................]")) << wide;
    EXPECT_TRUE(contains(wide, " 50%  record  988 of 1974  0:30 elapsed, 0:30 left")) << wide;
    EXPECT_TRUE(contains(wide, "(2 re-sent)")) << wide;
    EXPECT_LE(TerminalBar::render(p, now, 60).size(), 59u);

    p.record = 1;
    EXPECT_EQ(remainingText(p, now), "--:--");
    EXPECT_EQ(clockText(3723s), "1:02:03");
}

TEST(TorvinUploadProgress, OnEightyColumnsEverythingFitsAndNoWordIsCut) {
    RunProgress p;
    p.total = 1974;
    p.record = 1973;
    p.percent = 99;
    p.resends = 123;
    p.refusals = 45;
    p.restarts = 2;
    const auto now = p.started + 3723s;
    const std::string line = TerminalBar::render(p, now, 80);
    EXPECT_LE(line.size(), 79u) << line;
    // The news a technician needs stay, whole, and the line ends with a whole part.
    EXPECT_TRUE(contains(line, " 99%  1973/1974")) << line;
    EXPECT_TRUE(line.ends_with("(123 re-sent, 45 refused, 2 restarted)")) << line;
    for (int columns : {20, 40, 60})
        EXPECT_LE(TerminalBar::render(p, now, columns).size(), std::size_t(columns - 1)) << columns;
}

TEST(TorvinUploadProgress, TheTimeLeftCountsAfreshAfterARestart) {
    CapturedOutput out;
    ConsoleWindow window("COM3", std::make_unique<TerminalBar>(out.file(), 80), out.file());
    Clock::time_point t{};
    window.setClock([&t] { return t; });
    window.told(upload::RunStarted{1974});
    window.told(upload::ItemSent{1});
    t += 1h; // slow going, then the board asks to start again
    window.told(upload::ItemSent{1000});
    window.told(upload::ItemSent{1});
    t += 10s;
    window.told(upload::ItemSent{11}); // 10 records in 10 s: 1964 to go
    window.finishProgress();
    const std::string screen = out.text();
    const std::string last = screen.substr(screen.rfind('\r'));
    EXPECT_TRUE(contains(last, "1:00:10 elapsed, 32:44 left")) << last;
}

// --- whole runs --------------------------------------------------------------------------------

TEST(TorvinUploadSession, CompletesTheEmbeddedImageAndSaysSo) {
    SessionRig run;
    EXPECT_EQ(run.session.run(), ExitStatus::completed);
    EXPECT_EQ(run.board.portName(), "COM3");
    EXPECT_EQ(run.commandsSent(), 1);
    const auto records = run.recordsSent();
    ASSERT_EQ(records.size(), 1974u);
    for (int i = 0; i < 1974; ++i)
        ASSERT_EQ(records[static_cast<std::size_t>(i)], i + 1);
    const std::string out = run.out.text();
    EXPECT_TRUE(contains(out, "record 1 of 1974 (0%)")) << out;
    EXPECT_TRUE(contains(out, "record 1974 of 1974 (100%)")) << out;
    EXPECT_TRUE(out.ends_with("\nTRANSMISSÃO CONCLUIDA !!\n")) << out;
    EXPECT_EQ(run.errors.text(), "");
    EXPECT_EQ(run.pump.silences, 2); // the two seconds of listening before the command
}

TEST(TorvinUploadSession, ABoardThatNeverAnswersEndsTheRunAfterFiveSends) {
    SessionRig run;
    run.board.responder = [](const Item&) { return Reply{}; };
    EXPECT_EQ(run.session.run(), ExitStatus::noAnswer);
    EXPECT_EQ(run.commandsSent(), 5);
    EXPECT_FALSE(run.board.Connected());
    EXPECT_EQ(run.pump.now() - Clock::time_point{}, 2s + 5s); // listening, then five sends
    const std::string out = run.out.text();
    EXPECT_TRUE(contains(out, "programming-mode command: no answer, sending again (send 5 of 5)"))
        << out;
    EXPECT_TRUE(out.ends_with("PLACA NÃO RESPONDE !\n")) << out;
}

TEST(TorvinUploadSession, SilenceAndRefusalsBelowTheLimitsOnlySlowTheRun) {
    SessionRig run;
    std::map<int, int> refused, unanswered;
    run.board.responder = [&](const Item& item) -> Reply {
        if (item.record == 10 && unanswered[10]++ < 4) return {};
        if (item.record == 20 && refused[20]++ < 3) return {"[R]"};
        return ScriptedBoard::monitorAnswer(item);
    };
    EXPECT_EQ(run.session.run(), ExitStatus::completed);
    const std::string out = run.out.text();
    EXPECT_TRUE(contains(out, "record 10: no answer, sending again (send 5 of 5)")) << out;
    EXPECT_TRUE(contains(out, "record 20: refused by the board")) << out;
    // Four copies of record 10 went unanswered: record 11 waits a second for their answers
    // instead of going out among them, and then goes once.
    EXPECT_EQ(run.recordsSent().size(), 1974u + 4 + 3);
}

TEST(TorvinUploadSession, EachRefusalOfTheMonitorHasItsStatusAndWords) {
    const std::vector<std::tuple<std::string, ExitStatus, std::string_view>> cases = {
        {"[I]", ExitStatus::monitorVersion, upload::messageOldMonitor},
        {"[J]", ExitStatus::monitorVersion, upload::messageInvalidMonitor},
        {"[K]", ExitStatus::monitorVersion, upload::messageInvalidMonitor},
    };
    for (const auto& [reply, status, words] : cases) {
        SessionRig run;
        // Copied by name: Clang 14 cannot capture a structured binding.
        run.board.responder = [reply = reply](const Item&) { return Reply{reply}; };
        EXPECT_EQ(run.session.run(), status);
        EXPECT_TRUE(run.out.text().ends_with(std::string(words) + "\n")) << run.out.text();
    }

    SessionRig rejected;
    rejected.board.responder = [](const Item& item) -> Reply {
        if (item.record == 7) return {"[R]"};
        return ScriptedBoard::monitorAnswer(item);
    };
    EXPECT_EQ(rejected.session.run(), ExitStatus::recordRejected);
    EXPECT_TRUE(rejected.out.text().ends_with("\nREGISTRO 7 RECUSADO PELA PLACA !\n"))
        << rejected.out.text();
    EXPECT_TRUE(rejected.board.Connected()); // as the window leaves it

    // The command refused: no record 0, and the board was not silent.
    SessionRig command;
    command.board.responder = [](const Item& item) -> Reply {
        if (item.kind == Item::Kind::Command) return {"[R]"};
        return {};
    };
    EXPECT_EQ(command.session.run(), ExitStatus::recordRejected);
    const std::string out = command.out.text();
    EXPECT_TRUE(out.ends_with("\nCOMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA !\n")) << out;
    EXPECT_TRUE(contains(out, "programming-mode command: refused, sending again (send 2 of 5)"))
        << out;
    EXPECT_FALSE(contains(out, "no answer")) << out;

    // On a line whose rate is known, answers sooner than anything sent could cross it: they
    // cannot be matched to what was sent.
    SessionRig instant;
    instant.board.rate = 9600;
    EXPECT_EQ(instant.session.run(), ExitStatus::unconfirmed);
    EXPECT_TRUE(instant.out.text().ends_with(std::string(upload::messageUncertain) + "\n"))
        << instant.out.text();
    EXPECT_TRUE(contains(instant.errors.text(), "could not be matched to the records sent"))
        << instant.errors.text();
    EXPECT_TRUE(instant.recordsSent().empty());
}

TEST(TorvinUploadSession, ARestartSendsTheImageAgainFromRecordOne) {
    SessionRig run;
    bool restarted = false;
    run.board.responder = [&](const Item& item) -> Reply {
        if (item.record == 100 && !restarted) {
            restarted = true;
            return {"[L]"};
        }
        return ScriptedBoard::monitorAnswer(item);
    };
    EXPECT_EQ(run.session.run(), ExitStatus::completed);
    EXPECT_EQ(run.recordsSent().size(), 1974u + 100);
    EXPECT_TRUE(contains(run.out.text(), "the board asked to start again: record 1 of 1974"));
}

TEST(TorvinUploadSession, PortFailuresEndTheRunWithTheComponentsMessage) {
    SessionRig closed;
    closed.board.openFailure = "Unable to open com port (Error: 2)";
    EXPECT_EQ(closed.session.run(), ExitStatus::portError);
    EXPECT_EQ(closed.errors.text(), "torvin-upload: Unable to open com port (Error: 2)\n");
    EXPECT_TRUE(closed.board.items().empty());

    // The line breaks in the middle of a record that a reply asked for: the failure comes out of
    // the received-characters event, not out of the loop.
    SessionRig broken;
    broken.board.writeBudget = 6 + 22 * 50;
    broken.session.describe = [](const std::exception& e) {
        return std::string("port COM3: ") + e.what();
    };
    EXPECT_EQ(broken.session.run(), ExitStatus::portError);
    EXPECT_EQ(broken.errors.text(),
              "torvin-upload: port COM3: Write error on the serial port (Error: 5)\n");
    EXPECT_FALSE(broken.window.timer1().enabled());
}
