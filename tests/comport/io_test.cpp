#include "PortFixture.h"

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace comport;
using ::testing::ElementsAre;

TEST_F(PortOnFake, ReadingOrWritingAClosedPortIsPortNotOpenAndTouchesNothing) {
    std::uint8_t byte = 1;
    for (auto op : std::vector<std::function<void()>>{[&] { port->writeBytes(&byte, 1); },
                                                      [&] { port->writeText("x"); },
                                                      [&] { port->readBytes(&byte, 1); }}) {
        const EComPort e = raised(op);
        EXPECT_STREQ(e.what(), "Port Not Open");
        EXPECT_EQ(e.errorCode(), 24);
        EXPECT_EQ(e.systemErrorCode(), -1);
    }
    EXPECT_EQ(port->writeText(""), 0);
    EXPECT_TRUE(fake->calls().empty());
}

TEST_F(PortOnFake, WithAHandlerAClosedPortWriteGoesOnToFailAtTheDevice) {
    catchReports();
    std::uint8_t byte = 1;
    port->writeBytes(&byte, 1);
    port->readBytes(&byte, 1);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].kind, CEPortNotOpen);
    EXPECT_EQ(reports[0].message, "Port Not Open");
    EXPECT_EQ(reports[0].winError, -24);
    EXPECT_EQ(reports[0].winMessage, "");
    EXPECT_EQ(reports[1].kind, CE_WriteFailed);
    EXPECT_EQ(reports[1].winError, testsupport::FakeComDriver::badHandleCode);
    EXPECT_EQ(reports[2].kind, CEPortNotOpen);
    EXPECT_EQ(reports[3].kind, CE_ReadFailed);
}

TEST_F(PortOnFake, StatusQueriesOnAClosedPortCarryTheDevicesCode) {
    struct Case {
        std::function<void()> op;
        int number;
    };
    const std::vector<Case> cases = {
        {[&] { port->bytesWaiting(); }, 10},    {[&] { port->lineErrors(); }, 10},
        {[&] { port->modemSignals(); }, 11},    {[&] { port->setDtrLine(true); }, 12},
        {[&] { port->setRtsLine(false); }, 12}, {[&] { port->abortAllRequests(); }, 5}};
    for (const Case& c : cases) {
        const EComPort e = raised(c.op);
        EXPECT_EQ(e.errorCode(), c.number);
        EXPECT_EQ(e.systemErrorCode(), 9);
    }
}

TEST_F(PortOnFake, BytesMoveThroughTheDevice) {
    openFresh();
    EXPECT_EQ(port->writeText(":"), 1);
    const std::uint8_t record[] = {0x10, 0x00, 0xFF};
    EXPECT_EQ(port->writeBytes(record, 3), 3);
    EXPECT_EQ(fake->output(), std::string(":\x10\x00\xFF", 4));
    EXPECT_THAT(fake->calls(), ::testing::Contains("writeFile(3A)"));

    std::uint8_t in[4] = {};
    EXPECT_EQ(port->readBytes(in, 1), 0); // nothing waiting
    fake->feedInput("[N]");
    EXPECT_EQ(port->readBytes(in, 1), 1);
    EXPECT_EQ(in[0], '[');
    EXPECT_EQ(port->bytesWaiting(), 2);
    EXPECT_EQ(port->readBytes(in, 4), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in), 2), "N]");
}

TEST_F(PortOnFake, MissingOrBadRequestArgumentsAreInvalidAsync) {
    openFresh();
    std::uint8_t byte = 0;
    for (auto op : std::vector<std::function<void()>>{
             [&] { port->writeBytesAsync(&byte, 1, nullptr); },
             [&] { port->readBytesAsync(&byte, 1, nullptr); },
             [&] { port->waitForCompletion(nullptr); }, [&] { port->writeBytes(&byte, -1); },
             [&] { port->readBytes(nullptr, 4); }}) {
        const EComPort e = raised(op);
        EXPECT_EQ(e.errorCode(), 4);
        EXPECT_STREQ(e.what(), "Invalid Async parameter");
    }
    EXPECT_EQ(fake->count("writeFile") + fake->count("readFile"), 0);
}

TEST_F(PortOnFake, RequestsThatTheDeviceRefusesOrGivesUpOn) {
    openFresh();
    std::uint8_t byte = 7;
    fake->failCall("writeFile", 5);
    EXPECT_EQ(raised([&] { port->writeBytes(&byte, 1); }).errorCode(), 2);
    fake->failCall("readFile", 5);
    EXPECT_EQ(raised([&] { port->readBytes(&byte, 1); }).errorCode(), 3);
    fake->failCompletion("writeFile", 121);
    const EComPort w = raised([&] { port->writeBytes(&byte, 1); });
    EXPECT_EQ(w.errorCode(), 2);
    EXPECT_EQ(w.systemErrorCode(), 121);
    fake->failCompletion("readFile", 995);
    const EComPort r = raised([&] { port->readBytes(&byte, 1); });
    EXPECT_EQ(r.errorCode(), 3);
    EXPECT_EQ(r.systemErrorCode(), 995);
}

TEST_F(PortOnFake, StartThenWait) {
    openFresh();
    auto request = port->createRequest();
    EXPECT_EQ(request->kind, rkWrite);
    EXPECT_EQ(request->data, nullptr);
    EXPECT_EQ(request->size, 0);
    EXPECT_EQ(port->waitForCompletion(request.get()), 0); // nothing started: at once

    fake->holdRequests(true);
    const std::uint8_t first[] = {1, 2, 3};
    EXPECT_EQ(port->writeBytesAsync(first, 3, request.get()), 0); // pending
    const std::uint8_t* firstCopy = request->data.get();
    EXPECT_NE(firstCopy, first);
    fake->completePending();
    EXPECT_EQ(port->waitForCompletion(request.get()), 3);

    const std::uint8_t second[] = {9};
    port->writeBytesAsync(second, 1, request.get()); // the request is reused
    EXPECT_EQ(request->size, 1);
    EXPECT_EQ(request->data[0], 9);
    fake->completePending();
    EXPECT_EQ(port->waitForCompletion(request.get()), 1);
    EXPECT_EQ(fake->output(), std::string("\x01\x02\x03\x09", 4));

    fake->feedInput("ab");
    std::uint8_t in[2];
    port->readBytesAsync(in, 2, request.get());
    EXPECT_EQ(request->kind, rkRead);
    EXPECT_EQ(request->size, 1); // a read leaves the copy alone
    fake->completePending();
    EXPECT_EQ(port->waitForCompletion(request.get()), 2);
    port->releaseRequest(request);
    EXPECT_EQ(request, nullptr);
}

TEST_F(PortOnFake, ReleasingARunningRequestCancelsItFirst) {
    openFresh();
    fake->holdRequests(true);
    auto request = port->createRequest();
    std::uint8_t in[4];
    port->readBytesAsync(in, 4, request.get());
    port->releaseRequest(request);
    EXPECT_EQ(fake->count("cancelIoEx"), 1);
}

TEST_F(PortOnFake, ClosingAbortsOutstandingRequests) {
    openFresh();
    fake->holdRequests(true);
    auto request = port->createRequest();
    std::uint8_t in[4];
    port->readBytesAsync(in, 4, request.get());
    port->closePort();
    const EComPort e = raised([&] { port->waitForCompletion(request.get()); });
    EXPECT_EQ(e.errorCode(), 3);
}

TEST_F(PortOnFake, LinksHearAboutSendingAndDrainedInput) {
    openFresh();
    TPortLink link;
    std::vector<std::string> heard;
    link.sendingChanged = [&](fw::TObject*, bool on) { heard.push_back(on ? "send+" : "send-"); };
    link.receivingChanged = [&](fw::TObject*, bool on) { heard.push_back(on ? "recv+" : "recv-"); };
    link.dataSent = [&](fw::TObject*, const std::uint8_t* b, std::int32_t n) {
        heard.push_back("sent " + std::string(reinterpret_cast<const char*>(b), n));
    };
    port->linkList().push_back(&link);
    port->writeText("hi");
    fake->feedInput("xyz");
    std::uint8_t in[3];
    port->readBytes(in, 1); // two still waiting: no notice
    port->readBytes(in, 2);
    EXPECT_THAT(heard, ElementsAre("send+", "sent hi", "recv-"));

    // A record reused for a read after a write does not report those bytes again.
    heard.clear();
    auto request = port->createRequest();
    port->writeTextAsync("ab", request.get());
    port->waitForCompletion(request.get());
    fake->feedInput("12");
    port->readBytesAsync(in, 1, request.get());
    port->waitForCompletion(request.get());
    EXPECT_THAT(heard, ElementsAre("send+", "sent ab"));
    port->linkList().clear();
}

// Links hear of the bytes that went out, not of those asked for: a write that flow control held
// until its time-out, one that ended short, one that failed with OnException taking the report.
TEST_F(PortOnFake, LinksAreToldOnlyOfTheBytesThatWentOut) {
    catchReports();
    openFresh();
    std::string told;
    int notices = 0;
    TPortLink link;
    link.dataSent = [&](fw::TObject*, const std::uint8_t* b, std::int32_t n) {
        told.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
        ++notices;
    };
    port->registerLink(&link);
    struct Case {
        const char* how;
        std::uint32_t limit;
        bool fails;
        std::string sent;
    };
    const Case cases[] = {{"held", 0, false, ""},
                          {"short", 3, false, "abc"},
                          {"whole", 8, false, "abcdefgh"},
                          {"failed", 8, true, ""}};
    for (const bool async : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.how) + (async ? ", async" : ""));
            told.clear();
            notices = 0;
            fake->limitWrites(c.limit);
            if (c.fails) fake->failCompletion("writeFile", 31);
            const std::string text = "abcdefgh";
            std::int32_t moved = 0;
            if (async) {
                auto request = port->createRequest();
                port->writeTextAsync(text, request.get());
                moved = port->waitForCompletion(request.get());
            } else {
                moved = port->writeText(text);
            }
            EXPECT_EQ(moved, static_cast<std::int32_t>(c.sent.size()));
            EXPECT_EQ(told, c.sent);
            EXPECT_EQ(notices, c.sent.empty() ? 0 : 1);
        }
    }
    port->unregisterLink(&link);
}

TEST_F(PortOnFake, LineSignalsAndErrors) {
    openFresh();
    using namespace driver;
    fake->setModemStatus(modemStatus::ctsOn | modemStatus::rlsdOn | 0x01);
    EXPECT_EQ(port->modemSignals(), (TLineSignals{lsCTS, lsRLSD}));
    fake->setModemStatus(modemStatus::dsrOn | modemStatus::ringOn);
    EXPECT_EQ(port->modemSignals(), (TLineSignals{lsDSR, lsRing}));

    port->setDtrLine(true);
    port->setDtrLine(false);
    port->setRtsLine(true);
    port->setRtsLine(false);
    port->abortAllRequests();
    EXPECT_THAT(fake->calls(),
                ::testing::IsSupersetOf({"escapeCommFunction(5)", "escapeCommFunction(6)",
                                         "escapeCommFunction(3)", "escapeCommFunction(4)",
                                         "purgeComm(3)"}));

    fake->setErrorFlags(commError::rxParity | commError::frame);
    EXPECT_EQ(port->lineErrors(), TComErrors{ceFrame}); // parity only counts when checked
    EXPECT_TRUE(port->lineErrors().empty());            // and the flags were cleared
    port->Parity().setCheck(true);
    fake->setErrorFlags(commError::rxParity | commError::overrun | commError::rxOver |
                        commError::txFull | commError::brk | commError::ioe | commError::mode |
                        0x0200);
    EXPECT_EQ(port->lineErrors(),
              (TComErrors{ceRxParity, ceOverrun, ceRxOver, ceTxFull, ceBreak, ceIO, ceMode}));
}

// A call on another thread that races a close: the main thread closes the port and opens a second
// one, which the platform gives the same handle number, while the call is between taking the
// handle and reaching the device. The call must reach the first device or fail as on a closed
// port; what the second port holds (the far end's output, its input, its error flags) stays as it
// is.
TEST_F(PortOnFake, ACallRacingACloseNeverReachesTheDeviceOpenedAfter) {
    struct Case {
        const char* operation;
        std::function<void(TComPort&)> call;
        std::function<void()> prepareSecond; // on the second port's device, once it is open
        std::function<bool(TComPort&)> secondUntouched;
    };
    const std::uint8_t byte = 'A';
    std::string outputBefore;
    const std::vector<Case> cases = {
        {"writeFile", [&](TComPort& p) { p.writeBytes(&byte, 1); },
         [&] { outputBefore = fake->output(); },
         [&](TComPort&) { return fake->output() == outputBefore; }},
        {"readFile",
         [](TComPort& p) {
             std::uint8_t in = 0;
             p.readBytes(&in, 1);
         },
         [&] { fake->feedInput("b", false); }, [&](TComPort&) { return fake->inputLeft() == 1; }},
        {"clearCommError", [](TComPort& p) { p.bytesWaiting(); },
         [&] { fake->setErrorFlags(driver::commError::frame); },
         [](TComPort& p) { return p.lineErrors().contains(ceFrame); }},
    };
    fake->reuseHandles(true);
    port->setEvents({});
    auto second = std::make_unique<TComPort>(nullptr, fake);
    second->setEvents({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        port->openPort();
        std::atomic<bool> inCall{false}, swapped{false};
        fake->onNextCall(c.operation, [&] {
            inCall = true;
            // Waits for the swap, or (when the close waits for this call) not for long.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            while (!swapped && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
        });
        std::thread worker([&] {
            try {
                c.call(*port);
            } catch (const EComPort&) {
                // failing as on a closed port is clean
            }
        });
        while (!inCall)
            std::this_thread::yield();
        port->closePort();
        second->openPort();
        c.prepareSecond();
        swapped = true;
        worker.join();
        EXPECT_TRUE(c.secondUntouched(*second));
        second->closePort();
    }
}
