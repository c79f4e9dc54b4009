#pragma once

// What a board may still owe on a port, kept for the next run in a small file per device under
// the user's runtime folder ($XDG_RUNTIME_DIR, else a folder of the user's own in /tmp; on
// Windows the user's temporary folder). It outlives the process, a killed one too: the upload
// logic tells it anew whenever it changes.
//
// The file holds one line, "torvin owed-until-ms N": until N (milliseconds since 1970 on the
// wall clock) answers to earlier sends may still come. It is read as hostile input: only a
// regular file of this user, through no link, without waiting, exactly that line; a time
// further ahead than any run can owe is taken as that longest time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace upload::frontend {

class OwedFile {
public:
    // Told once per problem that keeps the file from being read or written (the run goes on).
    using Warn = std::function<void(const std::string&)>;

    explicit OwedFile(Warn warn = {});
    ~OwedFile();
    OwedFile(const OwedFile&) = delete;
    OwedFile& operator=(const OwedFile&) = delete;

    // The device `portName` opens; the file follows it when it changes.
    void keep(const std::string& portName, std::chrono::nanoseconds left);
    std::chrono::nanoseconds read(const std::string& portName);

    // The longest anyone can be owed: a file that says more is cut down to it.
    static constexpr std::chrono::minutes longest{10};

    // The line's text and its reading, for the platforms' code and the tests.
    static std::string line(std::int64_t untilMs);
    static std::optional<std::int64_t> parse(std::string_view text);
    // The file's name for a device: its path with every character outside [A-Za-z0-9.-] as '_'.
    static std::string nameFor(const std::string& deviceFile);

private:
    void warnOnce(const std::string& text);
    // Platform: the folder the files live in ("" when there is none to use, after a warning),
    // opening the file for writing (creating it exclusively), writing, reading, closing.
    std::string folder();
    bool openForWriting(const std::string& path);
    bool writeLine(const std::string& text);
    std::optional<std::string> readFile(const std::string& path);
    void close();

    Warn warn_;
    std::string warned_;
    std::string name_; // the port name the open file is for
    std::intptr_t handle_ = -1;
    std::int64_t lastWritten_ = -1;
};

} // namespace upload::frontend
