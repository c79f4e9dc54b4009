// What the handling operations do with each event, called as the hand-over calls them: received
// bytes for OnRxChar, OnRxBuf and linked readers; the notices links get; link registration; the
// hidden window's procedure.

#include "EventFixture.h"
#include "PortFixture.h"
#include "framework/ErrorDisplay.h"

#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <stdexcept>

using namespace comport;
using ::testing::ElementsAre;

namespace {

struct Dispatch : EventsOnFake {
    void SetUp() override {
        port->setEvents({}); // the test calls the handling operations itself
        port->openPort();
        fake->clearCalls();
    }

    TPortLink reader() {
        TPortLink link;
        link.dataReceived = [this](fw::TObject*, const std::uint8_t* b, std::int32_t n) {
            log.add("link:data:" + std::string(reinterpret_cast<const char*>(b), n));
        };
        link.receivingChanged = [this](fw::TObject*, bool on) {
            log.add(on ? "link:receiving:1" : "link:receiving:0");
        };
        return link;
    }

    void recordRxBuf() {
        port->OnRxBuf = [this](fw::TObject*, const std::uint8_t* b, std::int32_t n) {
            log.add("rxbuf:" + std::string(reinterpret_cast<const char*>(b), n));
        };
    }
};

} // namespace

TEST_F(Dispatch, NothingWaitingMeansNoNoticeNoReadNoEvent) {
    recordAll();
    recordRxBuf();
    TPortLink link = reader();
    port->registerLink(&link);
    port->handleRxChar();
    EXPECT_TRUE(log.seen().empty());
    EXPECT_EQ(fake->count("readFile"), 0);
    port->unregisterLink(&link);
}

TEST_F(Dispatch, OnRxCharGetsTheWaitingCountAndLeavesTheBytes) {
    recordAll();
    recordRxBuf();
    fake->feedInput("abc", false);
    port->handleRxChar();
    EXPECT_THAT(log.seen(), ElementsAre("rxchar:3"));
    EXPECT_EQ(fake->inputLeft(), 3u);
}

TEST_F(Dispatch, WithoutTriggersOnRxCharTheBytesGoToOnRxBufOrAreDropped) {
    recordAll();
    port->setTriggersOnRxChar(false);
    fake->feedInput("abc", false);
    port->handleRxChar(); // nobody takes them: read and dropped
    EXPECT_TRUE(log.seen().empty());
    EXPECT_EQ(fake->inputLeft(), 0u);
    EXPECT_EQ(fake->count("readFile"), 1);

    recordRxBuf();
    fake->feedInput("xyz", false);
    port->handleRxChar();
    EXPECT_THAT(log.seen(), ElementsAre("rxbuf:xyz"));
}

TEST_F(Dispatch, ALinkedReaderTakesTheBytesAfterOnRxBuf) {
    recordAll();
    recordRxBuf();
    TPortLink link = reader();
    port->registerLink(&link);
    EXPECT_FALSE(port->TriggersOnRxChar());
    EXPECT_EQ(raised([&] { port->setTriggersOnRxChar(true); }).errorCode(), 22);

    fake->feedInput("hi", false);
    port->handleRxChar();
    // The read itself drains the queue, which links hear about too.
    EXPECT_THAT(log.seen(),
                ElementsAre("link:receiving:1", "link:receiving:0", "rxbuf:hi", "link:data:hi"));
    EXPECT_EQ(fake->count("readFile"), 1); // read once for everyone

    port->unregisterLink(&link);
    EXPECT_TRUE(port->TriggersOnRxChar());
}

TEST_F(Dispatch, AFailingReaderStillConsumesTheAnnouncement) {
    recordAll();
    port->setTriggersOnRxChar(false);
    port->OnRxBuf = [](fw::TObject*, const std::uint8_t*, std::int32_t) {
        throw std::runtime_error("reader broke");
    };
    fake->feedInput("abc", false);
    EXPECT_THROW(port->handleRxChar(), std::runtime_error);
    EXPECT_TRUE(log.seen().empty()); // no OnRxChar for bytes already read
    EXPECT_EQ(fake->inputLeft(), 0u);
}

TEST_F(Dispatch, ErrorsAlreadyClearedFireNothing) {
    recordAll();
    port->handleError();
    fake->setErrorFlags(driver::commError::overrun);
    port->handleError();
    EXPECT_THAT(log.seen(), ElementsAre("error:" + std::to_string(TComErrors{ceOverrun}.bits())));
}

TEST_F(Dispatch, LinksHearOfLineEventsBeforeTheOwner) {
    recordAll();
    TPortLink link;
    link.sendingChanged = [&](fw::TObject*, bool on) {
        log.add(on ? "link:sending:1" : "link:sending:0");
    };
    link.sendQueueEmptied = [&](fw::TObject*) { log.add("link:txempty"); };
    link.ringDetected = [&](fw::TObject*) { log.add("link:ring"); };
    link.eventCharReceived = [&](fw::TObject*) { log.add("link:rxflag"); };
    TPortLink silent; // every slot empty
    port->registerLink(&silent);
    port->registerLink(&link);
    port->handleTxEmpty();
    port->handleRing();
    port->handleRxFlag();
    EXPECT_THAT(log.seen(), ElementsAre("link:sending:0", "link:txempty", "txempty", "link:ring",
                                        "ring", "link:rxflag", "rxflag"));
    port->unregisterLink(&link);
    port->unregisterLink(&silent);
}

// A link may destroy the port from any notice (the event thread lets go of a port destroyed by
// its own handlers): the destructor closes it, and nothing that was to follow the notice runs.
TEST_F(Dispatch, ALinkThatDestroysThePortEndsWhatWasUnderWay) {
    struct Case {
        const char* notice;
        TPortLink::StateSlot TPortLink::*state;
        TPortLink::NoticeSlot TPortLink::*notice_;
        std::function<void(ExposedPort&)> trigger;
        std::vector<std::string> before; // what the owner heard before the notice
    };
    using P = ExposedPort;
    const std::vector<Case> cases = {
        {"cts", &TPortLink::ctsChanged, nullptr, [](P& p) { p.handleCTSChange(); }, {}},
        {"receiving", &TPortLink::receivingChanged, nullptr, [](P& p) { p.handleRxChar(); }, {}},
        {"data", nullptr, nullptr, [](P& p) { p.handleRxChar(); }, {"rxbuf:abc"}},
        {"sending", &TPortLink::sendingChanged, nullptr, [](P& p) { p.handleTxEmpty(); }, {}},
        {"tx empty", nullptr, &TPortLink::sendQueueEmptied, [](P& p) { p.handleTxEmpty(); }, {}},
        {"ring", nullptr, &TPortLink::ringDetected, [](P& p) { p.handleRing(); }, {}},
        {"event char", nullptr, &TPortLink::eventCharReceived, [](P& p) { p.handleRxFlag(); }, {}},
        {"closing", &TPortLink::ctsChanged, nullptr, [](P& p) { p.closePort(); }, {}},
        {"opening",
         &TPortLink::connectionChanged,
         nullptr,
         [](P& p) {
             p.closePort();
             p.openPort();
         },
         {"cts:0", "dsr:0", "rlsd:0", "bc", "ac", "bo"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notice);
        fake = std::make_shared<testsupport::FakeComDriver>();
        port = std::make_unique<ExposedPort>(nullptr, fake);
        port->setEvents({});
        port->openPort();
        recordAll();
        recordRxBuf();
        fake->feedInput("abc", false);
        ExposedPort* const p = port.get();
        bool armed = c.notice != std::string("opening");
        auto destroy = [&] {
            if (armed && port) {
                log.add("destroy");
                port.reset();
            }
        };
        TPortLink link, reader;
        if (c.state) link.*c.state = [&](fw::TObject*, bool) { destroy(); };
        if (c.notice_) link.*c.notice_ = [&](fw::TObject*) { destroy(); };
        if (!c.state && !c.notice_)
            link.dataReceived = [&](fw::TObject*, const std::uint8_t*, std::int32_t) { destroy(); };
        // A second reader that must not be reached through a list that has gone.
        reader.dataReceived = [&](fw::TObject*, const std::uint8_t*, std::int32_t) {
            log.add("reader");
        };
        p->registerLink(&link);
        if (!c.state && !c.notice_) p->registerLink(&reader);
        if (!armed) {
            p->OnBeforeOpen = [&](fw::TObject*) {
                log.add("bo");
                armed = true;
            };
        }
        c.trigger(*p);
        std::vector<std::string> expected = c.before;
        for (const char* e : {"destroy", "cts:0", "dsr:0", "rlsd:0", "bc", "ac"})
            expected.push_back(e);
        EXPECT_EQ(port, nullptr);
        EXPECT_EQ(log.seen(), expected);
        EXPECT_FALSE(fake->isOpen());
        log.clear();
    }
}

TEST_F(Dispatch, LinkRegistrationRefusesWhatCannotBeRight) {
    TPortLink link;
    EXPECT_EQ(raised([&] { port->registerLink(nullptr); }).errorCode(), 18);
    EXPECT_EQ(raised([&] { port->unregisterLink(&link); }).errorCode(), 18);
    port->registerLink(&link);
    EXPECT_EQ(raised([&] { port->registerLink(&link); }).errorCode(), 18);
    // Not while a notification walks the list.
    link.ringDetected = [&](fw::TObject*) { port->unregisterLink(&link); };
    EXPECT_EQ(raised([&] { port->handleRing(); }).errorCode(), 18);
    EXPECT_EQ(port->linkList().size(), 1u);
    port->unregisterLink(&link);
    EXPECT_TRUE(port->linkList().empty());
}

TEST_F(Dispatch, AReaderDetachingItselfMidWalkIsRefusedAndEveryReaderGetsTheBytesOnce) {
    std::vector<std::string> reported;
    port->OnException = [&](fw::TObject*, TComExceptions, const std::string& message, std::int64_t,
                            const std::string&) { reported.push_back(message); };
    TPortLink links[3];
    for (int i = 0; i < 3; ++i)
        links[i].dataReceived = [this, i](fw::TObject*, const std::uint8_t* b, std::int32_t n) {
            log.add(std::string(1, char('A' + i)) + ":" +
                    std::string(reinterpret_cast<const char*>(b), n));
        };
    for (auto& link : links)
        port->registerLink(&link);
    links[0].dataReceived = [this, &links](fw::TObject*, const std::uint8_t*, std::int32_t) {
        log.add("A");
        port->unregisterLink(&links[0]);
    };
    fake->feedInput("abc", false);
    port->handleRxChar();
    EXPECT_THAT(log.seen(), ElementsAre("A", "B:abc", "C:abc"));
    EXPECT_THAT(reported, ElementsAre("Link (un)registration failed"));
    EXPECT_EQ(port->linkList().size(), 3u);
    port->OnException.clear();
    for (auto& link : links)
        port->unregisterLink(&link);
}

TEST_F(Dispatch, AFailedLineReadAtOpenLeavesThePortOpenAfterOnAfterOpen) {
    port->closePort();
    recordAll();
    port->setEvents(allComEvents);
    fake->failCall("getCommModemStatus", 5);
    EXPECT_EQ(raised([&] { port->openPort(); }).errorCode(), 11);
    EXPECT_THAT(log.seen(), ElementsAre("bo", "ao"));
    EXPECT_TRUE(port->Connected());
    ASSERT_TRUE(fake->waitForEventWait()); // and events are watched
}

// --- the hidden window ------------------------------------------------------------------------

TEST_F(Dispatch, TheWindowActsOnKnownEventsOnlyAndOnlyWhileOpen) {
    recordAll();
    auto deliver = [&](std::uint32_t msg, std::uintptr_t wParam) {
        fw::TMessage m{msg, wParam, 0, 77};
        port->handleNotifyMessage(m);
        return m.result;
    };
    for (std::uintptr_t unknown : {0x0200u, 0x0003u, 0x0800u, 0u})
        EXPECT_EQ(deliver(portEventMessage, unknown), 0);
    EXPECT_EQ(deliver(fw::wmUser + 2, 0x0100), 0); // not ours: the default answer
    EXPECT_TRUE(log.seen().empty());
    EXPECT_TRUE(fake->calls().empty());

    deliver(portEventMessage, 0x0100);
    EXPECT_THAT(log.seen(), ElementsAre("ring"));

    port->closePort();
    log.clear();
    fake->clearCalls();
    fake->feedInput("late", false);
    EXPECT_EQ(deliver(portEventMessage, 0x0001), 0);
    EXPECT_TRUE(log.seen().empty());
    EXPECT_TRUE(fake->calls().empty());
}

TEST_F(Dispatch, TheWindowShowsAFailingHandlerAndGoesOn) {
    std::vector<std::string> shown;
    auto previous =
        fw::setErrorDisplay([&](const std::exception& e) { shown.push_back(e.what()); });
    port->OnRing = [](fw::TObject*) { throw std::runtime_error("ring broke"); };
    fw::TMessage m{portEventMessage, 0x0100, 0, 0};
    port->handleNotifyMessage(m);
    port->handleNotifyMessage(m);
    fw::setErrorDisplay(previous);
    EXPECT_THAT(shown, ElementsAre("ring broke", "ring broke"));
}

TEST_F(EventsOnFake, TheWindowReleasesTheSenderBeforeHandling) {
    port->setSyncMethod(smWindowSync);
    port->setEvents({evRing});
    port->openPort();
    std::atomic<bool> senderBack{false};
    bool backWhileHandling = false;
    port->OnRing = [&](fw::TObject*) {
        for (int i = 0; i < 1000 && !senderBack; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        backWhileHandling = senderBack;
        log.add("ring");
    };
    const fw::TWindowHandle window = port->notifyWindowHandle();
    ASSERT_NE(window, 0u);
    std::thread sender([&] {
        fw::sendMessage(window, portEventMessage, 0x0100, 0);
        senderBack = true;
    });
    ASSERT_TRUE(serveUntilLogged(1));
    sender.join();
    EXPECT_TRUE(backWhileHandling);
    port->closePort();
    EXPECT_EQ(port->notifyWindowHandle(), 0u);
}
