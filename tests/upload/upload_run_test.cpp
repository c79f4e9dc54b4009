// Whole upload runs against the scripted board: the bytes on the wire, the window's controls and
// the messages, from the first press of the start button to the end of the run.

#include "framework/Exception.h"
#include "tests/support/UploadRunHelpers.h"
#include "tests/support/scripted/UploadRig.h"
#include "upload/UploadTexts.h"

#include <gtest/gtest.h>

#include <map>

using namespace upload;
using namespace upload::scripted;
using namespace testsupport;
using Strings = std::vector<std::string>;

namespace {

const std::string completed(messageCompleted);
const std::string noAnswer(messageNoAnswer);

} // namespace

TEST(UploadRun, FirstPressOpensThePortNamedInTheListOrCom1) {
    UploadRig rig;
    rig.press();
    EXPECT_EQ(rig.log.entries(),
              (Strings{"setPort COM1", "openPort", "Shape1 00FF00", "setDtrLine on",
                       "setRtsLine off", "BitBtn2 caption Iniciar", "Label2 1974", "Label4 0"}));
    EXPECT_TRUE(rig.board.dtr());
    EXPECT_FALSE(rig.board.rts());
    EXPECT_TRUE(rig.board.wire().empty());
    EXPECT_FALSE(rig.window.timer1Enabled);

    UploadRig picked;
    picked.window.comboText = "COM7";
    picked.press();
    EXPECT_EQ(picked.board.portName(), "COM7");
}

TEST(UploadRun, CleanRunSendsTheCommandOnceAndEveryRecordOnceInOrder) {
    UploadRig rig;
    rig.press();
    rig.pause(rig.logic.quietTime()); // the line heard quiet: the command goes at once
    const auto startMark = rig.log.mark();
    rig.press();
    EXPECT_EQ(rig.log.since(startMark),
              (Strings{"BitBtn6 off", "writeText (%P31)", "Timer1 on", "openPort", "setDtrLine on",
                       "setRtsLine off", "BitBtn2 caption Iniciar", "Label2 1974", "Label4 0"}));
    EXPECT_EQ(rig.run(), 0);

    // Exactly the command, then each record line as ':' and its raw bytes, nothing else.
    std::vector<std::uint8_t> expected(programmingModeCommand.begin(),
                                       programmingModeCommand.end());
    for (int n = 1; n <= 1974; ++n) {
        const auto bytes = recordOnWire(firmwareImage()[static_cast<std::size_t>(n - 1)]);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(rig.board.wire(), expected);
    EXPECT_EQ(commandsReceived(rig.board), 1);
    EXPECT_EQ(recordsReceived(rig.board), oneTo(1974));

    EXPECT_EQ(rig.window.messages, Strings{completed});
    EXPECT_EQ(rig.window.progress, 100);
    EXPECT_EQ(rig.window.label7, "1974");
    EXPECT_EQ(rig.window.label4, "0");
    EXPECT_EQ(rig.window.label8, "0");
    EXPECT_FALSE(rig.window.bitBtn2Enabled);
    EXPECT_TRUE(rig.window.bitBtn6Enabled);
    EXPECT_FALSE(rig.window.timer1Enabled);
    EXPECT_EQ(rig.window.lamp, lampLime);
    EXPECT_TRUE(rig.board.Connected());

    // Progress is record x 100 / 1974, truncated.
    const auto progress = entriesOf(rig.log.entries(), "ProgressBar1 ");
    ASSERT_EQ(progress.size(), 1974u);
    EXPECT_EQ(progress[0], "0");
    EXPECT_EQ(progress[18], "0");
    EXPECT_EQ(progress[19], "1");
    EXPECT_EQ(progress[1972], "99");
    EXPECT_EQ(progress[1973], "100");

    // The last acknowledgement ends the run before the message, which comes with the timer off.
    const Strings& all = rig.log.entries();
    EXPECT_EQ(Strings(all.end() - 4, all.end()),
              (Strings{"BitBtn6 on", "BitBtn2 off", "Timer1 off", "message " + completed}));
}

TEST(UploadRun, CompletionIsShownOncePerRunHoweverManyAcknowledgementsFollow) {
    UploadRig rig;
    rig.openStartAndRun();
    ASSERT_EQ(rig.window.messages.size(), 1u);
    // More than an 8-bit counter could hold.
    for (int i = 0; i < 300; ++i)
        rig.board.send({"[N]"});
    rig.deliver();
    EXPECT_EQ(rig.window.messages.size(), 1u);
    EXPECT_EQ(rig.window.progress, 100);
    EXPECT_EQ(rig.window.label7, "1974");
    EXPECT_FALSE(rig.window.bitBtn2Enabled);
    EXPECT_TRUE(rig.window.bitBtn6Enabled);
    EXPECT_FALSE(rig.window.timer1Enabled);
    EXPECT_EQ(recordsReceived(rig.board).size(), 1974u);
}

TEST(UploadRun, SilentBoardGetsTheCommandFiveTimesThenThePortCloses) {
    UploadRig rig;
    rig.board.responder = [](const Item&) { return Reply{}; };
    rig.openAndStart();
    const auto mark = rig.log.mark();
    EXPECT_EQ(rig.run(), 5);

    EXPECT_EQ(commandsReceived(rig.board), 5);
    EXPECT_EQ(entriesOf(rig.log.since(mark), "Label4 "), (Strings{"2", "3", "4", "5"}));
    EXPECT_EQ(rig.window.messages, Strings{noAnswer});
    const Strings& all = rig.log.entries();
    EXPECT_EQ(Strings(all.end() - 6, all.end()),
              (Strings{"Timer1 off", "message " + noAnswer, "Timer1 off", "BitBtn6 on", "closePort",
                       "Shape1 FFFFFF"}));
    EXPECT_FALSE(rig.board.Connected());
    EXPECT_EQ(rig.window.lamp, lampWhite);
    EXPECT_EQ(rig.window.bitBtn2Caption, "Iniciar");
    EXPECT_TRUE(rig.window.bitBtn2Enabled);
    EXPECT_TRUE(rig.window.bitBtn6Enabled);

    // The start button opens the port again; the next press starts a new run that completes.
    rig.board.responder = &ScriptedBoard::monitorAnswer;
    rig.press();
    EXPECT_TRUE(rig.board.Connected());
    EXPECT_EQ(rig.window.lamp, lampLime);
    EXPECT_EQ(commandsReceived(rig.board), 5);
    rig.press();
    rig.run();
    EXPECT_EQ(rig.window.messages, (Strings{noAnswer, completed}));
}

TEST(UploadRun, BoardFallingSilentMidRunGetsTheRecordFiveTimes) {
    UploadRig rig;
    rig.board.responder = [](const Item& item) {
        return item.record == 300 ? Reply{} : ScriptedBoard::monitorAnswer(item);
    };
    EXPECT_EQ(rig.openStartAndRun(), 5);
    auto sent = recordsReceived(rig.board);
    ASSERT_EQ(sent.size(), 304u);
    EXPECT_EQ(std::vector<int>(sent.end() - 5, sent.end()), std::vector<int>(5, 300));
    EXPECT_EQ(rig.window.label7, "300");
    EXPECT_EQ(rig.window.label4, "5");
    EXPECT_EQ(rig.window.messages, Strings{noAnswer});
    EXPECT_FALSE(rig.board.Connected());
}

TEST(UploadRun, FirstPressWhoseOpenFailsChangesNothingButShowsTheError) {
    UploadRig rig;
    rig.board.openFailure = "Unable to open com port (Error: 2)";
    EXPECT_THROW(rig.press(), fw::Exception);
    EXPECT_EQ(rig.log.entries(), (Strings{"setPort COM1", "openPort"}));
    EXPECT_EQ(rig.window.bitBtn2Caption, "Abre Porta");
    EXPECT_EQ(rig.window.lamp, lampWhite);
    EXPECT_EQ(rig.window.label2, "0");

    // After a failed run a second failure to open leaves "Iniciar" and the white lamp.
    UploadRig failed;
    failed.board.responder = [](const Item&) { return Reply{}; };
    failed.openStartAndRun();
    failed.board.openFailure = "Unable to open com port (Error: 16)";
    EXPECT_THROW(failed.press(), fw::Exception);
    EXPECT_EQ(failed.window.bitBtn2Caption, "Iniciar");
    EXPECT_EQ(failed.window.lamp, lampWhite);
}

TEST(UploadRun, StartPressedDuringARunStartsAgainFromTheCommand) {
    UploadRig rig;
    rig.board.responder = [](const Item& item) {
        return item.record == 500 ? Reply{} : ScriptedBoard::monitorAnswer(item);
    };
    rig.openAndStart();
    rig.deliver();
    ASSERT_TRUE(rig.tick()); // record 500 again, still unanswered
    ASSERT_EQ(rig.window.label4, "2");

    rig.board.responder = &ScriptedBoard::monitorAnswer;
    const auto mark = rig.log.mark();
    rig.press();
    // The command waits for the line to be quiet: the silent record's answer may still come.
    EXPECT_EQ(rig.log.since(mark),
              (Strings{"BitBtn6 off", "Timer1 on", "openPort", "setDtrLine on", "setRtsLine off",
                       "BitBtn2 caption Iniciar", "Label2 1974", "Label4 0"}));
    EXPECT_EQ(rig.logic.recordIndex(), 0);
    EXPECT_EQ(rig.run(), 2); // two seconds of quiet, then the records need no retry

    auto expected = oneTo(500);
    expected.push_back(500);
    const auto again = oneTo(1974);
    expected.insert(expected.end(), again.begin(), again.end());
    EXPECT_EQ(recordsReceived(rig.board), expected);
    EXPECT_EQ(commandsReceived(rig.board), 2);
    EXPECT_EQ(rig.window.messages, Strings{completed});
}

namespace {

// 1..n, with `extra` appended.
std::vector<int> then(std::vector<int> first, const std::vector<int>& extra) {
    first.insert(first.end(), extra.begin(), extra.end());
    return first;
}

// 1..n, then n + 1 to 1974.
std::vector<int> onToTheEnd(std::vector<int> sent) {
    for (int n = sent.back() + 1; n <= 1974; ++n)
        sent.push_back(n);
    return sent;
}

} // namespace

TEST(UploadRun, AStallAnsweredCopyByCopyThenARefusalLosesNoRecord) {
    // The board sits on a record past two retries, then answers each of the three copies in its
    // own event, and refuses the next record once. Also on the last records: completion waits
    // for the answer to the last one.
    for (int stalled : {200, 1973}) {
        UploadRig rig;
        int copies = 0;
        bool refused = false;
        rig.board.responder = [&](const Item& item) -> Reply {
            if (item.record == stalled && copies++ < 3) return {};
            if (item.record == stalled + 1 && !refused) {
                refused = true;
                return {"[R]"};
            }
            return ScriptedBoard::monitorAnswer(item);
        };
        rig.openAndStart();
        rig.deliver();
        ASSERT_TRUE(rig.tick());
        ASSERT_TRUE(rig.tick());
        rig.board.send({"[N]", "[N]", "[N]"});
        rig.run();

        const auto expected =
            onToTheEnd(then(oneTo(stalled), {stalled, stalled, stalled + 1, stalled + 1}));
        EXPECT_EQ(recordsReceived(rig.board), expected) << stalled;
        EXPECT_EQ(rig.window.messages, Strings{completed}) << stalled;
        EXPECT_EQ(rig.window.label7, "1974");
    }
}

TEST(UploadRun, TwoStallsInARowThenARefusalLoseNoRecord) {
    // After a stall answered copy by copy, the board sits on the next record past a retry too,
    // answers both of its copies, then refuses the one after once. The answers absorbed in that
    // second were the earlier record's: none may be taken for this one's.
    UploadRig rig;
    std::map<int, int> copies;
    rig.board.responder = [&](const Item& item) -> Reply {
        const int seen = copies[item.record]++;
        if ((item.record == 200 && seen < 3) || (item.record == 201 && seen < 2)) return {};
        if (item.record == 202 && seen == 0) return {"[R]"};
        return ScriptedBoard::monitorAnswer(item);
    };
    rig.openAndStart();
    rig.deliver();
    ASSERT_TRUE(rig.tick());
    ASSERT_TRUE(rig.tick());
    rig.board.send({"[N]", "[N]", "[N]"});
    rig.deliver();
    ASSERT_TRUE(rig.tick());
    rig.board.send({"[N]", "[N]"});
    rig.run();

    EXPECT_EQ(recordsReceived(rig.board),
              onToTheEnd(then(oneTo(200), {200, 200, 201, 201, 202, 202})));
    EXPECT_EQ(rig.window.messages, Strings{completed});
}

TEST(UploadRun, StartPressedWithAReplyInFlightIgnoresThatReply) {
    // Once, or a double click, while the board's "[N]" to record 800 is on its way; the new run
    // has record 900 refused once. Nothing of the old run may move the new one.
    for (int presses : {1, 2}) {
        UploadRig rig;
        bool refused = false;
        rig.openAndStart();
        while (rig.logic.recordIndex() < 800 && rig.board.arrive())
            rig.logic.ComPort1RxChar(rig.board.bytesWaiting());
        ASSERT_TRUE(rig.board.replyWaiting());
        rig.board.responder = [&](const Item& item) -> Reply {
            if (item.record == 900 && !refused) {
                refused = true;
                return {"[R]"};
            }
            return ScriptedBoard::monitorAnswer(item);
        };
        for (int i = 0; i < presses; ++i)
            rig.press();
        // Two ticks of listening before the command; a prompt board needs no retry.
        EXPECT_EQ(rig.run(), 2) << presses;
        EXPECT_EQ(recordsReceived(rig.board), then(oneTo(800), onToTheEnd(then(oneTo(900), {900}))))
            << presses;
        EXPECT_EQ(commandsReceived(rig.board), 2);
        EXPECT_EQ(rig.window.messages, Strings{completed});
    }
}
