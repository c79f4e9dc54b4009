// The window's runs in the run log named by TORVIN_RUN_LOG, against the simulated board.

#include "EventPump.h"
#include "FakeDialogs.h"

#include "app/qt/FrameworkBridge.h"
#include "app/qt/TForm1.h"
#include "tests/support/TempDir.h"
#ifdef MONITOR_SIM_PATH
#include "tests/support/MonitorSimProcess.h"
#endif

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

#ifdef MONITOR_SIM_PATH
std::vector<nlohmann::json> logLines(const std::string& path) {
    std::ifstream file(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}
#endif

} // namespace

TEST(WindowRunLog, EachRunIsRecordedWithItsOutcomeWhetherOrNotItEndsWithAMessage) {
#ifndef MONITOR_SIM_PATH
    GTEST_SKIP() << "monitor-sim is not built";
#else
    testsupport::TempDir dir;
    const std::string log = dir.file("runs.jsonl");
    RunLogVariable variable(log);
    struct Case {
        std::vector<std::string> fault;
        const char* outcome;
        int status, refusals;
    };
    const Case cases[] = {{{"--version-reply", "I"}, "Monitor Versão Antiga !!", 3, 0},
                          {{"--reject", "5:4"}, "REGISTRO 5 RECUSADO PELA PLACA !", 4, 4}};
    for (const Case& c : cases) {
        FakeDialogs dialogs;
        app::qt::FrameworkBridge bridge{dialogs};
        testsupport::MonitorSimProcess sim(MONITOR_SIM_PATH, c.fault);
        app::qt::TForm1 form(dialogs, sim.serialPath());
        form.BitBtn2->click();
        form.BitBtn2->click();
        const std::size_t before = logLines(log).size();
        ASSERT_TRUE(pumpUntil([&] { return logLines(log).size() > before; }, 20s)) << c.outcome;
        const auto line = logLines(log).back();
        EXPECT_EQ(line["program"], "torvin-updater");
        EXPECT_EQ(line["port"], sim.serialPath());
        EXPECT_EQ(line["outcome"], c.outcome);
        EXPECT_EQ(line["exit_status"], c.status);
        EXPECT_EQ(line["refusals"], c.refusals);
        EXPECT_EQ(line["image_records"], 1974);
        EXPECT_TRUE(dialogs.texts(FakeDialogs::Error).empty());
    }
    EXPECT_EQ(logLines(log).size(), 2u);
#endif
}

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
