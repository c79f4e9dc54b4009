#pragma once

// A record of every upload run, for the workshop's books: which board (port, device, adapter)
// got which image (its SHA-256) with which outcome. One JSON object per board and run, one per
// line, appended to a file that any number of runs share.

#include "frontend/runlog/AppendFile.h"
#include "upload/FirmwareImage.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace runlog {

struct RunRecord {
    std::chrono::system_clock::time_point started{};
    std::string program;       // "torvin-upload" or "torvin-updater"
    std::string port;          // the name the user gave
    std::string device;        // the device file it led to
    std::string adapterSerial; // the USB adapter's serial number; empty when unknown
    std::string image;         // "embedded", or the image file's path as given
    std::string imagePath;     // the image file's absolute path; empty for the embedded image
    std::string imageSha256;
    std::int32_t imageRecords = 0;
    std::string imageWarning; // what the image's check found doubtful; empty when nothing
    std::string outcome;      // in the program's words: the message the run ended with
    int exitStatus = 0;       // torvin-upload's exit status for that outcome
    std::int32_t recordsAcknowledged = 0;
    std::int32_t resends = 0;  // sends repeated after a second of silence
    std::int32_t refusals = 0; // "[R]" replies
    std::chrono::duration<double> duration{};
};

// The record as one line of JSON, without the line end. Times are UTC with milliseconds
// ("2026-12-08T00:55:12.345Z"), the duration in seconds; an unknown serial number, the embedded
// image's path and an image warning that is none are null.
std::string jsonLine(const RunRecord& record);

std::string utcText(std::chrono::system_clock::time_point t);
// Lower-case hex SHA-256 of the lines, each followed by a line feed: for the embedded image that
// is the digest of upload/firmware.hex, which is what `torvin-upload --dump-image` writes.
std::string sha256OfLines(upload::ImageLines lines);
// Of a file's bytes; throws std::runtime_error naming the file when it cannot be read.
std::string sha256OfFile(const std::string& path);
// This build's version.
std::string programVersion();

// The log file, opened for appending (and created) at once, so that a log that cannot be kept is
// known before any board is touched. Each record goes out in one write and is flushed to the disk
// before append() returns: a crash loses at most the run in progress, and runs of several
// programs appending to one file never mix their lines.
class RunLog {
public:
    // Throws std::runtime_error ("cannot open the run log FILE: reason") on failure.
    explicit RunLog(std::string path);
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Throws std::runtime_error ("cannot write the run log FILE: reason") on failure.
    void append(const RunRecord& record);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    AppendFile file_;
};

} // namespace runlog
