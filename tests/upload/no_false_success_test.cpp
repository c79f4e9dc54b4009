// One rule over boards that are slow, late, or still talking from before: a run shows
// "TRANSMISSÃO CONCLUIDA !!" only if the board accepted every record of that run. Each case is a
// board within the bound the logic relies on (while it has answers to give it is never silent
// longer than the quiet time), so each must also end in completion, only later.

#include "tests/support/UploadRunHelpers.h"
#include "tests/support/scripted/UploadRig.h"
#include "upload/UploadTexts.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

using namespace upload;
using namespace upload::scripted;
using namespace std::chrono_literals;

namespace {

constexpr std::int32_t records = 12;

// A board whose Monitor follows what it was sent: what it accepted since its latest command.
struct Board {
    std::set<int> accepted;
    std::map<int, int> sends; // per record, over the whole test
    // Answers one item: "" means the board stays silent.
    std::function<std::string(const Item&, int send)> answer = [](const Item&, int) {
        return std::string("[N]");
    };

    void attach(UploadRig& rig) {
        rig.board.responder = [this](const Item& item) -> Reply {
            if (item.kind == Item::Kind::Command) {
                accepted.clear();
                return {answer(item, 0)};
            }
            const std::string a = answer(item, ++sends[item.record]);
            if (a == "[N]") accepted.insert(item.record);
            if (a.empty()) return {};
            return {a};
        };
    }
};

// Refuses (or ignores) the first `count` sends of record `record`.
std::function<std::string(const Item&, int)> spoiling(int record, int count, std::string reply) {
    return [=](const Item& item, int send) {
        return item.record == record && send <= count ? reply : std::string("[N]");
    };
}

struct Case {
    const char* name;
    std::function<void(UploadRig&, Board&)> play; // leaves the run going on, or ended
    std::string_view outcome = messageCompleted;
};

// About 1.1 s, a little more or less from one answer to the next, as a busy board would be.
std::chrono::milliseconds late(const Item& item) {
    return 1100ms + std::chrono::milliseconds(item.sequence * 7 % 20) - 10ms;
}

// The run goes on until `done` holds, in steps of the rig's clock.
void runUntil(UploadRig& rig, const std::function<bool()>& done) {
    for (int i = 0; i < 10000 && !done(); ++i)
        rig.runFor(10ms);
}

const Case cases[] = {
    {"answers 1.1 s late, a record refused twice",
     [](UploadRig& rig, Board& b) {
         rig.board.answerDelay = late;
         b.answer = spoiling(6, 2, "[R]");
         rig.openAndStart();
     }},
    {"answers 1.1 s late, a record lost twice",
     [](UploadRig& rig, Board& b) {
         rig.board.answerDelay = late;
         b.answer = spoiling(6, 2, "");
         rig.openAndStart();
     }},
    {"an answer waiting in the port before the command",
     [](UploadRig& rig, Board& b) {
         b.answer = spoiling(6, 2, "[R]");
         rig.press();
         rig.pause(5s);
         rig.board.send({"[N]"});
         rig.board.arrive();
         rig.press();
     }},
    {"an answer on its way when the run starts",
     [](UploadRig& rig, Board& b) {
         b.answer = spoiling(6, 2, "[R]");
         // Opened and started at once, as torvin-upload does, with the board still answering an
         // item another program sent just before.
         rig.press();
         rig.board.send({"[N]"}, rig.window.time + 1500ms);
         rig.press();
     }},
    {"a new run while the answers of a failed one still come",
     [](UploadRig& rig, Board& b) {
         // Record 3 is answered 5.5 s late five times over: the run fails with no answer, and
         // the answers come while the next run starts.
         rig.board.answersOutliveClose = true;
         rig.board.answerDelay = [&b](const Item& item) {
             return item.record == 3 && b.sends[3] <= 5 ? 5500ms : 0ms;
         };
         b.answer = spoiling(6, 2, "[R]");
         rig.openAndStart();
         runUntil(rig, [&] { return !rig.board.Connected(); });
         ASSERT_EQ(rig.window.messages, std::vector<std::string>{std::string(messageNoAnswer)});
         rig.window.messages.clear();
         rig.press();
         rig.press();
     }},
    {"a press during a stall",
     [](UploadRig& rig, Board& b) {
         rig.board.answerDelay = late;
         b.answer = [](const Item& item, int send) {
             // Refused twice in the run the press starts.
             return item.record == 6 && send >= 3 && send <= 4 ? "[R]" : "[N]";
         };
         rig.openAndStart();
         runUntil(rig, [&] { return rig.logic.recordIndex() == 6; });
         rig.runFor(1050ms); // the retry of record 6 is on its way too
         rig.press();
     }},
    {"bytes a failed read left in the port, then a press",
     [](UploadRig& rig, Board& b) {
         rig.board.answerDelay = [](const Item&) { return 20ms; };
         b.answer = spoiling(6, 2, "[R]");
         rig.openAndStart();
         runUntil(rig, [&] { return rig.logic.recordIndex() == 4; });
         // Record 4's "[N]" arrives, and reading it fails.
         ASSERT_TRUE(rig.board.arrive());
         rig.board.readFailure = "Read error on the serial port (Error: 5)";
         EXPECT_ANY_THROW(rig.logic.ComPort1RxChar(rig.board.bytesWaiting()));
         rig.board.readFailure.reset();
         rig.pause(3s);
         rig.press();
         // The port tells of whatever still waits in it.
         if (rig.board.bytesWaiting() > 0) rig.logic.ComPort1RxChar(rig.board.bytesWaiting());
     }},
    {"an answer sooner than its record could cross the line",
     [](UploadRig& rig, Board&) {
         rig.board.rate = 9600;
         rig.board.answerDelay = [](const Item&) { return 30ms; }; // a record's line time
         rig.openAndStart();
         runUntil(rig, [&] { return rig.logic.recordIndex() == 5; });
         rig.board.send({"[N]"}); // unasked, as the record goes out
     },
     messageUncertain},
    {"a line that never falls quiet while answers are owed",
     [](UploadRig& rig, Board& b) {
         // Record 4 is accepted on its first send, 1.1 s late, and its retry never answered:
         // the next record waits for a quiet line, and noise never lets it fall quiet.
         rig.board.answerDelay = [](const Item&) { return 1100ms; };
         b.answer = [](const Item& item, int send) {
             return item.record == 4 && send == 2 ? "" : "[N]";
         };
         rig.openAndStart();
         runUntil(rig, [&] { return rig.logic.recordIndex() == 4; });
         for (int i = 0; i < 400 && rig.window.timer1Enabled; ++i) {
             rig.runFor(500ms);
             rig.board.send({"?"});
         }
     },
     messageUncertain},
};

} // namespace

TEST(NoFalseSuccess, CompletionOnlyIfTheBoardAcceptedEveryRecord) {
    for (const Case& c : cases) {
        UploadRig rig(firmwareImage().first(records), records);
        Board board;
        board.attach(rig);
        c.play(rig, board);
        rig.run(2000);

        const bool completed = std::count(rig.window.messages.begin(), rig.window.messages.end(),
                                          std::string(messageCompleted)) > 0;
        if (completed) {
            for (int r = 1; r <= records; ++r)
                EXPECT_TRUE(board.accepted.count(r)) << c.name << ": record " << r << " missing";
        }
        EXPECT_EQ(rig.window.messages, std::vector<std::string>{std::string(c.outcome)}) << c.name;
    }
}
