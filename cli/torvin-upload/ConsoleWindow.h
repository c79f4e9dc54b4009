#pragma once

#include "cli/torvin-upload/ProgressDisplay.h"
#include "cli/torvin-upload/RetryTimer.h"
#include "upload/RunEvents.h"
#include "upload/WindowSurface.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace torvinupload {

// The main window as the command line stands in for it: Timer1 is a RetryTimer the loop serves,
// and a message box becomes a printed line. It also follows the run as the upload logic tells it
// (the logic's listener): what goes out and what the board says feed a progress display, and the
// run's end, whatever the outcome, is the moment the program ends too.
class ConsoleWindow : public upload::WindowSurface, public upload::RunListener {
public:
    ConsoleWindow(std::string portName, std::unique_ptr<ProgressDisplay> display, std::FILE* out);

    RetryTimer& timer1() { return timer1_; }
    // Where Timer1 takes the time from (the steady clock unless set).
    void setClock(std::function<RetryTimer::Clock::time_point()> now) { now_ = std::move(now); }

    // A run has begun (the start button pressed on an open port) and not yet ended.
    bool runGoingOn() const { return runStarted_ && !end_; }
    // How the run ended, once it has.
    const std::optional<upload::RunEnded>& runEnd() const { return end_; }

    // upload::RunListener
    void told(const upload::RunEvent& event) override;

    // Ends the progress display; the outcome is printed after this.
    void finishProgress();
    // Prints a line in the place of a message box.
    void printLine(const std::string& text);
    // Put before every printed line: the port's name when several boards share the output.
    void setLinePrefix(std::string prefix) { linePrefix_ = std::move(prefix); }
    const RunProgress& progress() const { return progress_; }

    // upload::WindowSurface
    Clock::time_point now() const override { return now_(); }
    std::string comboBox1Text() const override { return portName_; }
    void setBitBtn2Caption(const std::string&) override {}
    void setBitBtn2Enabled(bool) override {}
    void setBitBtn6Enabled(bool) override {}
    void setLabel2(const std::string&) override {}
    void setLabel4(const std::string&) override {}
    void setLabel7(const std::string&) override {}
    void setLabel8(const std::string&) override {}
    void setProgressBar1(int position) override;
    void setLampColor(std::uint32_t) override {}
    void setTimer1Enabled(bool enabled) override { timer1_.setEnabled(enabled, now_()); }
    void showMessage(const std::string& text) override;

private:
    void started(std::int32_t total);
    // The item going out now.
    void sending(std::int32_t record);
    void changed();

    std::string portName_;
    std::unique_ptr<ProgressDisplay> display_;
    std::FILE* out_;
    std::string linePrefix_;
    RetryTimer timer1_;
    std::function<RetryTimer::Clock::time_point()> now_ = [] { return RetryTimer::Clock::now(); };
    RunProgress progress_;
    bool runStarted_ = false;
    bool progressFinished_ = false;
    std::optional<upload::RunEnded> end_;
};

} // namespace torvinupload
