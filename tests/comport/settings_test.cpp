#include "PortFixture.h"

#include <gmock/gmock.h>

using namespace comport;
using ::testing::ElementsAre;

TEST(PortSettings, NewPortHoldsTheDefaults) {
    auto fake = std::make_shared<testsupport::FakeComDriver>();
    TComPort port(nullptr, fake);
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_FALSE(port.Parity().Check());
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);
    EXPECT_EQ(port.Events(), allComEvents);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.portHandle(), driver::invalidHandleValue);
    EXPECT_EQ(port.Parity().ownerPort(), &port);
    EXPECT_EQ(port.Buffer().ownerPort(), &port);
    EXPECT_EQ(port.className(), "TComPort");
    EXPECT_EQ(fake->calls().size(), 0u);
}

TEST(PortSettings, FlowControlSummaryLooksAtFourFieldsOnly) {
    TComFlowControl fc;
    fc.setControlDTR(dtrHandshake);
    fc.setOutDSRFlow(true);
    fc.setFlowControl(fcNone);
    EXPECT_EQ(fc.ControlDTR(), dtrHandshake);
    EXPECT_TRUE(fc.OutDSRFlow());
    EXPECT_EQ(fc.FlowControl(), fcNone);

    fc.setFlowControl(fcHardware);
    EXPECT_EQ(fc.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(fc.OutCTSFlow());
    EXPECT_EQ(fc.FlowControl(), fcHardware);

    fc.setFlowControl(fcSoftware);
    EXPECT_EQ(fc.ControlRTS(), rtsDisable);
    EXPECT_FALSE(fc.OutCTSFlow());
    EXPECT_TRUE(fc.XonXoffIn() && fc.XonXoffOut());
    EXPECT_EQ(fc.FlowControl(), fcSoftware);

    fc.setFlowControl(fcCustom); // changes nothing
    EXPECT_EQ(fc.FlowControl(), fcSoftware);

    fc.setFlowControl(fcNone);
    fc.setControlRTS(rtsToggle);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.setControlRTS(rtsDisable);
    fc.setXonXoffIn(true); // half of software flow control
    EXPECT_EQ(fc.FlowControl(), fcCustom);
}

TEST(PortSettings, OddPositiveBufferSizesAreStoredOneLower) {
    TComBuffer b;
    b.setInputSize(1025);
    EXPECT_EQ(b.InputSize(), 1024);
    b.setInputSize(1);
    EXPECT_EQ(b.InputSize(), 0);
    b.setInputSize(-3);
    EXPECT_EQ(b.InputSize(), -3);
    b.setOutputSize(4097);
    EXPECT_EQ(b.OutputSize(), 4096);
    b.setOutputSize(0);
    EXPECT_EQ(b.OutputSize(), 0);
}

TEST(PortSettings, CopyingTakesEveryFieldButNotTheOwner) {
    auto fake = std::make_shared<testsupport::FakeComDriver>();
    TComPort port(nullptr, fake);
    TComParity free;
    free.setBits(prMark);
    free.setCheck(true);
    free.setReplace(true);
    free.setReplaceChar('?');
    port.Parity().assign(&free);
    EXPECT_EQ(port.Parity().Bits(), prMark);
    EXPECT_TRUE(port.Parity().Replace());
    EXPECT_EQ(port.Parity().ReplaceChar(), '?');
    EXPECT_EQ(port.Parity().ownerPort(), &port);
    EXPECT_EQ(free.ownerPort(), nullptr);

    TComTimeouts t;
    t.setWriteTotalConstant(5);
    TComFlowControl fc;
    fc.setXonChar('A');
    TComBuffer b;
    b.setInputSize(64);
    port.Timeouts().assign(&t);
    port.FlowControl().assign(&fc);
    port.Buffer().assign(&b);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 5);
    EXPECT_EQ(port.FlowControl().XonChar(), 'A');
    EXPECT_EQ(port.Buffer().InputSize(), 64);
}

TEST(PortSettings, AssigningAnotherClassFailsAndChangesNothing) {
    auto fake = std::make_shared<testsupport::FakeComDriver>();
    TComPort port(nullptr, fake);
    TComTimeouts timeouts;
    try {
        port.Parity().assign(&timeouts);
        FAIL();
    } catch (const fw::EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TComTimeouts to a TComParity");
    }
    try {
        port.Buffer().assign(nullptr);
        FAIL();
    } catch (const fw::EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a nil to a TComBuffer");
    }
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
}

TEST(PortSettings, ControlBlockFollowsTheSettings) {
    auto fake = std::make_shared<testsupport::FakeComDriver>();
    TComPort port(nullptr, fake);
    driver::Dcb d = port.deviceControlBlock();
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_TRUE(d.fBinary);
    EXPECT_FALSE(d.fParity || d.fOutxCtsFlow || d.fOutxDsrFlow || d.fOutX || d.fInX ||
                 d.fErrorChar || d.fNull || d.fAbortOnError || d.fDsrSensitivity);
    EXPECT_EQ(d.fDtrControl, 0);
    EXPECT_EQ(d.fRtsControl, 0);
    EXPECT_EQ(d.XonLim, 256);
    EXPECT_EQ(d.XoffLim, 256);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, 0);
    EXPECT_EQ(d.StopBits, 0);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(d.EvtChar, 0);

    port.Buffer().setInputSize(1000000);
    port.setBaudRate(brCustom);
    port.setCustomBaudRate(31250);
    port.setDataBits(dbSeven);
    port.setStopBits(sbTwoStopBits);
    port.Parity().setBits(prSpace);
    port.Parity().setCheck(true);
    port.Parity().setReplaceChar('#');
    port.setDiscardNull(true);
    port.setEventChar('\n');
    port.FlowControl().setFlowControl(fcHardware);
    port.FlowControl().setControlDTR(dtrEnable);
    d = port.deviceControlBlock();
    EXPECT_EQ(d.XonLim, 53392);
    EXPECT_EQ(d.XoffLim, 53392);
    EXPECT_EQ(d.BaudRate, 31250u);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.StopBits, 2);
    EXPECT_EQ(d.Parity, 4);
    EXPECT_TRUE(d.fParity);
    EXPECT_FALSE(d.fErrorChar); // replacement needs Replace too
    EXPECT_EQ(d.ErrorChar, 0);
    port.Parity().setReplace(true);
    d = port.deviceControlBlock();
    EXPECT_TRUE(d.fErrorChar);
    EXPECT_EQ(d.ErrorChar, '#');
    EXPECT_TRUE(d.fNull);
    EXPECT_EQ(d.EvtChar, '\n');
    EXPECT_TRUE(d.fOutxCtsFlow);
    EXPECT_EQ(d.fRtsControl, 2);
    EXPECT_EQ(d.fDtrControl, 1);

    port.setBaudRate(br115200); // CustomBaudRate is ignored for any named rate
    EXPECT_EQ(port.deviceControlBlock().BaudRate, 115200u);

    port.Timeouts().setReadInterval(-1);
    port.Timeouts().setReadTotalConstant(-2);
    EXPECT_EQ(port.commTimeouts().ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(port.commTimeouts().ReadTotalTimeoutConstant, 0xFFFFFFFEu);
}

TEST(PortSettings, EveryRateOfTheEnumeration) {
    const std::uint32_t expected[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int r = 0; r <= br256000; ++r)
        EXPECT_EQ(baudRateValue(static_cast<TBaudRate>(r)), expected[r]) << r;
}

// --- what a change does while the port is open ---------------------------------------------

TEST_F(PortOnFake, ClosedPortOnlyStoresChanges) {
    port->setBaudRate(br19200);
    port->Parity().setBits(prEven);
    port->Timeouts().setReadInterval(5);
    port->Buffer().setInputSize(2048);
    port->setPort("COM2");
    EXPECT_TRUE(fake->calls().empty());
    port->openPort();
    EXPECT_EQ(fake->dcbs().back().BaudRate, 19200u);
    EXPECT_EQ(fake->dcbs().back().Parity, 2);
    EXPECT_EQ(fake->timeouts().back().ReadIntervalTimeout, 5u);
    EXPECT_EQ(fake->calls()[0], "createFile(\\\\.\\COM2)");
    EXPECT_EQ(fake->calls()[1], "setupComm(2048,1024)");
}

TEST_F(PortOnFake, OpenPortAppliesEachChangeOnceAndEqualValuesNotAtAll) {
    openFresh();
    port->setBaudRate(br9600);
    port->Parity().setBits(prNone);
    port->FlowControl().setXonChar(17);
    port->Timeouts().setWriteTotalConstant(1000);
    port->Buffer().setOutputSize(1024);
    port->setPort("COM1");
    EXPECT_TRUE(fake->calls().empty());

    port->setBaudRate(br57600);
    port->setStopBits(sbTwoStopBits);
    port->Parity().setCheck(true);
    port->FlowControl().setXoffChar(20);
    EXPECT_EQ(fake->count("setCommState"), 4);
    EXPECT_EQ(fake->dcbs().back().BaudRate, 57600u);
    EXPECT_EQ(fake->dcbs().back().XoffChar, 20);

    port->Timeouts().setReadTotalConstant(50);
    EXPECT_THAT(fake->calls(), ::testing::Contains("setCommTimeouts(4294967295,0,50,100,1000)"));

    fake->clearCalls();
    port->Buffer().setInputSize(1025);
    port->Buffer().setInputSize(1025); // 1025 differs from the stored 1024: applies again
    EXPECT_THAT(fake->calls(), ElementsAre("setupComm(1024,1024)", "setupComm(1024,1024)"));

    fake->clearCalls();
    port->FlowControl().setFlowControl(fcNone); // no equality test
    port->setParity(port->Parity());            // the object: always applies
    port->setTimeouts(port->Timeouts());
    port->setBuffer(port->Buffer());
    EXPECT_EQ(fake->count("setCommState"), 2);
    EXPECT_EQ(fake->count("setCommTimeouts"), 1);
    EXPECT_EQ(fake->count("setupComm"), 1);
}

TEST_F(PortOnFake, PortChangeWhileOpenReopensOnTheNewDevice) {
    port->OnBeforeClose = [&](fw::TObject*) { order.push_back("beforeClose"); };
    port->OnAfterClose = [&](fw::TObject*) { order.push_back("afterClose"); };
    port->OnBeforeOpen = [&](fw::TObject*) { order.push_back("beforeOpen"); };
    port->OnAfterOpen = [&](fw::TObject*) { order.push_back("afterOpen"); };
    openFresh();
    order.clear();
    port->setPort("com1"); // another letter case is another name
    EXPECT_THAT(order, ElementsAre("beforeClose", "afterClose", "beforeOpen", "afterOpen"));
    EXPECT_EQ(fake->calls()[0], "purgeComm(3)");
    EXPECT_EQ(fake->calls()[1], "closeHandle()");
    EXPECT_EQ(fake->calls()[2], "createFile(\\\\.\\com1)");
    EXPECT_TRUE(port->Connected());
}

TEST_F(PortOnFake, PortChangeThatCannotReopenLeavesThePortClosedAndTheNameStored) {
    openFresh();
    fake->failCall("createFile", 2);
    const EComPort e = raised([&] { port->setPort("COM9"); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(port->Port(), "COM9");
}

TEST_F(PortOnFake, SyncMethodIsRefusedWhileOpen) {
    port->setSyncMethod(smWindowSync); // closed: always fine
    EXPECT_EQ(port->SyncMethod(), smWindowSync);
    openFresh();
    port->setSyncMethod(smWindowSync); // the current value: nothing happens
    const EComPort e = raised([&] { port->setSyncMethod(smNone); });
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
    EXPECT_EQ(e.errorCode(), 14);
    EXPECT_EQ(e.systemErrorCode(), -1);
    EXPECT_EQ(port->SyncMethod(), smWindowSync);

    catchReports();
    port->setSyncMethod(smNone);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_ConnChangeProp);
    EXPECT_EQ(port->SyncMethod(), smWindowSync);
}

namespace {
struct LinkedPort : TComPort {
    using TComPort::setRxBufLinked;
    using TComPort::TComPort;
};
} // namespace

TEST(PortSettings, TriggersOnRxCharWithALinkedReader) {
    auto fake = std::make_shared<testsupport::FakeComDriver>();
    LinkedPort port(nullptr, fake);
    port.setRxBufLinked(true);
    EXPECT_FALSE(port.TriggersOnRxChar());
    const EComPort e = raised([&] { port.setTriggersOnRxChar(false); });
    EXPECT_EQ(e.errorCode(), 22);
    EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");
    port.setRxBufLinked(false);
    EXPECT_TRUE(port.TriggersOnRxChar()); // the raise kept the old value

    // A handler takes the report: the value is stored all the same.
    int reported = 0;
    port.OnException = [&](fw::TObject*, TComExceptions k, const std::string&, std::int64_t,
                           const std::string&) { reported += k == CE_HasLink; };
    port.setRxBufLinked(true);
    port.setTriggersOnRxChar(false);
    port.setRxBufLinked(false);
    EXPECT_EQ(reported, 1);
    EXPECT_FALSE(port.TriggersOnRxChar());
}

TEST_F(PortOnFake, ConnectedWhileLoadingOpensWhenLoadingFinishes) {
    port->beginLoading();
    port->setConnected(true);
    port->setBaudRate(br115200);
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(fake->calls().empty());
    port->finishLoading();
    EXPECT_FALSE(port->loading());
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(fake->opens(), 1);
    EXPECT_EQ(fake->dcbs().back().BaudRate, 115200u);
}

TEST_F(PortOnFake, DesigningKeepsTheDeviceUntouched) {
    port->setDesigning(true);
    port->setConnected(true);
    port->openPort();
    port->finishLoading();
    EXPECT_TRUE(fake->calls().empty());
}
