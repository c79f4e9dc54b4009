#pragma once

#include "comport/ComPort.h"
#include "tests/support/FakeComDriver.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// A port on the fake device layer, with a log of the exceptions reported to OnException when a
// test installs the handler.
struct PortOnFake : ::testing::Test {
    struct Report {
        comport::TComExceptions kind;
        std::string message;
        std::int64_t winError;
        std::string winMessage;
    };

    // What handlers saw and what was reported; declared before the port so that it outlives the
    // port's last close.
    std::vector<std::string> order;
    std::vector<Report> reports;
    std::shared_ptr<testsupport::FakeComDriver> fake =
        std::make_shared<testsupport::FakeComDriver>();
    std::unique_ptr<comport::TComPort> port = std::make_unique<comport::TComPort>(nullptr, fake);

    void catchReports() {
        port->OnException = [this](fw::TObject*, comport::TComExceptions kind,
                                   const std::string& message, std::int64_t winError,
                                   const std::string& winMessage) {
            reports.push_back({kind, message, winError, winMessage});
        };
    }

    void openFresh() {
        port->openPort();
        fake->clearCalls();
    }
};

// Runs `action` and gives the EComPort it raises (fails the test when it raises none).
template <typename F> comport::EComPort raised(F&& action) {
    try {
        action();
    } catch (const comport::EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return comport::EComPort(0);
}
