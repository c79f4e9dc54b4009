#pragma once

// A port on the fake device layer whose handlers record what they were told and on which thread,
// for the tests of line-event delivery. The test plays the main thread's loop.

#include "comport/ComPort.h"
#include "comport/ComThread.h"
#include "framework/MainThread.h"
#include "tests/framework/Serving.h"
#include "tests/support/FakeComDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The port with its handling operations and window procedure within reach.
class ExposedPort : public comport::TComPort {
public:
    using TComPort::TComPort;
    ~ExposedPort() override { closeBeforeDestruction(); }
    using TCustomComPort::handleCTSChange;
    using TCustomComPort::handleError;
    using TCustomComPort::handleNotifyMessage;
    using TCustomComPort::handleRing;
    using TCustomComPort::handleRxChar;
    using TCustomComPort::handleRxFlag;
    using TCustomComPort::handleTxEmpty;
    using TCustomComPort::notifyWindowHandle;
};

struct EventLog {
    std::mutex lock;
    std::vector<std::string> entries;
    std::vector<std::thread::id> threads;

    void add(const std::string& entry) {
        std::lock_guard l(lock);
        entries.push_back(entry);
        threads.push_back(std::this_thread::get_id());
    }
    std::vector<std::string> seen() {
        std::lock_guard l(lock);
        return entries;
    }
    std::size_t size() {
        std::lock_guard l(lock);
        return entries.size();
    }
    bool has(const std::string& entry) {
        std::lock_guard l(lock);
        return std::find(entries.begin(), entries.end(), entry) != entries.end();
    }
    void clear() {
        std::lock_guard l(lock);
        entries.clear();
        threads.clear();
    }
};

struct EventsOnFake : ::testing::Test {
    EventLog log;
    std::shared_ptr<testsupport::FakeComDriver> fake =
        std::make_shared<testsupport::FakeComDriver>();
    std::unique_ptr<ExposedPort> port = std::make_unique<ExposedPort>(nullptr, fake);

    ~EventsOnFake() override { port.reset(); }

    // Every published event writes an entry: its name and, where it has one, its argument.
    void recordAll() {
        using fw::TObject;
        auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
        port->OnBeforeOpen = [this](TObject*) { log.add("bo"); };
        port->OnAfterOpen = [this](TObject*) { log.add("ao"); };
        port->OnBeforeClose = [this](TObject*) { log.add("bc"); };
        port->OnAfterClose = [this](TObject*) { log.add("ac"); };
        port->OnError = [this](TObject*, comport::TComErrors e) {
            log.add("error:" + std::to_string(e.bits()));
        };
        port->OnRxChar = [this](TObject*, std::int32_t n) {
            log.add("rxchar:" + std::to_string(n));
        };
        port->OnTxEmpty = [this](TObject*) { log.add("txempty"); };
        port->OnBreak = [this](TObject*) { log.add("break"); };
        port->OnRing = [this](TObject*) { log.add("ring"); };
        port->OnCTSChange = [this, flag](TObject*, bool on) { log.add("cts:" + flag(on)); };
        port->OnDSRChange = [this, flag](TObject*, bool on) { log.add("dsr:" + flag(on)); };
        port->OnRxFlag = [this](TObject*) { log.add("rxflag"); };
        port->OnRLSDChange = [this, flag](TObject*, bool on) { log.add("rlsd:" + flag(on)); };
        port->OnRx80Full = [this](TObject*) { log.add("rx80full"); };
    }

    // Opens the port and waits until its event thread waits on the device.
    void openAndWait() {
        port->openPort();
        ASSERT_TRUE(fake->waitForEventWait());
    }

    // Plays the main thread's loop until `n` entries are in the log.
    bool serveUntilLogged(std::size_t n) {
        return fwtest::serveUntil([&] { return log.size() >= n; });
    }
};
