#pragma once

#include "upload/WindowSurface.h"
#include "upload/runlog/RunLog.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace upload {
class UploadLogic;
}

namespace app {

// The window's runs in the run log, as torvin-upload writes them, when TORVIN_RUN_LOG names a
// file. It stands between the upload logic and the window: every change of the window surface
// passes through to the window, and those that tell a run's story are noted on the way. A run
// starts when the close button is disabled and ends when it is enabled again; its outcome is the
// message box it ends with, the fourth refusal, or else a failure of the port, so the record is
// written once the handler that ended the run is done.
class RunRecorder : public upload::WindowSurface {
public:
    // `later` runs a call after the current handler on the window's thread; `report` shows a
    // failure of the log to the user.
    RunRecorder(upload::WindowSurface& window, std::function<void(std::function<void()>)> later,
                std::function<void(const std::string&)> report);
    ~RunRecorder() override;

    // The log named by the environment, if any; a log that cannot be opened is reported at once.
    static constexpr const char* environmentVariable = "TORVIN_RUN_LOG";
    void setLogic(const upload::UploadLogic& logic) { logic_ = &logic; }

    Clock::time_point now() const override { return window_.now(); }
    std::string comboBox1Text() const override { return window_.comboBox1Text(); }
    void setBitBtn2Caption(const std::string& caption) override {
        window_.setBitBtn2Caption(caption);
    }
    void setBitBtn2Enabled(bool enabled) override { window_.setBitBtn2Enabled(enabled); }
    void setBitBtn6Enabled(bool enabled) override;
    void setLabel2(const std::string& text) override { window_.setLabel2(text); }
    void setLabel4(const std::string& text) override;
    void setLabel7(const std::string& text) override { window_.setLabel7(text); }
    void setLabel8(const std::string& text) override;
    void setProgressBar1(int position) override { window_.setProgressBar1(position); }
    void setLampColor(std::uint32_t rgb) override { window_.setLampColor(rgb); }
    void setTimer1Enabled(bool enabled) override { window_.setTimer1Enabled(enabled); }
    void showMessage(const std::string& text) override;

private:
    void write();

    upload::WindowSurface& window_;
    std::function<void(std::function<void()>)> later_;
    std::function<void(const std::string&)> report_;
    std::unique_ptr<runlog::RunLog> log_;
    const upload::UploadLogic* logic_ = nullptr;
    // The run being watched; none when no log is kept or no run goes on.
    std::optional<runlog::RunRecord> run_;
    std::chrono::steady_clock::time_point startedOn_{};
    bool ending_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace app
