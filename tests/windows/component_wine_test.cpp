// The component on the Windows serial API, run under Wine on pseudo-terminals that the prefix
// knows as COM ports: bytes, settings as the Linux kernel ends up with them, event waits, read
// time-outs, purge, a device that vanishes, and the registry store.

#include "PtyPeer.h"

#include "comport/ComPort.h"
#include "comport/driver/ComDriver.h"
#include "comport/settings/SettingsFiles.h"
#include "comport/settings/Win32RegistryStore.h"
#include "framework/MainThread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace comport;
using namespace std::chrono_literals;

namespace {

// Serves the main thread's queue until `done()` holds or a long while has passed.
template <typename Pred> bool serveUntil(Pred done) {
    for (int i = 0; i < 500 && !done(); ++i)
        fw::waitForSynchronize(10ms);
    return done();
}

struct PortOnWinePty : ::testing::Test {
    wintest::PtyLine line{5};
    TComPort port;

    void SetUp() override { port.setPort(line.portName()); }

    // Reads only what has arrived: Wine's overlapped read waits for a first byte even with the
    // time-outs that tell it to return at once (Windows returns with nothing).
    std::string readAll(std::size_t count) {
        std::string got;
        serveUntil([&] {
            std::uint8_t buffer[512];
            const auto waiting = std::min<std::int32_t>(port.bytesWaiting(), sizeof buffer);
            if (waiting > 0) {
                const auto n = port.readBytes(buffer, waiting);
                got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
            }
            return got.size() >= count;
        });
        return got;
    }
};

template <typename F> int raisedCode(F&& action) {
    try {
        action();
    } catch (const EComPort& e) {
        return e.errorCode();
    }
    return 0;
}

std::string everyByte() {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    return all;
}

} // namespace

TEST_F(PortOnWinePty, EveryByteValueGoesBothWaysUnchanged) {
    port.openPort();
    const std::string all = everyByte();
    EXPECT_EQ(port.writeBytes(reinterpret_cast<const std::uint8_t*>(all.data()), 256), 256);
    EXPECT_EQ(line.receive(256), all);
    line.send(all);
    EXPECT_EQ(readAll(256), all);
}

TEST_F(PortOnWinePty, LineSettingsReachTheKernel) {
    struct Case {
        TBaudRate rate;
        TDataBits bits;
        TParityBits parity;
        TStopBits stop;
        TFlowControl flow;
        wintest::KernelSettings want;
    };
    const Case cases[] = {
        {br9600, dbEight, prNone, sbOneStopBit, fcNone, {9600, 8, 'N', 1, false, false, false}},
        {br115200, dbEight, prNone, sbTwoStopBits, fcHardware, {115200, 8, 'N', 2, true}},
        {br19200, dbEight, prNone, sbOneStopBit, fcSoftware, {19200, 8, 'N', 1, false, true, true}},
        {br1200, dbEight, prNone, sbTwoStopBits, fcNone, {1200, 8, 'N', 2}},
    };
    // The kernel keeps its pseudo-terminals at eight data bits without parity and refuses other
    // sizes and parity there, so those reach the kernel only on a real port.
    port.openPort();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.want.speed);
        try {
            port.setBaudRate(c.rate);
            port.setDataBits(c.bits);
            port.Parity().setBits(c.parity);
            port.setStopBits(c.stop);
            port.FlowControl().setFlowControl(c.flow);
        } catch (const EComPort& e) {
            ADD_FAILURE() << e.message();
            continue;
        }
        const auto k = line.settings();
        EXPECT_EQ(k.speed, c.want.speed);
        EXPECT_EQ(k.size, c.want.size);
        EXPECT_EQ(k.parity, c.want.parity);
        EXPECT_EQ(k.stop, c.want.stop);
        EXPECT_EQ(k.rtscts, c.want.rtscts);
        EXPECT_EQ(k.ixon, c.want.ixon);
        EXPECT_EQ(k.ixoff, c.want.ixoff);
        if (c.flow == fcSoftware) {
            EXPECT_EQ(std::pair(k.xon, k.xoff), std::pair(17, 19));
        }
    }
}

TEST_F(PortOnWinePty, ArrivingBytesAndAnEmptiedOutputAreDelivered) {
    std::int32_t announced = 0;
    int emptied = 0;
    port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
        announced += count;
        std::uint8_t buffer[64];
        port.readBytes(buffer, count);
    };
    port.OnTxEmpty = [&](fw::TObject*) { ++emptied; };
    port.openPort();
    line.send("[N]");
    EXPECT_TRUE(serveUntil([&] { return announced >= 3; })) << announced;
    port.writeText("(%P31)");
    EXPECT_TRUE(serveUntil([&] { return emptied > 0; }));
    EXPECT_EQ(line.receive(6), "(%P31)");
}

TEST_F(PortOnWinePty, ReadsKeepTheirTimeOuts) {
    port.openPort();
    std::uint8_t buffer[8] = {};
    // The defaults: at once, with what is there.
    line.send("xyz");
    serveUntil([&] { return port.bytesWaiting() == 3; });
    EXPECT_EQ(port.readBytes(buffer, 8), 3);
    // A total time-out: what arrived by then, or the whole count as soon as it is there.
    port.Timeouts().setReadInterval(0);
    port.Timeouts().setReadTotalConstant(300);
    EXPECT_EQ(port.readBytes(buffer, 8), 0);
    line.send("ab");
    EXPECT_EQ(port.readBytes(buffer, 8), 2);
    port.Timeouts().setReadTotalConstant(20000);
    line.send("abcdefgh");
    EXPECT_EQ(port.readBytes(buffer, 8), 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 8), "abcdefgh");
}

TEST_F(PortOnWinePty, PurgeEmptiesTheInputQueue) {
    namespace d = comport::driver;
    const auto driver = d::platformDriver();
    const d::Handle h = driver->createFile("\\\\.\\" + line.portName());
    ASSERT_NE(h, d::invalidHandleValue) << driver->getLastError();
    line.send("12345");
    d::ComStat status;
    serveUntil([&] { return driver->clearCommError(h, nullptr, &status) && status.cbInQue == 5; });
    EXPECT_EQ(status.cbInQue, 5u);
    EXPECT_TRUE(driver->purgeComm(h, d::purge::rxClear | d::purge::txClear));
    EXPECT_TRUE(driver->clearCommError(h, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    driver->closeHandle(h);
}

TEST_F(PortOnWinePty, AVanishedDeviceFailsReadsAndWritesWithTheComponentsErrorsAndStillCloses) {
    int errors = 0;
    port.OnError = [&](fw::TObject*, TComErrors) { ++errors; };
    port.openPort();
    line.vanish();
    try {
        std::uint8_t b = 0;
        port.readBytes(&b, 1);
        ADD_FAILURE() << "a read of a vanished device succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.errorCode(), 3) << e.message();
        EXPECT_EQ(e.systemErrorCode(), ERROR_BROKEN_PIPE);
    }
    // A write the device refuses at once ends at once (the request's event must not stay reset).
    EXPECT_EQ(raisedCode([&] { port.writeText("x"); }), 2);
    port.closePort();
    EXPECT_FALSE(port.Connected());
}

TEST(RegistryStoreOnWine, SettingsMakeTheRoundTripWithTheSystemsTypes) {
    const std::string key = "Software\\TorvinTests\\" + std::to_string(GetCurrentProcessId());
    TComPort written;
    written.setStoredProps(TStoredProps::fromBits(0x3F));
    written.setPort("COM12");
    written.setBaudRate(brCustom);
    written.setCustomBaudRate(250000);
    written.Parity().setBits(prSpace);
    written.FlowControl().setXonChar('#');
    written.Buffer().setInputSize(4096);
    written.Timeouts().setWriteTotalConstant(2500);
    saveSettingsToRegistry(written, "HKEY_CURRENT_USER", key);

    TComPort read;
    read.setStoredProps(TStoredProps::fromBits(0x3F));
    loadSettingsFromRegistry(read, "HKEY_CURRENT_USER", key);
    EXPECT_EQ(read.Port(), "COM12");
    EXPECT_EQ(read.BaudRate(), brCustom);
    EXPECT_EQ(read.CustomBaudRate(), 250000);
    EXPECT_EQ(read.Parity().Bits(), prSpace);
    EXPECT_EQ(read.FlowControl().XonChar(), '#');
    EXPECT_EQ(read.Buffer().InputSize(), 4096);
    EXPECT_EQ(read.Timeouts().WriteTotalConstant(), 2500);

    TWin32RegistryStore store("HKEY_CURRENT_USER", key, TWin32RegistryStore::accessReadWrite);
    EXPECT_EQ(store.getValue("BaudRate")->type, static_cast<std::uint32_t>(REG_SZ));
    EXPECT_EQ(store.getValue("Buffer.InputSize")->type, static_cast<std::uint32_t>(REG_DWORD));
    store.deleteValue("Buffer.OutputSize");
    try {
        store.getInteger("Buffer.OutputSize");
        ADD_FAILURE() << "a missing integer was read";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.message(), "Failed to get data for 'Buffer.OutputSize'");
    }
    store.putInteger("Port", 7);
    EXPECT_THROW(store.getText("Port"), ERegistryException);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TorvinTests");
}
