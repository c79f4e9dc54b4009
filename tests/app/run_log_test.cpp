// The window's runs in the run log named by TORVIN_RUN_LOG, against the simulated board.

#include "EventPump.h"
#include "FakeDialogs.h"

#include "app/RunRecorder.h"
#include "app/qt/FrameworkBridge.h"
#include "app/qt/TForm1.h"
#include "cli/torvin-upload/CapturedOutput.h"
#include "cli/torvin-upload/UploadSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/scripted/UploadRig.h"
#ifdef MONITOR_SIM_PATH
#include "tests/support/MonitorSimProcess.h"
#endif

#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>

namespace {

using namespace std::chrono_literals;

// Sets the variable for one test and takes it away again.
struct RunLogVariable {
    explicit RunLogVariable(const std::string& path) {
        ::setenv("TORVIN_RUN_LOG", path.c_str(), 1);
    }
    ~RunLogVariable() { ::unsetenv("TORVIN_RUN_LOG"); }
};

std::vector<nlohmann::json> logLines(const std::string& path) {
    std::ifstream file(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

using upload::scripted::Item;
using upload::scripted::Reply;
using upload::scripted::ScriptedBoard;

// torvin-upload's session on the scripted board; time moves only when the board is silent.
struct CommandLineRun : torvinupload::EventPump {
    upload::scripted::CallLog calls;
    ScriptedBoard board{calls};
    torvinupload::CapturedOutput out;
    torvinupload::ConsoleWindow window{"COM3", std::make_unique<torvinupload::NoProgress>(),
                                       out.file()};
    upload::UploadLogic logic{board, window};
    torvinupload::UploadSession session{logic, window, *this, out.file()};
    Clock::time_point time{};

    Clock::time_point now() override { return time; }
    void serve(Clock::time_point until) override {
        if (board.arrive())
            session.rxChar(board.bytesWaiting());
        else
            time = std::max(time, until);
    }
};

} // namespace

// Each way a run ends, with the exit status torvin-upload gives for the same end, so that the two
// programs' records compare. One test each, so that their waits run side by side.
struct RunEnd {
    const char* name;
    std::vector<std::string> fault;
    const char* outcome;
    upload::ExitStatus status;
    int refusals;
    bool errorBox; // the port's failure is told in a box of its own
    friend void PrintTo(const RunEnd& c, std::ostream* os) { *os << c.name; }
};

class WindowRunLogEnd : public ::testing::TestWithParam<RunEnd> {};

TEST_P(WindowRunLogEnd, IsRecordedWithItsOutcomeAndExitStatus) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    const RunEnd& c = GetParam();
    testsupport::TempDir dir;
    const std::string log = dir.file("runs.jsonl");
    RunLogVariable variable(log);
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge{dialogs};
    testsupport::MonitorSimProcess sim(MONITOR_SIM_PATH, c.fault);
    app::qt::TForm1 form(dialogs, sim.serialPath());
    form.BitBtn2->click();
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return !logLines(log).empty(); }, 60s)) << c.outcome;
    const auto lines = logLines(log);
    ASSERT_EQ(lines.size(), 1u);
    const auto& line = lines.front();
    EXPECT_EQ(line["program"], "torvin-updater");
    EXPECT_EQ(line["port"], sim.serialPath());
    EXPECT_EQ(line["outcome"], c.outcome);
    EXPECT_EQ(line["exit_status"], static_cast<int>(c.status));
    EXPECT_EQ(line["refusals"], c.refusals);
    EXPECT_EQ(line["image_records"], 1974);
    EXPECT_EQ(dialogs.texts(FakeDialogs::Error).empty(), !c.errorBox);
#endif
}

using upload::ExitStatus;
INSTANTIATE_TEST_SUITE_P(
    EveryEnd, WindowRunLogEnd,
    ::testing::Values(
        RunEnd{"Completed", {}, "TRANSMISSÃO CONCLUIDA !!", ExitStatus::completed, 0, false},
        RunEnd{"NoAnswer",
               {"--silent", "7:5"},
               "PLACA NÃO RESPONDE !",
               ExitStatus::noAnswer,
               0,
               false},
        RunEnd{"OldMonitor",
               {"--version-reply", "I"},
               "Monitor Versão Antiga !!",
               ExitStatus::monitorVersion,
               0,
               false},
        RunEnd{"InvalidMonitor",
               {"--version-reply", "K"},
               "Monitor Versão Não Válida !!",
               ExitStatus::monitorVersion,
               0,
               false},
        RunEnd{"Refused",
               {"--reject", "5:4"},
               "REGISTRO 5 RECUSADO PELA PLACA !",
               ExitStatus::recordRejected,
               4,
               false},
        RunEnd{"CommandRefused",
               {"--reject", "0:4"},
               "COMANDO DE PROGRAMAÇÃO RECUSADO PELA PLACA !",
               ExitStatus::recordRejected,
               4,
               false},
        RunEnd{"PortError", {"--vanish", "40"}, "port error", ExitStatus::portError, 0, true}),
    [](const ::testing::TestParamInfo<RunEnd>& info) { return std::string(info.param.name); });

// Told as soon as the window is up, over it: not in the screen's corner before it is shown.
TEST(WindowRunLog, ALogThatCannotBeOpenedIsShownOverTheWindow) {
    RunLogVariable variable("/nonexistent/runs.jsonl");
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge{dialogs};
    app::qt::TForm1 form(dialogs);
    form.show();
    ASSERT_TRUE(pumpUntil([&] { return dialogs.texts(FakeDialogs::Error).size() == 1; }));
    EXPECT_TRUE(dialogs.boxes.back().windowVisible);
    EXPECT_TRUE(dialogs.texts(FakeDialogs::Error)
                    .front()
                    .startsWith("cannot open the run log /nonexistent/runs.jsonl: No such file"));
}

// Each way the upload logic ends a run, on the scripted board: the window's run log says what
// torvin-upload says, in the same words and with the status it exits with.
TEST(WindowRunLog, RecordsEachOutcomeAsTorvinUploadEndsWithIt) {
    const std::pair<const char*, std::function<void(ScriptedBoard&)>> cases[] = {
        {"completed", [](ScriptedBoard&) {}},
        {"silent", [](ScriptedBoard& b) { b.responder = [](const Item&) { return Reply{}; }; }},
        {"old Monitor",
         [](ScriptedBoard& b) { b.responder = [](const Item&) { return Reply{"[I]"}; }; }},
        {"Monitor not valid",
         [](ScriptedBoard& b) { b.responder = [](const Item&) { return Reply{"[K]"}; }; }},
        {"record refused",
         [](ScriptedBoard& b) {
             b.responder = [](const Item& item) -> Reply {
                 if (item.record == 7) return {"[R]"};
                 return ScriptedBoard::monitorAnswer(item);
             };
         }},
        {"answers too soon", [](ScriptedBoard& b) { b.rate = 9600; }},
    };
    testsupport::TempDir dir;
    const std::string log = dir.file("runs.jsonl");
    RunLogVariable variable(log);
    for (const auto& [name, fault] : cases) {
        CommandLineRun commandLine;
        fault(commandLine.board);
        const int status = static_cast<int>(commandLine.session.run());

        upload::scripted::UploadRig window;
        fault(window.board);
        app::RunRecorder recorder([] { return std::string("COM3"); },
                                  [](const std::string& text) { ADD_FAILURE() << text; });
        window.logic.setListener(&recorder);
        window.openStartAndRun();

        const auto lines = logLines(log);
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_EQ(lines.back()["exit_status"], status) << name;
        EXPECT_EQ(lines.back()["outcome"], commandLine.session.outcomeText()) << name;
    }
    EXPECT_EQ(logLines(log).size(), std::size(cases));
}

// The list may be changed while the port is open; the run goes over the port opened all the same.
TEST(WindowRunLog, NamesThePortTheRunWentOverThoughAnotherIsChosenSince) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    testsupport::TempDir dir;
    const std::string log = dir.file("runs.jsonl");
    RunLogVariable variable(log);
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge{dialogs};
    testsupport::MonitorSimProcess sim(MONITOR_SIM_PATH, {"--version-reply", "I"});
    app::qt::TForm1 form(dialogs, sim.serialPath());
    form.BitBtn2->click();
    form.ComboBox1->setCurrentIndex(0); // COM1
    form.BitBtn2->click();
    ASSERT_TRUE(pumpUntil([&] { return !logLines(log).empty(); }, 20s));
    EXPECT_EQ(logLines(log).back()["port"], sim.serialPath());
#endif
}
