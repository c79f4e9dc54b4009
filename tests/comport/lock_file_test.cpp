// The serial tools' lock file in a folder of the test's own: what other users can plant there,
// takers racing over a dead holder, and the ways taking a lock can fail half-way.

#include "comport/driver/posix/PosixLockFile.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using comport::driver::posix::PosixLockFile;

// A filesystem without hard links, or a taker killed as it links its lock into place: the
// system's linkat fails or stops while a test sets this; otherwise the real one runs.
namespace {
std::function<int()> linkFault; // an errno value to fail with, or 0 to go on
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to,
                      int flags) noexcept {
    if (linkFault)
        if (const int e = linkFault()) {
            errno = e;
            return -1;
        }
    using Real = int (*)(int, const char*, int, const char*, int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "linkat"));
    return real(fromDir, from, toDir, to, flags);
}

// How many times a taker has been refused a lock's takeover turn (flock without waiting): a holder
// of the turn lets go only once a taker has met it held.
namespace {
std::atomic<int> turnsRefused{0};
}

extern "C" int flock(int fd, int operation) noexcept {
    using Real = int (*)(int, int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "flock"));
    const int result = real(fd, operation);
    if (result != 0 && errno == EWOULDBLOCK) ++turnsRefused;
    return result;
}

namespace {

const std::string device = "/dev/ttyLockTest0";

std::string mine() {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    return text;
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    while (const dirent* e = d ? ::readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.insert(e->d_name);
    if (d) ::closedir(d);
    return names;
}

pid_t endedProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// Runs `body` in a child process that a hang cannot keep: its return value, or 1000 + the
// signal that ended it.
int inChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

struct LockFolder : ::testing::Test {
    testsupport::TempDir folder;
    std::string lock = folder.file(PosixLockFile::nameFor(device));

    void TearDown() override { linkFault = nullptr; }
};

} // namespace

// Whoever may write the folder can leave a link where a draft of the lock would be written.
TEST_F(LockFolder, NoDraftIsWrittenThroughALinkPlantedInTheFolder) {
    const std::string victim = folder.file("victim");
    write(victim, "precious");
    for (int n = 0; n < 64; ++n) {
        const std::string name = "LTMP." + std::to_string(::getpid()) + "." + std::to_string(n);
        ASSERT_EQ(::symlink(victim.c_str(), folder.file(name).c_str()), 0);
    }
    PosixLockFile taken;
    EXPECT_EQ(taken.take(device, folder.path()), 0);
    EXPECT_EQ(contentOf(victim), "precious");
    EXPECT_EQ(contentOf(lock), mine());
}

// Anything but a regular file at the lock's name blocks the port: it is neither opened, nor
// followed, nor removed, and the user is told what it is.
TEST_F(LockFolder, ALockThatIsNoRegularFileRefusesThePortAndIsLeftAlone) {
    const std::string fifo = folder.file("fifo");
    const std::string stale = folder.file("stale");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(endedProcess()));
    write(stale, text);
    const struct {
        const char* what;
        std::function<int()> plant;
        const char* told;
    } cases[] = {
        {"a FIFO", [&] { return ::mkfifo(lock.c_str(), 0600); }, "named pipe"},
        {"a link to a FIFO", [&] { return ::symlink(fifo.c_str(), lock.c_str()); },
         "symbolic link"},
        {"a link to a stale lock", [&] { return ::symlink(stale.c_str(), lock.c_str()); },
         "symbolic link"},
        {"a folder", [&] { return ::mkdir(lock.c_str(), 0700); }, "directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.plant(), 0);
        struct stat before {};
        ASSERT_EQ(::lstat(lock.c_str(), &before), 0);
        EXPECT_EQ(inChild([&] { return PosixLockFile().take(device, folder.path()); }), EBUSY);
        struct stat after {};
        ASSERT_EQ(::lstat(lock.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        const std::string told = PosixLockFile::describe(device, folder.path());
        EXPECT_NE(told.find(c.told), std::string::npos) << told;
        EXPECT_NE(told.find(lock), std::string::npos) << told;
        ::unlink(lock.c_str());
        ::rmdir(lock.c_str());
    }
}

// A lock names its holder in ten characters of text or (older tools) four binary bytes. A
// number that no running process has, whatever its size, is a holder that has ended; content
// that names no number at all may be a lock being written, and refuses the port.
TEST_F(LockFolder, TheLocksContentDecidesBetweenTakingOverAndRefusing) {
    auto binary = [](std::int32_t pid) {
        return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
    };
    const struct {
        std::string content;
        int expected;
    } cases[] = {
        {"         1\n", EBUSY}, // a live holder
        {"  99999999\n", 0},     // above any pid_max
        {"4294967297\n", 0},     // beyond a process number's range
        {"18446744073709551617\n", 0},
        {binary(-5), 0}, // would name a process group to kill()
        {binary(1), EBUSY},
        {"", EBUSY},
        {"ab\n", EBUSY},
        {"12ab\n", EBUSY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.content));
        write(lock, c.content);
        PosixLockFile taken;
        EXPECT_EQ(taken.take(device, folder.path()), c.expected);
        EXPECT_EQ(contentOf(lock), c.expected == 0 ? mine() : c.content);
        if (c.expected != 0) {
            EXPECT_FALSE(PosixLockFile::describe(device, folder.path()).empty());
        }
        taken.release();
        ::unlink(lock.c_str());
    }
}

// The holder's name comes from the holder, who may be another user: printed as it stands, it
// could move the cursor or recolour the technician's terminal.
TEST_F(LockFolder, TheHolderIsNamedWithNothingThatSteersATerminal) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::prctl(PR_SET_NAME, "\x1b]0;x\x07ok");
        (void)!::write(ready[1], "", 1);
        ::pause();
        ::_exit(0);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(holder));
    write(lock, text);
    const std::string told = PosixLockFile::describe(device, folder.path());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_NE(told.find(std::to_string(holder) + " (?]0;x?ok)"), std::string::npos) << told;
}

// The removal the advice offers is pasted into a shell: a quote in the name stays a quote.
TEST_F(LockFolder, TheOfferedRemovalQuotesThePath) {
    const std::string quoted = "/dev/it's";
    const std::string path = folder.file(PosixLockFile::nameFor(quoted));
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const std::string told = PosixLockFile::describe(quoted, folder.path());
    EXPECT_NE(told.find("sudo rm '" + folder.path() + "/LCK..it'\\''s'"), std::string::npos)
        << told;
}

// Programs that find the same dead holder at the same moment: exactly one gets the port. One of
// them runs as another user (where the test can switch), in a sticky folder as the system's lock
// folder is: it cannot remove a lock that root left, yet may hold the takeover turn meanwhile.
TEST_F(LockFolder, OfTakersRacingOverOneStaleLockExactlyOneWins) {
    const bool mixed = testsupport::AsNobody::possible();
    ASSERT_EQ(::chmod(folder.path().c_str(), 01777), 0);
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(endedProcess()));
    write(lock, text);
    int doubled = 0, neither = 0;
    constexpr int rounds = 1500, takers = 4;
    for (int round = 0; round < rounds; ++round) {
        int start[2], results[2], end[2];
        ASSERT_EQ(::pipe(start), 0);
        ASSERT_EQ(::pipe(results), 0);
        ASSERT_EQ(::pipe(end), 0);
        pid_t racers[takers];
        for (pid_t& racer : racers) {
            racer = ::fork();
            if (racer == 0) {
                ::close(start[1]);
                ::close(end[1]);
                // nobody's number, as testsupport::AsNobody uses it
                if (mixed && &racer == racers && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                    ::_exit(2);
                char go = 0;
                (void)!::read(start[0], &go, 1);
                // Kept until all have tried; the process then ends holding it, which makes
                // the lock stale for the next round.
                auto* taken = new PosixLockFile;
                const char won = taken->take(device, folder.path()) == 0 ? 1 : 0;
                (void)!::write(results[1], &won, 1);
                (void)!::read(end[0], &go, 1);
                ::_exit(0);
            }
        }
        ::close(start[0]);
        ::close(start[1]); // all start now
        int winners = 0;
        for (int n = 0; n < takers; ++n) {
            char won = 0;
            ASSERT_EQ(::read(results[0], &won, 1), 1);
            winners += won;
        }
        ::close(end[1]);
        for (pid_t racer : racers)
            ::waitpid(racer, nullptr, 0);
        ::close(results[0]);
        ::close(results[1]);
        ::close(end[0]);
        doubled += winners > 1;
        neither += winners == 0;
    }
    EXPECT_EQ(doubled, 0) << "of " << rounds << " rounds";
    EXPECT_EQ(neither, 0) << "of " << rounds << " rounds";
}

// A taker that may remove a stale lock finds its takeover turn held by one that may not (another
// user, in a sticky folder), and that lets go without removing it: the first waits for the turn
// and takes the port, rather than give up with neither holding it.
TEST_F(LockFolder, ATakerThatMayRemoveAStaleLockWaitsOutATurnHeldByOneThatMayNot) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(endedProcess()));
    write(lock, text);
    // Should the turn stay held, each is told what it can do: root to try again, another user
    // that it cannot remove root's lock.
    ASSERT_EQ(::chmod(folder.path().c_str(), 01777), 0);
    EXPECT_NE(PosixLockFile::describe(device, folder.path()).find("Try again"), std::string::npos);
    if (testsupport::AsNobody::possible()) {
        testsupport::AsNobody nobody;
        EXPECT_NE(PosixLockFile::describe(device, folder.path()).find("this user cannot remove it"),
                  std::string::npos);
    }
    const int turn = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(turn, 0);
    ASSERT_EQ(::flock(turn, LOCK_EX), 0);
    turnsRefused = 0;
    std::atomic<bool> returned{false};
    std::thread letGo([&] {
        // Not before the taker has found the turn held, however late it starts.
        while (turnsRefused == 0 && !returned)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::close(turn);
    });
    PosixLockFile taken;
    EXPECT_EQ(taken.take(device, folder.path()), 0);
    returned = true;
    letGo.join();
    EXPECT_EQ(contentOf(lock), mine());
}

// A write that stops short says why and a taker killed half-way leaves nothing in the shared
// folder; where the filesystem refuses hard links the lock is made in place, and is really held.
TEST_F(LockFolder, ATakeStoppedHalfWayLeavesNoTraceAndAFallbackStillLocks) {
    EXPECT_EQ(inChild([&] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit fiveBytes{5, 5};
                  ::setrlimit(RLIMIT_FSIZE, &fiveBytes);
                  return PosixLockFile().take(device, folder.path());
              }),
              EFBIG);
    EXPECT_TRUE(entries(folder.path()).empty());

    linkFault = [] { return ::raise(SIGKILL); };
    EXPECT_EQ(inChild([&] { return PosixLockFile().take(device, folder.path()); }), 1000 + SIGKILL);
    EXPECT_TRUE(entries(folder.path()).empty());

    linkFault = [] { return EPERM; };
    PosixLockFile taken;
    ASSERT_EQ(taken.take(device, folder.path()), 0);
    EXPECT_EQ(contentOf(lock), mine());
    linkFault = nullptr;
    EXPECT_EQ(inChild([&] { return PosixLockFile().take(device, folder.path()); }), EBUSY);
    taken.release();
    EXPECT_TRUE(entries(folder.path()).empty());
}

TEST(LockFileName, OrdinaryNamesKeepTheirFormAndNoTwoDevicesShareOne) {
    EXPECT_EQ(PosixLockFile::nameFor("/dev/ttyS0"), "LCK..ttyS0");
    EXPECT_EQ(PosixLockFile::nameFor("/dev/ttyUSB0"), "LCK..ttyUSB0");
    const std::vector<std::string> devices = {"/dev/a_b",   "/dev/a/b",   "/dev/a%2Fb",
                                              "/dev/a%b",   "/a/b",       "/ttyS0",
                                              "/dev/ttyS0", "/dev/a/b_c", "/dev/a_b/c"};
    std::set<std::string> names;
    for (const auto& d : devices)
        names.insert(PosixLockFile::nameFor(d));
    EXPECT_EQ(names.size(), devices.size());
    for (const auto& name : names)
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
}
