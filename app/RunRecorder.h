#pragma once

#include "frontend/runlog/RunLog.h"
#include "upload/RunEvents.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace app {

// The window's runs in the run log, as torvin-upload writes them, when TORVIN_RUN_LOG names a
// file. It follows the run as the upload logic tells it; a failure that leaves a handler during a
// run is told by the window. The record is written as the run ends, before the message box that
// says how.
class RunRecorder : public upload::RunListener {
public:
    // `portName` is the name the window's port was opened by; `report` shows a failure of the log
    // to the user.
    RunRecorder(std::function<std::string()> portName,
                std::function<void(const std::string&)> report);

    // The log named by the environment, if any; a log that cannot be opened is reported at once.
    static constexpr const char* environmentVariable = "TORVIN_RUN_LOG";

    // upload::RunListener
    void told(const upload::RunEvent& event) override;

private:
    void start(std::int32_t totalRecords);
    void write(const upload::RunEnded& end);

    std::function<std::string()> portName_;
    std::function<void(const std::string&)> report_;
    std::unique_ptr<runlog::RunLog> log_;
    // The run being watched; none when no log is kept or no run goes on.
    std::optional<runlog::RunRecord> run_;
    std::chrono::steady_clock::time_point startedOn_{};
};

} // namespace app
