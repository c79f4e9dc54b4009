// The event thread on the fake device: the mask it asks for, the order and thread of delivery
// under each method, stopping and closing while a hand-over runs, wake-ups without events, waits
// that fail, and handlers that fail.

#include "EventFixture.h"
#include "framework/ErrorDisplay.h"

#include <gmock/gmock.h>

#include <atomic>
#include <stdexcept>

using namespace comport;
using ::testing::ElementsAre;
namespace ce = driver::commEvent;

TEST(EventMask, EveryMemberHasItsOwnBitBothWays) {
    EXPECT_EQ(eventsToMask(allComEvents), 0x05FFu);
    EXPECT_EQ(eventsToMask({evRxChar}), 0x0001u);
    EXPECT_EQ(eventsToMask({evTxEmpty, evRxFlag}), 0x0006u);
    EXPECT_EQ(eventsToMask({}), 0u);
    const std::uint32_t bits[] = {0x0001, 0x0004, 0x0002, 0x0100, 0x0040,
                                  0x0008, 0x0010, 0x0080, 0x0020, 0x0400};
    for (int e = evRxChar; e <= evRx80Full; ++e) {
        const auto member = static_cast<TComEvent>(e);
        EXPECT_EQ(eventsToMask({member}), bits[e]) << e;
        EXPECT_EQ(maskToEvents(bits[e]), TComEvents{member}) << e;
    }
    EXPECT_TRUE(maskToEvents(ce::perr).empty());
    EXPECT_EQ(maskToEvents(0xFFFFFFFFu), allComEvents);
}

TEST_F(EventsOnFake, NoEventsStartNoThread) {
    port->setEvents({});
    port->openPort();
    port->closePort();
    EXPECT_EQ(fake->count("setCommMask"), 0);
    EXPECT_TRUE(fake->otherThreadCalls().empty());
}

TEST_F(EventsOnFake, OpenAndCloseReportTheRealLinesInOrder) {
    recordAll();
    TPortLink link;
    link.connectionChanged = [&](fw::TObject*, bool on) { log.add(on ? "link:on" : "link:off"); };
    link.ctsChanged = [&](fw::TObject*, bool on) { log.add(on ? "link:cts:1" : "link:cts:0"); };
    link.dsrChanged = [&](fw::TObject*, bool on) { log.add(on ? "link:dsr:1" : "link:dsr:0"); };
    link.rlsdChanged = [&](fw::TObject*, bool on) { log.add(on ? "link:rlsd:1" : "link:rlsd:0"); };
    port->registerLink(&link);
    port->setEvents({evRing});
    fake->setModemStatus(driver::modemStatus::ctsOn | driver::modemStatus::rlsdOn);

    port->openPort();
    EXPECT_THAT(log.seen(), ElementsAre("bo", "link:on", "ao", "link:cts:1", "cts:1", "link:dsr:0",
                                        "dsr:0", "link:rlsd:1", "rlsd:1"));
    EXPECT_THAT(fake->calls(), ::testing::Contains("setCommMask(256)"));
    log.clear();
    fake->clearCalls();
    port->closePort();
    // Closing reports the lines off without asking the device.
    EXPECT_THAT(log.seen(), ElementsAre("link:cts:0", "link:dsr:0", "link:rlsd:0", "cts:0", "dsr:0",
                                        "rlsd:0", "bc", "link:off", "ac"));
    EXPECT_EQ(fake->count("getCommModemStatus"), 0);
    port->unregisterLink(&link);
}

// --- one wake-up under each method -----------------------------------------------------------

class DeliveryMethods : public EventsOnFake, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(DeliveryMethods, AllTenEventsOfAWakeUpGoOutInTheFixedOrderOnTheNamedThread) {
    port->setSyncMethod(GetParam());
    recordAll();
    openAndWait();
    log.clear();
    fake->setErrorFlags(driver::commError::frame);
    fake->feedInput("abc", false);
    fake->setModemStatus(driver::modemStatus::ctsOn | driver::modemStatus::rlsdOn);
    fake->raiseEvents(0x05FF); // one completion with all ten

    ASSERT_TRUE(serveUntilLogged(10));
    const std::string frame = std::to_string(TComErrors{ceFrame}.bits());
    EXPECT_THAT(log.seen(), ElementsAre("error:" + frame, "rxchar:3", "txempty", "break", "ring",
                                        "cts:1", "dsr:0", "rxflag", "rlsd:1", "rx80full"));
    std::lock_guard l(log.lock);
    for (std::thread::id t : log.threads) {
        if (GetParam() == smNone)
            EXPECT_NE(t, fw::mainThreadId());
        else
            EXPECT_EQ(t, fw::mainThreadId()); // the opening thread owns the window
        EXPECT_EQ(t, log.threads.front());
    }
}

TEST_P(DeliveryMethods, AFailingHandlerIsShownAndDeliveryGoesOn) {
    std::vector<std::string> shown;
    std::mutex shownLock;
    auto previous = fw::setErrorDisplay([&](const std::exception& e) {
        std::lock_guard l(shownLock);
        shown.push_back(e.what());
    });
    port->setSyncMethod(GetParam());
    port->OnRxChar = [&](fw::TObject*, std::int32_t n) {
        log.add("rxchar:" + std::to_string(n));
        throw std::runtime_error("handler broke");
    };
    port->OnRing = [&](fw::TObject*) { log.add("ring"); };
    openAndWait();
    fake->feedInput("a", false);
    fake->raiseEvents(ce::rxChar | ce::ring);
    ASSERT_TRUE(serveUntilLogged(2)); // the ring after the failure, same wake-up
    fake->feedInput("b");             // and the thread still waits for more
    ASSERT_TRUE(serveUntilLogged(3));
    port->closePort();
    fw::setErrorDisplay(previous);
    EXPECT_THAT(log.seen(), ElementsAre("rxchar:1", "ring", "rxchar:2"));
    EXPECT_THAT(shown, ElementsAre("handler broke", "handler broke"));
}

// The bytes are stamped when the event thread wakes for them, not when the hand-over reaches the
// handler: the handler of a busy window thread runs later, and a byte that comes meanwhile gets
// its own, later stamp.
TEST_P(DeliveryMethods, ReadBytesTellWhenTheyReachedThePortNotWhenTheHandlerRan) {
    using namespace std::chrono_literals;
    const auto arrived = std::chrono::steady_clock::time_point{} + 100s;
    std::vector<std::chrono::steady_clock::time_point> stamps;
    port->setSyncMethod(GetParam());
    port->OnRxChar = [&](fw::TObject*, std::int32_t n) {
        fake->setClock(arrived + 20ms); // the hand-over took its time
        fake->feedInput("!", false);    // and a byte came during it
        for (std::int32_t i = 0; i <= n; ++i) {
            std::uint8_t byte = 0;
            port->readBytes(&byte, 1);
            stamps.push_back(port->lastReadArrival().value_or(arrived + 1h));
        }
        log.add("rxchar");
    };
    openAndWait();
    fake->setClock(arrived);
    fake->feedInput("[N]");
    // The window thread gets to the hand-over only once the event thread has looked at the bytes.
    for (int i = 0; i < 200 && !std::ranges::count(fake->otherThreadCalls(), "clearCommError()");
         ++i)
        std::this_thread::sleep_for(10ms);
    fake->setClock(arrived + 20ms);
    ASSERT_TRUE(serveUntilLogged(1));
    port->closePort();
    EXPECT_THAT(stamps, ElementsAre(arrived, arrived, arrived, arrived + 20ms));
}

// Under smWindowSync the window releases the thread before the handler runs, so a handler that
// closes the port is an ordinary close; the other two methods hold the thread in the hand-over.
class ClosingFromAHandler : public DeliveryMethods {};

TEST_P(ClosingFromAHandler, EndsItsHandOverWithoutDeadlock) {
    port->setSyncMethod(GetParam());
    recordAll();
    port->OnRxChar = [&](fw::TObject*, std::int32_t) {
        log.add("rxchar");
        port->closePort();
    };
    openAndWait();
    log.clear();
    fake->feedInput("a", false);
    fake->raiseEvents(ce::rxChar | ce::ring);
    ASSERT_TRUE(fwtest::serveUntil([&] { return log.has("ac"); }));
    // The ring of the same wake-up is not delivered to a closed port.
    EXPECT_THAT(log.seen(), ElementsAre("rxchar", "cts:0", "dsr:0", "rlsd:0", "bc", "ac"));
    EXPECT_FALSE(port->Connected());
    EXPECT_FALSE(fake->isOpen());
}

// The owner's close (or the destructor) waits for the event thread and serves the hand-over it is
// in; a handler there that closes as well gets no second close, and the rest of its hand-over is
// not run against the closing port.
TEST_P(ClosingFromAHandler, WhileTheOwnerClosesClosesOnceAndDropsTheRest) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destructor" : "closePort");
        port = std::make_unique<ExposedPort>(nullptr, fake);
        ExposedPort* const p = port.get();
        p->setSyncMethod(GetParam());
        recordAll();
        std::vector<std::string> shown;
        auto previous =
            fw::setErrorDisplay([&](const std::exception& e) { shown.push_back(e.what()); });
        std::atomic<bool> ownerClosing{false}, inHandler{false};
        p->OnBeforeClose = [&](fw::TObject*) {
            log.add("bc");
            ownerClosing = true;
        };
        p->OnRxChar = [&](fw::TObject*, std::int32_t) {
            inHandler = true;
            while (!ownerClosing) // smNone: the handler runs at once, on the event thread
                std::this_thread::yield();
            log.add("rxchar");
            p->closePort();
        };
        fwtest::WakeRecorder wake;
        openAndWait();
        log.clear();
        fake->feedInput("a", false);
        fake->setModemStatus(driver::modemStatus::ctsOn);
        fake->raiseEvents(ce::rxChar | ce::cts);
        if (GetParam() == smThreadSync) {
            ASSERT_TRUE(wake.waitForCalls(1));
        } else {
            while (!inHandler)
                std::this_thread::yield();
        }
        if (destroy)
            port.reset();
        else
            p->closePort();
        fw::setErrorDisplay(previous);
        EXPECT_THAT(log.seen(), ElementsAre("cts:0", "dsr:0", "rlsd:0", "bc", "rxchar", "ac"));
        EXPECT_TRUE(shown.empty()) << shown.front();
        EXPECT_EQ(fake->count("closeHandle"), 1);
        EXPECT_FALSE(fake->isOpen());
        log.clear();
        fake->clearCalls();
    }
}

// Under smNone a handler runs beside the owner, and either may ask for a close at any moment: two
// threads closing at once. One close runs, once, and neither call fails.
TEST_F(EventsOnFake, TwoThreadsClosingAtOnceCloseOnce) {
    port->setEvents({});
    recordAll();
    ExposedPort* const p = port.get();
    std::atomic<int> round{0}, ready{0}, done{0};
    std::atomic<bool> failed{false};
    auto close = [&] {
        try {
            p->closePort();
        } catch (const std::exception&) {
            failed = true;
        }
    };
    std::thread other([&] {
        for (int r = 1;; ++r) {
            int now;
            while ((now = round.load()) >= 0 && now < r)
                std::this_thread::yield();
            if (now < 0) return;
            ++ready;
            while (ready.load() < 2)
                ;
            close();
            ++done;
        }
    });
    auto count = [&](const std::string& call) {
        return static_cast<int>(std::ranges::count(fake->calls(), call) +
                                std::ranges::count(fake->otherThreadCalls(), call));
    };
    // The race is narrow: many rounds, bounded so that a slow (sanitized) build stays quick.
    const auto enough = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int doubled = 0;
    for (int r = 1;
         r <= 2000 && doubled == 0 && !failed && std::chrono::steady_clock::now() < enough; ++r) {
        p->openPort();
        log.clear();
        fake->clearCalls();
        ready = 0;
        done = 0;
        round = r;
        ++ready;
        while (ready.load() < 2)
            ;
        close();
        while (done.load() < 1)
            std::this_thread::yield();
        if (count("closeHandle()") != 1 ||
            log.seen() != std::vector<std::string>{"cts:0", "dsr:0", "rlsd:0", "bc", "ac"})
            doubled = r;
    }
    round = -1;
    other.join();
    EXPECT_EQ(doubled, 0) << "closed twice in round " << doubled;
    EXPECT_FALSE(failed);
}

// An event that comes while openPort still runs (here from OnAfterOpen) is handed over only once
// the open has finished, so a handler that closes the port, or closes and reopens it, on the
// event thread (smNone) cannot pull the device from under openPort's last steps.
TEST_F(EventsOnFake, AHandlerThatClosesOrReopensWaitsForTheOpenToFinish) {
    for (const bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "close and reopen" : "close");
        port = std::make_unique<ExposedPort>(nullptr, fake);
        ExposedPort* const p = port.get();
        p->setSyncMethod(smNone);
        std::atomic<int> handled{0};
        std::atomic<bool> handlerDone{false}, opening{true};
        p->OnRxChar = [&, p](fw::TObject*, std::int32_t) {
            if (handled++ == 0) {
                p->closePort();
                if (reopen) p->openPort();
                handlerDone = true;
            }
        };
        p->OnAfterOpen = [&](fw::TObject*) {
            if (!opening.exchange(false)) return; // the handler's reopen
            fake->feedInput("x");
            // Long enough for a thread that delivers at once to have done so.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            while (!handlerDone && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
        };
        EXPECT_NO_THROW(p->openPort());
        ASSERT_TRUE(fwtest::serveUntil([&] { return handlerDone.load(); }));
        EXPECT_EQ(p->Connected(), reopen);
        EXPECT_EQ(fake->isOpen(), reopen);
        if (reopen) { // the reopened port delivers its events
            ASSERT_TRUE(fake->waitForEventWait());
            fake->feedInput("y");
            EXPECT_TRUE(fwtest::serveUntil([&] { return handled.load() == 2; }));
        }
        port.reset();
        EXPECT_FALSE(fake->isOpen());
    }
}

// Under smWindowSync a handler that destroys the port is not called again from inside its own
// delete, nor is any other: the events the thread still had to send, or had queued, go with the
// window.
TEST_F(EventsOnFake, AWindowHandlerThatDestroysThePortIsTheLastOneCalled) {
    port->setSyncMethod(smWindowSync);
    recordAll();
    port->OnRxChar = [&](fw::TObject*, std::int32_t) {
        log.add("rxchar");
        port.reset();
    };
    openAndWait();
    log.clear();
    fake->feedInput("a", false);
    fake->setModemStatus(driver::modemStatus::ctsOn);
    fake->raiseEvents(ce::rxChar | ce::ring | ce::cts);
    ASSERT_TRUE(fwtest::serveUntil([&] { return !port; }));
    for (int i = 0; i < 5; ++i)
        fw::waitForSynchronize(std::chrono::milliseconds(10));
    EXPECT_THAT(log.seen(), ElementsAre("rxchar", "cts:0", "dsr:0", "rlsd:0", "bc", "ac"));
    EXPECT_FALSE(fake->isOpen());
}

// Under smWindowSync the window's thread handles events while another thread closes the port, then
// closes it too: one close, and the window (and a third thread that watches the port) sees the
// port close without a race on its state.
TEST_F(EventsOnFake, UnderWindowDeliveryAnotherThreadsCloseIsSeenCleanly) {
    port->setSyncMethod(smWindowSync);
    recordAll();
    openAndWait();
    std::thread watcher([&] {
        while (port->Connected())
            std::this_thread::yield();
    });
    std::atomic<bool> go{false}, closed{false};
    std::thread other([&] {
        while (!go)
            std::this_thread::yield();
        port->closePort();
        closed = true;
    });
    fake->feedInput("a");
    ASSERT_TRUE(serveUntilLogged(log.size() + 1));
    go = true;
    for (int i = 0; i < 5000 && !closed; ++i) {
        fake->raiseEvents(ce::ring);
        fw::waitForSynchronize(std::chrono::milliseconds(1));
    }
    other.join();
    watcher.join();
    port->closePort();
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(std::ranges::count(fake->calls(), "closeHandle()") +
                  std::ranges::count(fake->otherThreadCalls(), "closeHandle()"),
              1);
}

std::string methodName(const ::testing::TestParamInfo<TSyncMethod>& info) {
    static const char* const names[] = {"ThreadSync", "WindowSync", "None"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Methods, DeliveryMethods,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), methodName);
INSTANTIATE_TEST_SUITE_P(Methods, ClosingFromAHandler, ::testing::Values(smThreadSync, smNone),
                         methodName);

// --- stopping --------------------------------------------------------------------------------

TEST_F(EventsOnFake, ClosingDuringAHandOverServesItAndAStopWinsOverTheNextWait) {
    recordAll();
    fwtest::WakeRecorder wake;
    openAndWait();
    log.clear();
    fake->setModemStatus(driver::modemStatus::ctsOn);
    fake->raiseEvents(ce::ring);
    ASSERT_TRUE(wake.waitForCalls(1)); // the thread now waits for the main thread
    fake->raiseEvents(ce::cts);        // kept for its next wait, which completes at once
    fake->clearCalls();
    port->closePort();
    // The ring runs inside closePort; the CTS change meets the stop and is never delivered.
    EXPECT_THAT(log.seen(), ElementsAre("cts:0", "dsr:0", "rlsd:0", "bc", "ring", "ac"));
    const auto thread = fake->otherThreadCalls();
    ASSERT_GE(thread.size(), 2u);
    EXPECT_EQ(thread[thread.size() - 2], "setCommMask(0)");
    EXPECT_EQ(thread.back(), "purgeComm(8)");
    EXPECT_EQ(fake->eventMask(), 0u);
    EXPECT_EQ(fake->inputLeft(), 0u);
}

TEST_F(EventsOnFake, AWakeUpWithoutEventsIsOneEmptyHandOver) {
    recordAll();
    fwtest::WakeRecorder wake;
    openAndWait();
    log.clear();
    fake->setCommMask(port->portHandle(), 0x05FF); // completes the waiting request with 0
    ASSERT_TRUE(wake.waitForCalls(1));
    EXPECT_TRUE(fw::checkSynchronize());
    ASSERT_TRUE(fake->waitForEventWait());
    EXPECT_TRUE(log.seen().empty());
}

TEST_F(EventsOnFake, AWakeUpWithoutEventsSendsNoMessage) {
    port->setSyncMethod(smWindowSync);
    recordAll();
    fwtest::WakeRecorder wake;
    openAndWait();
    log.clear();
    fake->setCommMask(port->portHandle(), 0x05FF);
    ASSERT_TRUE(fake->waitForEventWait());
    fake->raiseEvents(ce::ring); // a real event after it does reach the window
    ASSERT_TRUE(wake.waitForCalls(1));
    ASSERT_TRUE(serveUntilLogged(1));
    EXPECT_THAT(log.seen(), ElementsAre("ring"));
    EXPECT_EQ(wake.calls(), 1);
}

TEST_F(EventsOnFake, AFailedCompletionDeliversNothingAndTheThreadWaitsAgain) {
    recordAll();
    openAndWait();
    log.clear();
    fake->failEventWait(31);
    ASSERT_TRUE(fake->waitForEventWait());
    fake->raiseEvents(ce::ring);
    ASSERT_TRUE(serveUntilLogged(1));
    EXPECT_THAT(log.seen(), ElementsAre("ring"));
}

TEST_F(EventsOnFake, AWaitThatCannotStartEndsTheThreadQuietly) {
    recordAll();
    fake->failCall("waitCommEvent", 6);
    port->openPort();
    auto cleanedUp = [&] {
        const auto calls = fake->otherThreadCalls();
        return !calls.empty() && calls.back() == "purgeComm(8)";
    };
    ASSERT_TRUE(fwtest::serveUntil(cleanedUp));
    const auto calls = fake->otherThreadCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "waitCommEvent()"), 1);
    EXPECT_TRUE(port->Connected());
    port->closePort();
    EXPECT_FALSE(fake->isOpen());
}
