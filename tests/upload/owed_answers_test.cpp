// What a run leaves the next one: the answers the board may still owe, kept through the port
// before the bytes that add to them go out and whenever they change, and the next run's wait for
// them, which ends as soon as they have all come.

#include "tests/support/UploadRunHelpers.h"
#include "tests/support/scripted/UploadRig.h"
#include "upload/UploadTexts.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace upload;
using namespace upload::scripted;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// A process killed while an item goes out must leave a state that knows of that item: by each
// item's last byte (the command, records, a retry, the resends after "[R]" and "[L]"), what the
// port keeps owes its answer.
TEST(OwedAnswers, AreKeptBeforeEachItemGoesOut) {
    UploadRig rig(firmwareImage().first(4), 4);
    std::map<int, int> sends;
    std::vector<std::string> unkept;
    rig.board.responder = [&](const Item& item) -> Reply {
        if (!rig.board.kept || rig.board.kept->answers < 1 || rig.board.keptAt != rig.window.time)
            unkept.push_back(item.text);
        if (item.kind == Item::Kind::Command) return {"[N]"};
        const int n = ++sends[item.record];
        if (item.record == 2 && n == 1) return {}; // the retry sends it again
        if (item.record == 3 && n == 1) return {"[R]"};
        if (item.record == 4 && n == 1) return {"[L]"};
        return {"[N]"};
    };
    rig.openStartAndRun();
    EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
    EXPECT_EQ(unkept, Strings{});
}

// A late answer lengthens the quiet time; the stops it brings must leave the longer time, and
// the retry still owed, for the next run.
TEST(OwedAnswers, TheStopsKeepWhatTheirLastAnswerTaught) {
    struct Case {
        const char* reply;
        int lateSend; // the send of record 1 whose answer comes 1.9 s late, after a retry
    };
    for (const Case c : {Case{"[I]", 1}, Case{"[R]", 4}}) {
        UploadRig rig(firmwareImage().first(3), 3);
        std::map<int, int> sends;
        rig.board.answerDelay = [&](const Item& item) {
            return item.record == 1 && sends[1] == c.lateSend ? 1900ms : 0ms;
        };
        rig.board.responder = [&](const Item& item) -> Reply {
            if (item.kind == Item::Kind::Command) return {"[N]"};
            return ++sends[item.record] <= c.lateSend ? Reply{c.reply} : Reply{};
        };
        rig.openStartAndRun();
        ASSERT_TRUE(rig.board.kept) << c.reply;
        EXPECT_GT(rig.logic.quietTime(), 2s) << c.reply;
        EXPECT_EQ(rig.board.kept->quiet, rig.logic.quietTime()) << c.reply;
        EXPECT_EQ(rig.board.kept->answers, 1) << c.reply;
    }
}

// Two answers owed by an earlier run that may take 30 s: once both have come and the line has
// been quiet for the quiet time, the command goes out.
TEST(OwedAnswers, TheWaitForThemEndsOnceTheyHaveAllCome) {
    UploadRig rig(firmwareImage().first(3), 3);
    rig.board.kept = OwedAnswers{2, 7s, 30s};
    std::optional<std::chrono::steady_clock::time_point> commandAt;
    rig.board.responder = [&](const Item& item) {
        if (item.kind == Item::Kind::Command && !commandAt) commandAt = rig.window.time;
        return ScriptedBoard::monitorAnswer(item);
    };
    const auto start = rig.window.time;
    rig.press();
    EXPECT_EQ(rig.logic.earlierAnswersWait(), 30s);
    rig.board.send({"[N]"}, start + 1s);
    rig.board.send({"[N]"}, start + 2s);
    rig.press();
    rig.run();
    ASSERT_TRUE(commandAt);
    EXPECT_GE(*commandAt - start, 4s);
    EXPECT_LE(*commandAt - start, 5s);
    EXPECT_EQ(rig.logic.earlierAnswersWait(), 0s);
    EXPECT_EQ(rig.window.messages, Strings{std::string(messageCompleted)});
}
