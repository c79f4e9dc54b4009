#pragma once

#include "tools/torvin-upload/ProgressDisplay.h"
#include "tools/torvin-upload/RetryTimer.h"
#include "upload/WindowSurface.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace torvinupload {

// The main window as the command line stands in for it: the counters feed a progress display,
// Timer1 is a RetryTimer the loop serves, and a message box becomes a printed line. It also
// watches the run: the close button is disabled when a run starts and enabled again when the run
// ends, whatever the outcome, which is the moment the program ends too.
class ConsoleWindow : public upload::WindowSurface {
public:
    ConsoleWindow(std::string portName, std::unique_ptr<ProgressDisplay> display, std::FILE* out);

    RetryTimer& timer1() { return timer1_; }
    // Where Timer1 takes the time from (the steady clock unless set).
    void setClock(std::function<RetryTimer::Clock::time_point()> now) { now_ = std::move(now); }

    // A run has begun (the start button pressed on an open port) and not yet ended.
    bool runGoingOn() const { return runStarted_ && !runEnded_; }
    bool runEnded() const { return runEnded_; }
    // The text of the message box the run ended with, if any.
    const std::optional<std::string>& message() const { return message_; }

    // The record the logic is sending now, after each of its handlers.
    void noteRecord(std::int32_t record);
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
    void setBitBtn6Enabled(bool enabled) override;
    void setLabel2(const std::string& text) override;
    void setLabel4(const std::string& text) override;
    void setLabel7(const std::string&) override {}
    void setLabel8(const std::string& text) override;
    void setProgressBar1(int position) override;
    void setLampColor(std::uint32_t) override {}
    void setTimer1Enabled(bool enabled) override { timer1_.setEnabled(enabled, now_()); }
    void showMessage(const std::string& text) override;

private:
    void changed();

    std::string portName_;
    std::unique_ptr<ProgressDisplay> display_;
    std::FILE* out_;
    std::string linePrefix_;
    RetryTimer timer1_;
    std::function<RetryTimer::Clock::time_point()> now_ = [] { return RetryTimer::Clock::now(); };
    RunProgress progress_;
    bool runStarted_ = false;
    bool runEnded_ = false;
    bool progressFinished_ = false;
    std::optional<std::string> message_;
};

} // namespace torvinupload
