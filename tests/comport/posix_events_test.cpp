// Line events of the termios device layer on pseudo-terminals: what wakes a waiting request and
// what does not, the bytes staying readable, a mask change, and a far end that goes away. The
// thread that waits for an event wait watches the line itself; the last tests cover the other
// ways an arrival must still get in.

#include "comport/driver/posix/PosixDriver.h"
#include "comport/driver/posix/PosixEventWait.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <future>
#include <iterator>
#include <set>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace comport::driver;
namespace ce = commEvent;

namespace {

struct EventWaitOnPty : ::testing::Test {
    testsupport::PtyPair pty;
    posix::PosixDriver driver;
    Handle h = invalidHandleValue;
    Overlapped wait;
    std::uint32_t events = 0;

    void SetUp() override {
        h = driver.createFile(pty.path());
        ASSERT_NE(h, invalidHandleValue) << driver.getLastError();
        ASSERT_TRUE(driver.setCommTimeouts(h, CommTimeouts{maxDword, 0, 0, 0, 0}));
        wait.hEvent = driver.createEvent(true, true);
    }
    void TearDown() override {
        if (h != invalidHandleValue) driver.closeHandle(h);
        driver.closeEvent(wait.hEvent);
    }

    // Starts a wait; true when it is pending.
    bool startWait() {
        if (driver.waitCommEvent(h, &events, &wait)) return false;
        return driver.getLastError() == errorIoPending;
    }
    // The events of a wait that has completed, or nothing while it is still running after
    // `limit` (a short limit only where nothing is expected to come).
    std::optional<std::uint32_t> outcome(std::chrono::milliseconds limit) {
        if (driver.waitForSingleObject(wait.hEvent, static_cast<std::uint32_t>(limit.count())) !=
            waitObject0)
            return std::nullopt;
        std::uint32_t unused = 0;
        if (!driver.getOverlappedResult(h, &wait, &unused, false)) return 0x80000000u;
        return events;
    }
    std::optional<std::uint32_t> completed() { return outcome(std::chrono::seconds(10)); }
    std::optional<std::uint32_t> stillWaiting() { return outcome(std::chrono::milliseconds(100)); }

    std::string readAll() {
        Overlapped r;
        r.hEvent = driver.createEvent(true, true);
        std::string out(8192, '\0');
        std::uint32_t n = 0;
        driver.readFile(h, out.data(), static_cast<std::uint32_t>(out.size()), &n, &r);
        driver.closeEvent(r.hEvent);
        out.resize(n);
        return out;
    }
};

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

TEST_F(EventWaitOnPty, NewBytesWakeTheWaitBytesLeftUnreadDoNot) {
    ASSERT_TRUE(driver.setCommMask(h, ce::rxChar));
    ASSERT_TRUE(startWait());
    pty.send("a");
    EXPECT_EQ(completed(), ce::rxChar);
    ASSERT_TRUE(startWait());
    EXPECT_EQ(stillWaiting(), std::nullopt); // "a" is still there, unread
    pty.send("b");
    EXPECT_EQ(completed(), ce::rxChar);
    EXPECT_EQ(readAll(), "ab");
}

TEST_F(EventWaitOnPty, TheEventCharacterIsSeenWithoutTakingTheBytes) {
    Dcb dcb;
    ASSERT_TRUE(driver.getCommState(h, dcb));
    dcb.EvtChar = '\n';
    ASSERT_TRUE(driver.setCommState(h, dcb));
    ASSERT_TRUE(driver.setCommMask(h, ce::rxFlag));
    ASSERT_TRUE(startWait());
    pty.send("no flag");
    EXPECT_EQ(stillWaiting(), std::nullopt);
    pty.send("x\n");
    EXPECT_EQ(completed(), ce::rxFlag);
    ComStat stat;
    ASSERT_TRUE(driver.clearCommError(h, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 9u);
    EXPECT_EQ(readAll(), "no flagx\n");
}

TEST_F(EventWaitOnPty, TheQueueAt80PercentIsReportedOnceUntilItEmpties) {
    ASSERT_TRUE(driver.setupComm(h, 10, 10));
    ASSERT_TRUE(driver.setCommMask(h, ce::rx80Full));
    ASSERT_TRUE(startWait());
    pty.send("1234567");
    EXPECT_EQ(stillWaiting(), std::nullopt);
    pty.send("8");
    EXPECT_EQ(completed(), ce::rx80Full);
    ASSERT_TRUE(startWait());
    pty.send("9");
    EXPECT_EQ(stillWaiting(), std::nullopt);
    // The queue holds ten; the rest waits in the kernel and comes after, in order.
    pty.send("ABCDEFGHIJ");
    std::string all;
    for (int i = 0; i < 100 && all.size() < 19; ++i) {
        all += readAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(all, "123456789ABCDEFGHIJ");
    pty.send("abcdefgh");
    EXPECT_EQ(completed(), ce::rx80Full);
}

TEST_F(EventWaitOnPty, OutputEmptyAfterAWrite) {
    ASSERT_TRUE(driver.setCommMask(h, ce::txEmpty));
    ASSERT_TRUE(startWait());
    EXPECT_EQ(stillWaiting(), std::nullopt);
    Overlapped w;
    w.hEvent = driver.createEvent(true, true);
    std::uint32_t n = 0;
    ASSERT_TRUE(driver.writeFile(h, "abc", 3, &n, &w));
    EXPECT_EQ(completed(), ce::txEmpty);
    EXPECT_EQ(pty.receive(3), "abc");
    driver.closeEvent(w.hEvent);
}

TEST_F(EventWaitOnPty, EventsBeforeAWaitAreKeptAndAMaskChangeEndsAWait) {
    ASSERT_TRUE(driver.setCommMask(h, ce::rxChar | ce::txEmpty));
    Overlapped w;
    w.hEvent = driver.createEvent(true, true);
    std::uint32_t n = 0;
    ASSERT_TRUE(driver.writeFile(h, "x", 1, &n, &w)); // drains at once on a pseudo-terminal
    driver.closeEvent(w.hEvent);
    ASSERT_TRUE(startWait()); // reported at the wait's first look at the output
    EXPECT_EQ(completed(), ce::txEmpty);

    ASSERT_TRUE(startWait());
    std::uint32_t second = 0;
    Overlapped other;
    other.hEvent = driver.createEvent(true, true);
    EXPECT_FALSE(driver.waitCommEvent(h, &second, &other)); // one wait at a time
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(EINVAL));
    driver.closeEvent(other.hEvent);

    ASSERT_TRUE(driver.setCommMask(h, ce::rxChar));
    EXPECT_EQ(completed(), 0u);
    std::uint32_t mask = 0;
    ASSERT_TRUE(driver.getCommMask(h, &mask));
    EXPECT_EQ(mask, ce::rxChar);

    ASSERT_TRUE(startWait());
    EXPECT_TRUE(driver.cancelIoEx(h, &wait));
    EXPECT_EQ(completed(), 0x80000000u);
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(ECANCELED));

    ASSERT_TRUE(driver.setCommMask(h, 0));
    EXPECT_FALSE(driver.waitCommEvent(h, &events, &wait)); // nothing to wait for
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(EINVAL));
}

TEST_F(EventWaitOnPty, ModemLinesWithoutADriverWaitNeverComeAndCostNothing) {
    // A pseudo-terminal has no modem lines and counts nothing: those events are unavailable.
    ASSERT_TRUE(driver.setCommMask(h, ce::cts | ce::dsr | ce::rlsd | ce::ring | ce::err | ce::brk));
    ASSERT_TRUE(startWait());
    const double before = processCpuSeconds();
    EXPECT_EQ(stillWaiting(), std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(processCpuSeconds() - before, 0.1); // a spinning thread would take it all
    ASSERT_TRUE(driver.closeHandle(h));
    h = invalidHandleValue;
    EXPECT_EQ(completed(), 0x80000000u); // closing aborts the wait
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(ECANCELED));
}

TEST_F(EventWaitOnPty, AFarEndThatGoesAwayEndsTheWaitQuietlyWithoutSpinning) {
    ASSERT_TRUE(driver.setCommMask(h, 0x05FF));
    ASSERT_TRUE(startWait());
    pty.send("last");
    EXPECT_EQ(completed(), ce::rxChar);
    ASSERT_TRUE(startWait());
    pty.closeController();
    EXPECT_EQ(completed(), 0x80000000u);
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(EIO));
    // Later waits fail at once; what arrived before can still be read, then reading fails.
    EXPECT_FALSE(driver.waitCommEvent(h, &events, &wait));
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(EIO));
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(processCpuSeconds() - before, 0.1);
    EXPECT_EQ(readAll(), "last");
    Overlapped r;
    r.hEvent = driver.createEvent(true, true);
    char b = 0;
    EXPECT_FALSE(driver.readFile(h, &b, 1, nullptr, &r));
    EXPECT_EQ(driver.getLastError(), static_cast<std::uint32_t>(EIO));
    driver.closeEvent(r.hEvent);
}

TEST_F(EventWaitOnPty, AReadThatWaitsAndAWaitingEventBothTakeOneArrival) {
    // The read waits for all three bytes (no time-outs): only the arrival can end it, whichever
    // of its watchers takes the bytes in.
    ASSERT_TRUE(driver.setCommTimeouts(h, CommTimeouts{0, 0, 0, 0, 0}));
    ASSERT_TRUE(driver.setCommMask(h, ce::rxChar));
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(startWait());
        auto event = std::async(std::launch::async, [&] { return completed(); });
        Overlapped r;
        r.hEvent = driver.createEvent(true, true);
        char got[3] = {};
        EXPECT_FALSE(driver.readFile(h, got, 3, nullptr, &r));
        ASSERT_EQ(driver.getLastError(), errorIoPending);
        pty.send("abc");
        EXPECT_EQ(driver.waitForSingleObject(r.hEvent, 10000), waitObject0) << "round " << round;
        std::uint32_t n = 0;
        EXPECT_TRUE(driver.getOverlappedResult(h, &r, &n, false));
        EXPECT_EQ(std::string(got, n), "abc");
        EXPECT_EQ(event.get(), ce::rxChar) << "round " << round;
        driver.closeEvent(r.hEvent);
    }
}

TEST_F(EventWaitOnPty, AWaitOnAFullQueueTakesTheRestInOnceAReadMakesRoom) {
    ASSERT_TRUE(driver.setupComm(h, 10, 10));
    ASSERT_TRUE(driver.setCommMask(h, ce::rxChar));
    ASSERT_TRUE(startWait());
    pty.send("0123456789");
    EXPECT_EQ(completed(), ce::rxChar);
    ASSERT_TRUE(startWait());
    auto event = std::async(std::launch::async, [&] { return completed(); });
    pty.send("more"); // stays in the kernel: the queue is full
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Overlapped r;
    r.hEvent = driver.createEvent(true, true);
    char got[5] = {};
    std::uint32_t n = 0;
    ASSERT_TRUE(driver.readFile(h, got, 5, &n, &r));
    EXPECT_EQ(std::string(got, n), "01234");
    driver.closeEvent(r.hEvent);
    EXPECT_EQ(event.get(), ce::rxChar);
    EXPECT_EQ(readAll(), "56789more");
}

TEST_F(EventWaitOnPty, AWaitThatIsOnlyLookedAtStillSeesAnArrival) {
    ASSERT_TRUE(driver.setCommMask(h, ce::rxChar));
    ASSERT_TRUE(startWait());
    std::uint32_t unused = 0;
    EXPECT_FALSE(driver.getOverlappedResult(h, &wait, &unused, false));
    EXPECT_EQ(driver.getLastError(), errorIoIncomplete);
    pty.send("x");
    bool done = false;
    for (int i = 0; i < 1000 && !done; ++i) {
        done = driver.getOverlappedResult(h, &wait, &unused, false);
        if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(events, ce::rxChar);
}

// A wake() whose write lands just after a sleep has ended (woken by the line, not by it) must not
// leave its count behind: every later sleep would return at once, a thread spinning on an idle
// line. The late write is played here by writing to the sleeper's descriptor directly.
TEST(DeviceSleeper, AWakeUpLeftOnItsDescriptorEndsOneSleepOnly) {
    auto eventfds = [] {
        std::set<int> found;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const auto target = std::filesystem::read_symlink(entry.path(), error);
            if (!error && target.string() == "anon_inode:[eventfd]")
                found.insert(std::stoi(entry.path().filename().string()));
        }
        return found;
    };
    const std::set<int> before = eventfds();
    posix::DeviceSleeper sleeper;
    std::vector<int> added;
    std::ranges::set_difference(eventfds(), before, std::back_inserter(added));
    ASSERT_EQ(added.size(), 1u);
    sleeper.begin(nullptr, 0);
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(added[0], &one, sizeof one), static_cast<ssize_t>(sizeof one));
    const auto now = [] { return std::chrono::steady_clock::now(); };
    EXPECT_TRUE(sleeper.sleep(now()));
    EXPECT_FALSE(sleeper.sleep(now())); // a zero-length sleep that nothing ends
    sleeper.end();
}
