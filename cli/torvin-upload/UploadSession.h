#pragma once

#include "cli/torvin-upload/ConsoleWindow.h"
#include "upload/Outcome.h"
#include "upload/UploadLogic.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace torvinupload {

using upload::ExitStatus;

// How the user stopped the run, in their words: "Ctrl-C (SIGINT)" on Linux, "Ctrl-C or
// Ctrl-Break" on Windows.
std::string stopName(int signal);

// The warning for a board whose run was cut short.
std::string incompleteFirmwareWarning();

// How the port's events reach the loop's thread, and what time it is.
class EventPump {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~EventPump() = default;
    virtual Clock::time_point now() = 0;
    // Sleeps until an event is waiting or `until` comes, whichever is first, and runs the
    // events that are waiting. No busy waiting.
    virtual void serve(Clock::time_point until) = 0;
};

// One technician at the window, on the command line: presses the start button to open the port,
// presses it again to start a run, then lets the port's events and the retry timer drive the run
// until it ends, and tells how it ended.
class UploadSession {
public:
    UploadSession(upload::UploadLogic& logic, ConsoleWindow& window, EventPump& pump,
                  std::FILE* errors);
    ~UploadSession();
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    // The port's received-characters event. A failure is kept for the loop rather than thrown
    // back into the port's event thread, which would end there without a word.
    void rxChar(std::int32_t count);

    // Describes a failure for the user; the default is its message.
    std::function<std::string(const std::exception&)> describe;
    // Called once the port is open, before the run starts.
    std::function<void()> onOpened;
    // 0, or the signal (SIGINT, SIGTERM) that asks to stop the run; looked at between events.
    std::function<int()> interruption;
    // Closes the port when the run is stopped by a signal.
    std::function<void()> onInterrupted;

    // Runs the whole thing; prints the outcome (standard output) or the failure (on `errors`)
    // and returns the exit status.
    ExitStatus run();

    // run() in steps, for a loop that drives several boards on one thread: start() presses the
    // start button twice, poll() runs the retry timer's tick when it is due and looks for the
    // end (and for an interruption), nextWake() is when the timer wants poll() again. Each gives
    // the exit status once the run has ended.
    std::optional<ExitStatus> start();
    std::optional<ExitStatus> poll();
    std::optional<EventPump::Clock::time_point> nextWake() const;
    // The run's end in a few words: the message it ended with, or the failure's own message.
    const std::string& outcomeText() const { return outcomeText_; }

private:
    ExitStatus fail(std::exception_ptr failure);
    ExitStatus outcome();
    ExitStatus interrupt(int signal);

    upload::UploadLogic& logic_;
    ConsoleWindow& window_;
    EventPump& pump_;
    std::FILE* errors_;
    std::exception_ptr failure_;
    std::string outcomeText_;
};

} // namespace torvinupload
