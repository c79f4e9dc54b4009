// The Monitor's replies: refusals, restarts, version stops, and replies that arrive split, among
// noise or doubled.

#include "tests/support/UploadRunHelpers.h"
#include "tests/support/scripted/UploadRig.h"
#include "upload/UploadTexts.h"

#include <gtest/gtest.h>

using namespace upload;
using namespace upload::scripted;
using namespace testsupport;
using Strings = std::vector<std::string>;

namespace {

// Answers "[R]" the first `refusals` times record `record` arrives, as the Monitor otherwise.
std::function<Reply(const Item&)> refusing(int record, int refusals) {
    return [record, refusals, seen = 0](const Item& item) mutable {
        if (item.record == record && seen++ < refusals) return Reply{"[R]"};
        return ScriptedBoard::monitorAnswer(item);
    };
}

// Answers every item in the same chunks.
std::function<Reply(const Item&)> always(Reply reply) {
    return [reply](const Item&) { return reply; };
}

} // namespace

TEST(Replies, ThreeRefusalsSendTheRecordFourTimesAndTheRunGoesOn) {
    UploadRig rig;
    rig.board.responder = refusing(10, 3);
    EXPECT_EQ(rig.openStartAndRun(), 0);

    auto expected = oneTo(10);
    expected.insert(expected.end(), {10, 10, 10});
    for (int n = 11; n <= 1974; ++n)
        expected.push_back(n);
    EXPECT_EQ(recordsReceived(rig.board), expected);
    EXPECT_EQ(entriesOf(rig.log.entries(), "Label8 "), (Strings{"1", "2", "3"}));
    // The next record counts afresh while the label keeps the old count; attempts untouched.
    EXPECT_EQ(rig.window.label8, "3");
    EXPECT_EQ(rig.logic.errorCount(), 0);
    EXPECT_EQ(rig.window.label4, "0");
    EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
}

TEST(Replies, FourthRefusalStopsQuietlyWithThePortOpenAndANewRunPossible) {
    UploadRig rig;
    rig.board.responder = refusing(10, 4);
    EXPECT_EQ(rig.openStartAndRun(), 0);

    const Strings& all = rig.log.entries();
    EXPECT_EQ(Strings(all.end() - 3, all.end()), (Strings{"Label8 4", "Timer1 off", "BitBtn6 on"}));
    EXPECT_EQ(recordsReceived(rig.board).size(), 13u); // 1..9, then record 10 four times
    EXPECT_TRUE(rig.window.messages.empty());
    EXPECT_TRUE(rig.board.Connected());
    EXPECT_TRUE(rig.window.bitBtn2Enabled);
    EXPECT_TRUE(rig.window.bitBtn6Enabled);
    EXPECT_FALSE(rig.window.timer1Enabled);

    rig.press();
    EXPECT_EQ(rig.logic.errorCount(), 0);
    rig.run();
    EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
}

TEST(Replies, RestartGoesBackToRecordOneKeepingTheCounters) {
    UploadRig rig;
    int restarts = 0;
    rig.board.responder = [&](const Item& item) {
        if (item.record == 100 && restarts++ == 0) return Reply{"[L]"};
        return ScriptedBoard::monitorAnswer(item);
    };
    rig.openAndStart();
    const auto mark = rig.log.mark();
    rig.run();

    auto expected = oneTo(100);
    const auto again = oneTo(1974);
    expected.insert(expected.end(), again.begin(), again.end());
    EXPECT_EQ(recordsReceived(rig.board), expected);
    // Record 1 goes out again without touching the labels; the next "[N]" shows record 2.
    const auto labels = entriesOf(rig.log.since(mark), "Label7 ");
    EXPECT_EQ(labels[99], "100");
    EXPECT_EQ(labels[100], "2");
    EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
}

class VersionStop : public testing::TestWithParam<std::pair<const char*, std::string_view>> {};

TEST_P(VersionStop, StopsWithTheMessageTheStartButtonDisabledAndThePortOpen) {
    const auto [reply, message] = GetParam();
    for (int atRecord : {0, 50}) {
        UploadRig rig;
        // Copied by name: Clang 14 cannot capture a structured binding.
        rig.board.responder = [reply = reply, atRecord](const Item& item) {
            if (item.record == atRecord) return Reply{reply};
            return ScriptedBoard::monitorAnswer(item);
        };
        EXPECT_EQ(rig.openStartAndRun(), 0);
        const Strings& all = rig.log.entries();
        EXPECT_EQ(Strings(all.end() - 5, all.end()),
                  (Strings{"BitBtn2 off", "Timer1 off", "message " + std::string(message),
                           "BitBtn6 on", "Timer1 off"}));
        EXPECT_EQ(recordsReceived(rig.board).size(), static_cast<std::size_t>(atRecord));
        EXPECT_TRUE(rig.board.Connected());
        EXPECT_FALSE(rig.window.bitBtn2Enabled);
        EXPECT_TRUE(rig.window.bitBtn6Enabled);
        EXPECT_EQ(rig.window.messages.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Monitor, VersionStop,
                         testing::Values(std::pair{"[I]", messageOldMonitor},
                                         std::pair{"[J]", messageInvalidMonitor},
                                         std::pair{"[K]", messageInvalidMonitor}));

TEST(Replies, SplitPrecededByNoiseOrDoubledAreActedOnOnce) {
    const Reply shapes[] = {{"[", "N]"},   {"[N", "]"}, {"\r\n\x7F[N]"},
                            {"[R", "[N]"}, {"[N][N]"},  {"[N", "][N]"}};
    for (const auto& shape : shapes) {
        UploadRig rig;
        rig.board.responder = always(shape);
        EXPECT_EQ(rig.openStartAndRun(), 0);
        EXPECT_EQ(commandsReceived(rig.board), 1);
        EXPECT_EQ(recordsReceived(rig.board), oneTo(1974));
        EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
    }
}

// A Monitor that ends its replies with a line end, or bytes that come in the same read after a
// reply, must not hide it: a hidden "[L]" would let the run go on as if the board still held the
// records before it.
TEST(Replies, AReplyIsActedOnWhateverBytesFollowItInTheSameRead) {
    for (const std::string restart : {"[L]\r\n", "[L]x", "x[L]\r\n[x"}) {
        UploadRig rig(firmwareImage().first(8), 8);
        bool restarted = false;
        rig.board.responder = [&](const Item& item) {
            if (item.record == 4 && !restarted) {
                restarted = true;
                return Reply{restart};
            }
            return ScriptedBoard::monitorAnswer(item);
        };
        EXPECT_EQ(rig.openStartAndRun(), 0);
        EXPECT_EQ(recordsReceived(rig.board),
                  (std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8}))
            << restart;
        EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
    }
}

TEST(Replies, AnAnswerToNothingMovesNothing) {
    // While the port is open and idle.
    UploadRig idle;
    idle.board.responder = always({});
    idle.press();
    idle.board.send({"[N]"});
    idle.deliver();
    EXPECT_TRUE(idle.board.items().empty());
    EXPECT_FALSE(idle.window.timer1Enabled);

    // After four refusals stopped the run: the refused record is not skipped.
    UploadRig stopped;
    stopped.board.responder = refusing(10, 4);
    stopped.openStartAndRun();
    stopped.board.send({"[N]"});
    stopped.deliver();
    EXPECT_EQ(recordsReceived(stopped.board).size(), 13u);
    EXPECT_FALSE(stopped.window.timer1Enabled);
    EXPECT_EQ(stopped.window.label7, "10");
}

TEST(Replies, RefusalWhileTheCommandIsOutstandingSendsAnEmptyLine) {
    UploadRig rig;
    int answers = 0;
    rig.board.responder = [&](const Item& item) {
        return answers++ == 0 ? Reply{"[R]"} : ScriptedBoard::monitorAnswer(item);
    };
    rig.openAndStart();
    const auto mark = rig.log.mark();
    rig.deliver();
    EXPECT_EQ(rig.log.since(mark), (Strings{"Label8 1", "Timer1 off", "writeText :", "Timer1 on"}));
    EXPECT_EQ(rig.logic.recordIndex(), 0);

    // The run goes on from the command, re-sent by the timer.
    EXPECT_EQ(rig.run(), 1);
    EXPECT_EQ(commandsReceived(rig.board), 2);
    EXPECT_EQ(recordsReceived(rig.board), oneTo(1974));
}

TEST(Replies, RepliesDuringTheNoAnswerBoxAreActedOnBeforeThePortCloses) {
    UploadRig rig;
    rig.board.responder = always({});
    rig.window.onMessage = [&](const std::string&) {
        rig.board.send({"[N]"});
        rig.deliver();
    };
    EXPECT_EQ(rig.openStartAndRun(), 5);
    // Taken from inside the box; the command's other four copies still owe answers that may undo
    // it, so record 1 waits for them, and the port closes first.
    EXPECT_EQ(rig.window.label7, "0");
    EXPECT_TRUE(recordsReceived(rig.board).empty());
    EXPECT_FALSE(rig.window.timer1Enabled); // the run still ends
    EXPECT_FALSE(rig.board.Connected());
    EXPECT_TRUE(rig.window.bitBtn6Enabled);
}
