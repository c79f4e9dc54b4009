#pragma once

#include "cli/torvin-upload/ProgressDisplay.h"
#include "cli/torvin-upload/UploadSession.h"
#include "upload/FirmwareImage.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace comport {
class TComPort;
}

namespace torvinupload {

struct UploadRequest {
    std::string port;
    upload::ImageLines image;
    std::int32_t totalRecords = 0;
    bool quiet = false;
    bool trace = false;
};

// Where one board's run speaks: its progress, the lines that stand for message boxes (`out`, each
// after `linePrefix`) and its failures (`errors`).
struct BoardOutput {
    std::unique_ptr<ProgressDisplay> display;
    std::FILE* out = stdout;
    std::FILE* errors = stderr;
    std::string linePrefix;
};

// The progress display for standard output: none, a bar on a terminal, plain lines otherwise.
std::unique_ptr<ProgressDisplay> progressDisplay(bool quiet);

// One board's upload over a TComPort of its own, opened with the main window's settings: the
// upload logic, a console window and the session that drives them, stepped by the caller's loop
// on the main thread, where the port's event thread hands its events over. Several run side by
// side without touching each other. Not movable: the port's handlers point into it.
class BoardUpload {
public:
    using Clock = EventPump::Clock;

    BoardUpload(const UploadRequest& request, BoardOutput output, EventPump& pump,
                std::function<int()> interruption);
    ~BoardUpload();
    BoardUpload(const BoardUpload&) = delete;
    BoardUpload& operator=(const BoardUpload&) = delete;

    // As UploadSession's: each gives the exit status once the run has ended.
    std::optional<ExitStatus> start();
    std::optional<ExitStatus> poll();
    std::optional<Clock::time_point> nextWake() const;

    const std::string& port() const { return request_.port; }
    // The device file the name led to, links followed (/dev/ttyUSB0 for a /dev/serial/by-id/
    // name); the name itself when there is no such file.
    std::string devicePath() const;

    bool ended() const { return status_.has_value(); }
    std::optional<ExitStatus> status() const { return status_; }
    const std::string& outcomeText() const;
    const RunProgress& progress() const;
    // Records the board acknowledged: all of them for a completed run.
    std::int32_t recordsAcknowledged() const;
    std::chrono::system_clock::time_point startedAt() const { return startedAt_; }
    Clock::duration duration() const { return endedAt_ - startedOn_; }

private:
    std::optional<ExitStatus> ended(std::optional<ExitStatus> status);

    struct Parts;
    UploadRequest request_;
    std::unique_ptr<Parts> parts_;
    std::optional<ExitStatus> status_;
    std::chrono::system_clock::time_point startedAt_{};
    Clock::time_point startedOn_{};
    Clock::time_point endedAt_{};
};

} // namespace torvinupload
