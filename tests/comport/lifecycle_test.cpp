#include "PortFixture.h"

#include "framework/ErrorDisplay.h"

#include <gmock/gmock.h>

using namespace comport;
using ::testing::ElementsAre;

TEST_F(PortOnFake, OpeningWithTheDefaultsAppliesQueuesThenLineThenTimeouts) {
    port->openPort();
    // Then the event thread's mask (all ten events) and the three input lines read for the
    // owner.
    EXPECT_THAT(fake->calls(),
                ElementsAre("createFile(\\\\.\\COM1)", "setupComm(1024,1024)",
                            "setCommState(9600,8,0,0)", "setCommTimeouts(4294967295,0,0,100,1000)",
                            "setCommMask(1535)", "getCommModemStatus()", "getCommModemStatus()",
                            "getCommModemStatus()"));
    ASSERT_EQ(fake->dcbs().size(), 1u);
    driver::Dcb expected;
    expected.BaudRate = 9600;
    expected.fBinary = true;
    expected.XonLim = 256;
    expected.XoffLim = 256;
    expected.ByteSize = 8;
    expected.XonChar = 17;
    expected.XoffChar = 19;
    EXPECT_EQ(fake->dcbs()[0], expected);
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(port->portHandle(), testsupport::FakeComDriver::firstHandle);
}

TEST_F(PortOnFake, OpenAndCloseNotifyInOrderAndOnlyOnce) {
    port->OnBeforeOpen = [&](fw::TObject* s) { order.push_back(s == port.get() ? "bo" : "?"); };
    port->OnAfterOpen = [&](fw::TObject*) { order.push_back("ao"); };
    port->OnBeforeClose = [&](fw::TObject*) { order.push_back("bc"); };
    port->OnAfterClose = [&](fw::TObject*) { order.push_back("ac"); };
    TPortLink link;
    std::vector<bool> connection;
    link.connectionChanged = [&](fw::TObject*, bool on) { connection.push_back(on); };
    port->linkList().push_back(&link);

    port->setConnected(true);
    port->openPort(); // already open: nothing
    EXPECT_EQ(fake->opens(), 1);
    port->setConnected(false);
    port->closePort(); // already closed: nothing
    EXPECT_THAT(order, ElementsAre("bo", "ao", "bc", "ac"));
    EXPECT_THAT(connection, ElementsAre(true, false));
    port->linkList().clear();
    EXPECT_EQ(fake->count("closeHandle"), 1);
    EXPECT_EQ(fake->count("purgeComm"), 1);
    EXPECT_FALSE(fake->isOpen());
    EXPECT_EQ(port->portHandle(), driver::invalidHandleValue);
}

TEST_F(PortOnFake, OpenFailureLeavesThePortClosedWithOnlyBeforeOpen) {
    port->OnBeforeOpen = [&](fw::TObject*) { order.push_back("bo"); };
    port->OnAfterOpen = [&](fw::TObject*) { order.push_back("ao"); };
    fake->failCall("createFile", 2);
    const EComPort e = raised([&] { port->openPort(); });
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(e.systemErrorCode(), 2);
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(port->portHandle(), driver::invalidHandleValue);
    EXPECT_THAT(order, ElementsAre("bo"));
}

TEST_F(PortOnFake, RejectedSettingWhileOpeningClosesTheDeviceAgain) {
    struct Case {
        const char* call;
        int number;
    };
    for (Case c : {Case{"setupComm", 9}, Case{"setCommState", 7}, Case{"setCommTimeouts", 8}}) {
        fake->failCall(c.call, 31);
        const EComPort e = raised([&] { port->openPort(); });
        EXPECT_EQ(e.errorCode(), c.number) << c.call;
        EXPECT_EQ(e.systemErrorCode(), 31);
        EXPECT_FALSE(port->Connected());
        EXPECT_FALSE(fake->isOpen()) << c.call;
    }
}

TEST_F(PortOnFake, WithAHandlerAFailedOpenIsReportedStepByStepAndCarriesOn) {
    catchReports();
    port->OnAfterOpen = [&](fw::TObject*) { order.push_back("ao"); };
    fake->failCall("createFile", 5);
    port->openPort();
    EXPECT_TRUE(port->Connected());
    // The three configuration steps fail on the handle that never opened, no event thread is
    // started for it, and the line states read after OnAfterOpen fail the same way.
    ASSERT_EQ(reports.size(), 7u);
    EXPECT_EQ(reports[0].kind, CE_OpenFailed);
    EXPECT_EQ(reports[0].message, "Unable to open com port");
    EXPECT_EQ(reports[0].winError, 5);
    EXPECT_EQ(reports[0].winMessage, "System Error.  Code: 5.\r\nFake error 5");
    EXPECT_EQ(reports[1].kind, CE_SetupComFailed);
    EXPECT_EQ(reports[2].kind, CE_SetStateFailed);
    EXPECT_EQ(reports[3].kind, CE_TimeoutsFailed);
    EXPECT_EQ(reports[3].winError, testsupport::FakeComDriver::badHandleCode);
    for (int i = 4; i < 7; ++i)
        EXPECT_EQ(reports[i].kind, CE_ModemStatFailed);
    EXPECT_EQ(fake->count("setCommMask"), 0);
    EXPECT_THAT(order, ElementsAre("ao"));
}

TEST_F(PortOnFake, AFailedAbortKeepsThePortOpen) {
    openFresh();
    fake->failCall("purgeComm", 6);
    const EComPort e = raised([&] { port->closePort(); });
    EXPECT_EQ(e.errorCode(), 5);
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(fake->isOpen());
    port->closePort();
    EXPECT_FALSE(port->Connected());
}

TEST_F(PortOnFake, AFailingCloseIsNotReportedAndKeepsTheHandle) {
    openFresh();
    fake->failCall("closeHandle", 6);
    port->closePort();
    EXPECT_FALSE(port->Connected());
    EXPECT_NE(port->portHandle(), driver::invalidHandleValue);
}

TEST_F(PortOnFake, DestroyingAnOpenPortClosesIt) {
    port->OnBeforeClose = [&](fw::TObject*) { order.push_back("bc"); };
    port->OnAfterClose = [&](fw::TObject*) { order.push_back("ac"); };
    port->openPort();
    port.reset();
    EXPECT_THAT(order, ElementsAre("bc", "ac"));
    EXPECT_FALSE(fake->isOpen());
}

TEST_F(PortOnFake, DestroyingNeverThrowsAndStillReleasesTheDevice) {
    port->OnBeforeClose = [](fw::TObject*) { throw std::runtime_error("handler failed"); };
    port->openPort();
    fake->failCall("purgeComm", 6);
    EXPECT_NO_THROW(port.reset());
    EXPECT_FALSE(fake->isOpen());
}

TEST_F(PortOnFake, DestroyingReportsCloseFailuresToTheHandler) {
    catchReports();
    port->openPort();
    fake->failCall("purgeComm", 6);
    port.reset();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_PurgeFailed);
    EXPECT_FALSE(fake->isOpen());
}

// A class derived from the port that overrides a close hook: closed in its own destructor, its
// hook runs on delete; left to the base destructor (which comes after the derived part is gone),
// the hook is skipped and the fault is reported through the error display.
TEST_F(PortOnFake, ADerivedPortClosesInItsOwnDestructorOrTheFaultIsReported) {
    struct Derived : TComPort {
        Derived(std::shared_ptr<testsupport::FakeComDriver> fake, bool closes,
                std::vector<std::string>& seen)
            : TComPort(nullptr, std::move(fake)), closes(closes), seen(seen) {}
        ~Derived() override {
            if (closes) closeBeforeDestruction();
        }
        void handleBeforeClose() override {
            seen.push_back("derived bc");
            TComPort::handleBeforeClose();
        }
        const bool closes;
        std::vector<std::string>& seen;
    };
    for (const bool closes : {true, false}) {
        SCOPED_TRACE(closes ? "closes" : "forgets");
        std::vector<std::string> shown;
        auto previous =
            fw::setErrorDisplay([&](const std::exception& e) { shown.push_back(e.what()); });
        {
            auto derived = std::make_unique<Derived>(fake, closes, order);
            derived->setEvents({});
            derived->openPort();
        }
        fw::setErrorDisplay(previous);
        EXPECT_EQ(order,
                  closes ? std::vector<std::string>{"derived bc"} : std::vector<std::string>{});
        EXPECT_EQ(shown.size(), closes ? 0u : 1u);
        EXPECT_FALSE(fake->isOpen());
        order.clear();
    }
}

TEST_F(PortOnFake, FailedOpenAfterLoadingIsShownAndTheProgramGoesOn) {
    std::vector<std::string> shown;
    auto previous =
        fw::setErrorDisplay([&](const std::exception& e) { shown.push_back(e.what()); });
    port->beginLoading();
    port->setConnected(true);
    fake->failCall("createFile", 2);
    EXPECT_NO_THROW(port->finishLoading());
    fw::setErrorDisplay(previous);
    EXPECT_THAT(shown, ElementsAre("Unable to open com port (Error: 2)"));
    EXPECT_FALSE(port->Connected());
}

// --- the errors -------------------------------------------------------------------------------

TEST(PortErrors, EveryNumberHasItsKindAndMessage) {
    const char* texts[] = {"Unable to open com port",
                           "WriteFile function failed",
                           "ReadFile function failed",
                           "Invalid Async parameter",
                           "PurgeComm function failed",
                           "Unable to get async status",
                           "SetCommState function failed",
                           "SetCommTimeouts failed",
                           "SetupComm function failed",
                           "ClearCommError function failed",
                           "GetCommModemStatus function failed",
                           "EscapeCommFunction function failed",
                           "TransmitCommChar function failed",
                           "Cannot set property while connected",
                           "EnumPorts function failed",
                           "Failed to store settings",
                           "Failed to load settings",
                           "Link (un)registration failed",
                           "Cannot change led state if ComPort is selected",
                           "Cannot wait for event if event thread is created",
                           "WaitForEvent method failed",
                           "A component is linked to OnRxBuf event",
                           "Registry error",
                           "Port Not Open"};
    auto fake = std::make_shared<testsupport::FakeComDriver>();
    TComPort port(nullptr, fake);
    for (int n = 1; n <= 24; ++n) {
        EXPECT_EQ(errorMessages[n], texts[n - 1]);
        // Without a handler: raised, with the code when there is one.
        const EComPort plain = raised([&] { port.reportError(static_cast<std::uint16_t>(n)); });
        EXPECT_EQ(plain.what(), std::string(texts[n - 1]));
        EXPECT_EQ(plain.errorCode(), n);
        EXPECT_EQ(plain.systemErrorCode(), -1);
        const EComPort coded =
            raised([&] { port.reportError(static_cast<std::uint16_t>(n), 1234); });
        EXPECT_EQ(coded.what(), std::string(texts[n - 1]) + " (Error: 1234)");
        EXPECT_EQ(coded.systemErrorCode(), 1234);
    }
    // With a handler: nothing raised, each report carries its kind.
    std::vector<TComExceptions> kinds;
    port.OnException = [&](fw::TObject* sender, TComExceptions k, const std::string& m,
                           std::int64_t, const std::string&) {
        EXPECT_EQ(sender, &port);
        EXPECT_EQ(m, texts[k]);
        kinds.push_back(k);
    };
    for (int n = 1; n <= 24; ++n)
        port.reportError(static_cast<std::uint16_t>(n), -n);
    ASSERT_EQ(kinds.size(), 24u);
    EXPECT_EQ(kinds.front(), CE_OpenFailed);
    EXPECT_EQ(kinds[13], CE_ConnChangeProp);
    EXPECT_EQ(kinds.back(), CEPortNotOpen);
}

namespace {
struct TextDriver : testsupport::FakeComDriver {
    std::string text;
    std::string systemErrorMessage(std::uint32_t) override { return text; }
};
} // namespace

TEST(PortErrors, SystemMessageIsTrimmedAndCut) {
    auto fake = std::make_shared<TextDriver>();
    TComPort port(nullptr, fake);
    std::string got;
    std::int64_t code = 0;
    port.OnException = [&](fw::TObject*, TComExceptions, const std::string&, std::int64_t c,
                           const std::string& m) {
        got = m;
        code = c;
    };
    fake->text = "Access is denied. \r\n..";
    port.reportError(1, 5);
    EXPECT_EQ(got, "System Error.  Code: 5.\r\nAccess is denied");
    EXPECT_EQ(code, 5);
    fake->text = std::string(300, 'x');
    port.reportError(1, 7);
    EXPECT_EQ(got.size(), std::string("System Error.  Code: 7.\r\n").size() + 256);
    port.reportError(24, -24); // no platform code: no text
    EXPECT_EQ(got, "");
    EXPECT_EQ(code, -24);
}
