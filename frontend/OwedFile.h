#pragma once

// What a board may still owe on a port, kept for every later run on the device: whoever runs it
// (root, a technician, cron), with whatever environment, by whatever name of the device, across
// steps of the wall clock. So it lives in the folder every user of the device shares, the lock
// folder (/run/lock; on Windows %ProgramData%\torvin-updater\owed), under two keys: the name the
// run was given (which still names a USB adapter the system numbered anew behind the same
// /dev/serial/by-id link) and, on Linux, the device number behind it (the same whatever path
// reaches the device: a link, a bind mount, a node of its own). Each user keeps a file of its own
// per key, so that no user can keep another from writing; a reader takes every user's files for
// both keys and the largest debt among them.
//
// Times are on a clock that never steps: time since boot (suspend included, as the board goes on
// answering meanwhile), with the boot's id to tell a reboot. A file holds one line of fixed length:
//   torvin-owed 2 boot B at T answers N quiet Q left L
// written T ns after the start of boot B (32 hex digits; zeros where the system names no boot):
// N answers may still come, each within Q ns of the one before, the last within L ns of T.
//
// Anyone can write into the lock folder, so every file is hostile input: read through no link,
// without waiting, only when a small regular file of exactly that form, and never believed beyond
// the longest wait (upload::longestOwedWait). A planted debt costs at most that wait; a planted
// "nothing owed" changes nothing, since the largest debt wins; a file planted under this user's
// name makes it write under a name no one can guess.

#include "upload/OwedAnswers.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace upload::frontend {

// Where the clock that never steps stands: which boot, and how long since it began.
struct BootTime {
    std::string boot; // 32 lower-case hex digits; empty where the system names no boot
    std::chrono::nanoseconds sinceBoot{};
};

class OwedFile {
public:
    // Told once per problem met while reading (a file that is not trusted, one that cannot be
    // read); reading goes on with the other files.
    using Warn = std::function<void(const std::string&)>;
    using Clock = std::function<BootTime()>;

    explicit OwedFile(Warn warn = {});
    // Another folder and clock than the system's, for the tests.
    OwedFile(Warn warn, std::string folder, Clock clock);
    ~OwedFile();
    OwedFile(const OwedFile&) = delete;
    OwedFile& operator=(const OwedFile&) = delete;

    // Keeps `owed` for the device `portName` opens, under both keys. Throws std::runtime_error,
    // saying what happened and what to do, when it cannot: the run must then stop before it
    // sends anything, rather than leave the next run unprotected.
    void keep(const std::string& portName, const OwedAnswers& owed);
    // The largest debt any run left on the device, by either key, as it stands now; `left` and
    // `quiet` at most upload::longestOwedWait.
    OwedAnswers read(const std::string& portName);

    // The system's folder and clock.
    static std::string systemFolder();
    static BootTime systemClock();

    // One line of the file, and its reading.
    struct Entry {
        std::string boot; // as BootTime::boot, or empty
        std::chrono::nanoseconds at{};
        std::int32_t answers = 0;
        std::chrono::nanoseconds quiet{};
        std::chrono::nanoseconds left{};
    };
    static std::string line(const Entry& entry);
    static std::optional<Entry> parse(std::string_view text);
    // What an entry still owes at `now`, on the least time that can have passed since it was
    // written (after a reboot, at least the time since this boot began).
    static OwedAnswers stillOwed(const Entry& entry, const BootTime& now);

    // The keys a port name is kept under (its name; on Linux also its device number, when the
    // device exists), and the names of this user's files for them in the folder.
    static std::vector<std::string> keysOf(const std::string& portName);
    static std::vector<std::string> ownFileNames(const std::string& portName);

private:
    // Platform: this user's tag in file names, opening this user's file for a key (created
    // exclusively where missing, never through a link; -1 and `problem` when it cannot be),
    // writing a line at its start, the names in the folder, reading a small file, closing.
    static std::string userTag();
    // The name a port name opens, written one way (links not followed); the device number
    // behind it, where the system has one and the device exists.
    static std::string nameOf(const std::string& portName);
    static std::optional<std::string> deviceOf(const std::string& portName);
    std::intptr_t openOwn(const std::string& name, std::string& problem);
    static bool writeLine(std::intptr_t handle, const std::string& text, std::string& problem);
    std::optional<std::vector<std::string>> namesInFolder(std::string& problem) const;
    std::optional<std::string> readSmall(const std::string& name, std::string& problem) const;
    static void closeHandle(std::intptr_t handle);
    static std::string randomTag();

    std::string pathOf(const std::string& name) const;
    void warnOnce(const std::string& text);
    void closeAll();

    Warn warn_;
    std::string folder_;
    Clock clock_;
    std::string warned_;
    std::vector<std::string> keys_; // the keys the open files are for
    std::vector<std::intptr_t> handles_;
};

} // namespace upload::frontend
