// What a run leaves for the next on a device: found by every later run whoever runs it, by
// whatever name and whatever the wall clock says, and taken as hostile input, since every user may
// write into the folder: nothing is followed, waited on or believed beyond reason.
#include "frontend/OwedFile.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Pty.h"
#include "tests/support/TempDir.h"
#include "tests/support/TextFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace std::chrono_literals;
using upload::OwedAnswers;
using upload::frontend::BootTime;
using upload::frontend::OwedFile;

namespace {
// Seconds the wall clock of this program is stepped by, as an administrator or a time server
// would step the machine's.
long wallShift = 0;
} // namespace

// This program's clock_gettime, ahead of the C library's (the sanitizers' too): the system's
// clocks, with the wall clock stepped by wallShift; the machine's clock is left alone.
extern "C" int clock_gettime(clockid_t id, struct timespec* t) noexcept {
    const int r = static_cast<int>(::syscall(SYS_clock_gettime, id, t));
    if (r == 0 && id == CLOCK_REALTIME) t->tv_sec += wallShift;
    return r;
}

namespace {

// A folder like the lock folder: every user may write into it.
struct Store {
    testsupport::TempDir dir;
    std::vector<std::string> warnings;
    Store() { ::chmod(dir.path().c_str(), 01777); }
    OwedFile file(OwedFile::Clock clock = &OwedFile::systemClock) {
        return OwedFile([this](const std::string& text) { warnings.push_back(text); }, dir.path(),
                        std::move(clock));
    }
};

const OwedAnswers debt{3, 4s, 30s};

// Whether `found` is `debt` as read a moment after it was kept.
::testing::AssertionResult isTheDebt(const OwedAnswers& found) {
    if (found.answers == debt.answers && found.quiet == debt.quiet && found.left > 28s &&
        found.left <= debt.left)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << found.answers << " answers, quiet " << found.quiet.count() << " ns, left "
           << found.left.count() << " ns";
}

} // namespace

TEST(OwedFile, WhatOneRunKeepsTheNextReadsForTheSameDeviceOnly) {
    Store store;
    store.file().keep("/dev/ttyUSB7", debt);
    EXPECT_TRUE(isTheDebt(store.file().read("/dev/ttyUSB7")));
    EXPECT_EQ(store.file().read("/dev/ttyUSB8"), OwedAnswers{});
    // What a later run keeps replaces what this user kept before.
    store.file().keep("/dev/ttyUSB7", {});
    EXPECT_EQ(store.file().read("/dev/ttyUSB7"), OwedAnswers{});
    EXPECT_TRUE(store.warnings.empty());
}

namespace {

// Two devices, the first also reached by a link (as /dev/serial/by-id/ names an adapter) and by
// a node of its own (as a bind mount shows it under another path).
struct Devices {
    testsupport::PtyPair a, b;
    testsupport::TempDir dir;
    std::string link = dir.file("by-id-link"), node = dir.file("same-device");
    Devices() {
        struct stat info {};
        if (::symlink(a.path().c_str(), link.c_str()) != 0 ||
            ::stat(a.path().c_str(), &info) != 0 ||
            ::mknod(node.c_str(), S_IFCHR | 0600, info.st_rdev) != 0)
            throw std::runtime_error("cannot make the device's other names");
    }
};

struct Side {
    std::function<std::string(Devices&)> port;
    bool asNobody = false;
    std::function<void(Devices&)> before = [](Devices&) {};
};

struct Condition {
    const char* name;
    Side keep, read;
};

} // namespace

TEST(OwedFile, IsFoundByTheNextRunWhoeverRunsItByWhateverNameAndWhateverTheWallClockSays) {
    if (!testsupport::AsNobody::possible()) GTEST_SKIP() << "needs root, to be another user";
    const auto plain = [](Devices& d) { return d.a.path(); };
    testsupport::TempDir runtime;
    const auto own = [&](Devices&) { ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1); };
    const auto none = [](Devices&) { ::unsetenv("XDG_RUNTIME_DIR"); };
    const auto step = [](long seconds) { return [seconds](Devices&) { wallShift = seconds; }; };
    const Condition conditions[] = {
        {"a runtime folder, then none (sudo, cron)", {plain, false, own}, {plain, false, none}},
        {"no runtime folder, then one", {plain, false, none}, {plain, false, own}},
        {"root, then nobody", {plain}, {plain, true}},
        {"nobody, then root", {plain, true}, {plain}},
        {"the same device under another path", {plain}, {[](Devices& d) { return d.node; }}},
        {"the adapter renumbered behind the same link",
         {[](Devices& d) { return d.link; }},
         {[](Devices& d) {
             if (::unlink(d.link.c_str()) != 0 ||
                 ::symlink(d.b.path().c_str(), d.link.c_str()) != 0)
                 throw std::runtime_error("cannot point the link at the other device");
             return d.link;
         }}},
        {"the wall clock a minute ahead", {plain}, {plain, false, step(60)}},
        {"the wall clock an hour back", {plain}, {plain, false, step(-3600)}},
    };
    for (const Condition& c : conditions) {
        Store store;
        Devices devices;
        const auto onSide = [&](const Side& side, auto&& what) {
            side.before(devices);
            const std::string port = side.port(devices);
            if (side.asNobody) {
                testsupport::AsNobody nobody;
                what(port);
            } else {
                what(port);
            }
        };
        onSide(c.keep, [&](const std::string& port) { store.file().keep(port, debt); });
        OwedAnswers found;
        onSide(c.read, [&](const std::string& port) { found = store.file().read(port); });
        EXPECT_TRUE(isTheDebt(found)) << c.name;
        ::unsetenv("XDG_RUNTIME_DIR");
        wallShift = 0;
    }
}

TEST(OwedFile, AfterARebootOnlyTheTimeThatSurelyPassedIsTakenOff) {
    // Kept 100 s into a boot, owing 30 s; read on this clock.
    const BootTime written{std::string(32, 'a'), 100s};
    struct Case {
        const char* name;
        BootTime now;
        std::chrono::nanoseconds left;
    };
    const Case cases[] = {
        {"the same boot, 10 s later", {written.boot, 110s}, 20s},
        {"the same boot, its clock short of the time written (planted)",
         {written.boot, 90s},
         30s}, // planted, or this boot's clock: nothing is known to have passed
        {"another boot, 5 s into it", {std::string(32, 'b'), 5s}, 25s},
        {"another boot, 40 s into it", {std::string(32, 'b'), 40s}, 0s},
        {"no boot named, 5 s into one", {"", 5s}, 25s},
        {"no boot named, 10 s after", {"", 110s}, 20s},
    };
    for (const Case& c : cases) {
        Store store;
        store.file([&] { return written; }).keep("/dev/ttyUSB7", debt);
        const OwedAnswers found = store.file([&] { return c.now; }).read("/dev/ttyUSB7");
        EXPECT_EQ(found.left, c.left) << c.name;
        EXPECT_EQ(found.answers, c.left > 0s ? debt.answers : 0) << c.name;
    }
}

TEST(OwedFile, WhatOthersPutInTheFolderNeitherHidesADebtNorCostsMoreThanTheLongestWait) {
    if (!testsupport::AsNobody::possible()) GTEST_SKIP() << "needs root, to be another user";
    const std::string port = "/dev/ttyUSB7";
    const std::string mine = OwedFile::ownFileNames(port)[0];
    const std::string othersName = mine.substr(0, mine.find('@') + 1) + "65534";
    const auto lineOf = [](std::int32_t answers, std::chrono::nanoseconds left) {
        return OwedFile::line(
            {OwedFile::systemClock().boot, OwedFile::systemClock().sinceBoot, answers, left, left});
    };
    struct Case {
        const char* name;
        std::string at; // the name it is planted under: this user's or another's
        std::function<void(const std::string& path, const std::string& elsewhere)> make;
        std::chrono::nanoseconds read; // what a run then finds owed, before and after keeping
        bool warned;
    };
    const Case cases[] = {
        {"a link to a file of the owed form", mine,
         [&](const std::string& path, const std::string& elsewhere) {
             std::ofstream(elsewhere) << lineOf(1, 1000h);
             ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
         },
         0s, true},
        {"a named pipe without a writer", mine,
         [](const std::string& path, const std::string&) {
             ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
         },
         0s, true},
        {"text of another form", othersName,
         [](const std::string& path, const std::string&) {
             std::ofstream(path) << "torvin-owed 2 boot 99999999999999999999999\n";
         },
         0s, true},
        {"a time years ahead", othersName,
         [&](const std::string& path, const std::string&) {
             std::ofstream(path) << lineOf(INT32_MAX, 100000h);
         },
         upload::longestOwedWait, false},
        {"nothing owed, under this user's name, by another", mine,
         [&](const std::string& path, const std::string&) {
             std::ofstream(path) << lineOf(0, 0s);
             ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
         },
         0s, false},
    };
    for (const Case& c : cases) {
        Store store;
        const std::string path = store.dir.file(c.at), elsewhere = store.dir.file("elsewhere");
        c.make(path, elsewhere);
        const auto near = [&](std::chrono::nanoseconds left) {
            return left <= c.read && left > c.read - 2s;
        };
        EXPECT_PRED1(near, store.file().read(port).left) << c.name;
        const std::string before = testsupport::readFile(elsewhere);
        store.file().keep(port, debt);
        EXPECT_EQ(testsupport::readFile(elsewhere), before) << c.name << ": written through";
        const OwedAnswers after = store.file().read(port);
        if (c.read > debt.left)
            EXPECT_PRED1(near, after.left) << c.name;
        else
            EXPECT_TRUE(isTheDebt(after)) << c.name;
        EXPECT_EQ(!store.warnings.empty(), c.warned) << c.name;
    }
}

TEST(OwedFile, AStateThatCannotBeKeptStopsTheRunSayingWhatToDo) {
    Store store;
    OwedFile file([](const std::string&) {}, store.dir.file("missing"), &OwedFile::systemClock);
    try {
        file.keep("/dev/ttyUSB7", debt);
        ADD_FAILURE() << "kept nowhere, without a word";
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_TRUE(testsupport::contains(text, store.dir.file("missing"))) << text;
        EXPECT_TRUE(testsupport::contains(text, "run the upload again")) << text;
    }
}
