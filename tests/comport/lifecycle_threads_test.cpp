// Opening and closing from more than one thread, on pseudo-terminals: a call that returns has done
// what it was asked, whichever thread did the work; a handler that reopens while the owner closes
// and deletes leaves nothing behind; what was announced before a close is handed over; and a close
// never waits for a hand-over that nobody serves.

#include "comport/ComPort.h"
#include "framework/MainThread.h"
#include "tests/framework/Serving.h"
#include "tests/support/Pty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

using namespace comport;
using namespace std::chrono_literals;

namespace {

// Whether nothing holds the terminal any more: a fresh port opens it (ports open exclusively).
bool deviceFree(const std::string& path) {
    TComPort probe;
    probe.setEvents({});
    probe.setPort(path);
    try {
        probe.openPort();
    } catch (const EComPort&) {
        return false;
    }
    return true;
}

// Sleeps (serving nothing) until `done` holds or a long while has passed.
template <typename Pred> bool waitWithoutServing(Pred done) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(10ms);
    return done();
}

enum class Step { open, close };

} // namespace

// A worker's open or close is held in its before-notification; the main thread asks for an open or
// a close meanwhile. The main thread's call returns with the port as it asked, and the worker's,
// finishing first, does not undo it afterwards.
TEST(PortFromTwoThreads, ACallWhileAnotherThreadsIsUnderWayReturnsWithThePortAsAsked) {
    struct Race {
        Step worker, owner;
        const char* name;
    };
    for (const Race race : {Race{Step::close, Step::close, "close during close"},
                            Race{Step::open, Step::open, "open during open"},
                            Race{Step::close, Step::open, "open during close"},
                            Race{Step::open, Step::close, "close during open"}}) {
        SCOPED_TRACE(race.name);
        testsupport::PtyPair pty;
        TComPort port;
        port.setPort(pty.path());
        if (race.worker == Step::close) port.openPort();
        std::atomic<bool> underWay{false};
        std::atomic<std::thread::id> worker;
        auto hold = [&](fw::TObject*) {
            if (std::this_thread::get_id() != worker) return;
            underWay = true;
            std::this_thread::sleep_for(100ms); // room for the owner's call to come meanwhile
        };
        port.OnBeforeOpen = hold;
        port.OnBeforeClose = hold;
        std::string workerFailure;
        std::thread thread([&] {
            worker = std::this_thread::get_id();
            try {
                race.worker == Step::open ? port.openPort() : port.closePort();
            } catch (const std::exception& e) {
                workerFailure = e.what();
            }
        });
        ASSERT_TRUE(waitWithoutServing([&] { return underWay.load(); }));
        race.owner == Step::open ? port.openPort() : port.closePort();
        const bool wantOpen = race.owner == Step::open;
        EXPECT_EQ(port.Connected(), wantOpen);
        thread.join();
        EXPECT_EQ(workerFailure, "");
        EXPECT_EQ(port.Connected(), wantOpen);
        if (wantOpen) {
            EXPECT_NO_THROW(port.writeText("!"));
            EXPECT_EQ(pty.receive(1), "!");
            port.closePort();
        }
        EXPECT_FALSE(port.Connected());
        EXPECT_TRUE(deviceFree(pty.path()));
    }
}

// With smNone a handler closes the port and opens it again, while the owner closes and deletes it:
// once before the owner's close, once inside it. The handler's reopen either opens (and the delete
// closes it) or fails with the open error; it never runs on a deleted port, never looks as if it
// had opened a port that ends closed, and leaves no device open.
TEST(PortFromTwoThreads, AHandlerThatReopensWhileTheOwnerClosesAndDeletesLeavesNothingOpen) {
    for (const bool handlerFirst : {true, false}) {
        SCOPED_TRACE(handlerFirst ? "handler closes first" : "owner closes first");
        testsupport::PtyPair pty;
        auto port = std::make_unique<TComPort>();
        TComPort* const p = port.get();
        p->setPort(pty.path());
        p->setSyncMethod(smNone);
        const std::thread::id owner = std::this_thread::get_id();
        std::atomic<bool> inHandler{false}, handlerClosed{false}, ownerClosing{false};
        std::atomic<bool> ownerDeleting{false}, handlerDone{false};
        std::atomic<int> reopen{-1}; // 0: opened; otherwise the error number
        p->OnBeforeClose = [&](fw::TObject*) {
            if (std::this_thread::get_id() == owner) ownerClosing = true;
        };
        p->OnRxChar = [&, p](fw::TObject*, std::int32_t) {
            if (inHandler.exchange(true)) return;
            if (!handlerFirst) waitWithoutServing([&] { return ownerClosing.load(); });
            p->closePort();
            handlerClosed = true;
            if (handlerFirst) {
                waitWithoutServing([&] { return ownerDeleting.load(); });
                std::this_thread::sleep_for(50ms); // the delete is under way
            }
            try {
                p->openPort();
                reopen = 0;
            } catch (const EComPort& e) {
                reopen = e.errorCode();
            }
            handlerDone = true;
        };
        p->openPort();
        pty.send("x");
        ASSERT_TRUE(waitWithoutServing([&] { return inHandler.load(); }));
        if (handlerFirst) {
            ASSERT_TRUE(waitWithoutServing([&] { return handlerClosed.load(); }));
        }
        p->closePort();
        EXPECT_FALSE(p->Connected());
        ownerDeleting = true;
        port.reset();
        ASSERT_TRUE(waitWithoutServing([&] { return handlerDone.load(); }));
        if (handlerFirst)
            EXPECT_TRUE(reopen == 0 || reopen == 1) << reopen;
        else
            EXPECT_EQ(reopen, 1);
        EXPECT_TRUE(deviceFree(pty.path()));
    }
}

// Bytes whose arrival the event thread has handed to the owner's thread before the owner closes
// reach OnRxChar during the close, as the close serves what it waits for.
TEST(PortFromTwoThreads, BytesAnnouncedBeforeTheCloseReachOnRxChar) {
    for (const TSyncMethod method : {smThreadSync, smWindowSync}) {
        SCOPED_TRACE(method == smThreadSync ? "smThreadSync" : "smWindowSync");
        testsupport::PtyPair pty;
        TComPort port;
        port.setPort(pty.path());
        port.setSyncMethod(method);
        std::string got;
        port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
            std::string chunk(static_cast<std::size_t>(count), '\0');
            const std::int32_t n =
                port.readBytes(reinterpret_cast<std::uint8_t*>(chunk.data()), count);
            got += chunk.substr(0, static_cast<std::size_t>(n));
        };
        fwtest::WakeRecorder handedOver;
        port.openPort();
        const std::string bytes(200, 'b');
        pty.send(bytes);
        ASSERT_TRUE(handedOver.waitForCalls(1));
        ASSERT_TRUE(waitWithoutServing([&] { return port.bytesWaiting() == 200; }));
        port.closePort();
        EXPECT_EQ(got, bytes);
    }
}

// smThreadSync: bytes arrive, the main thread serves no queue (it waits for the worker), and the
// worker closes. The close returns; the hand-over nobody served is dropped.
TEST(PortFromTwoThreads, AWorkersCloseDoesNotWaitForAHandOverNobodyServes) {
    testsupport::PtyPair pty;
    TComPort port;
    port.setPort(pty.path());
    int announced = 0;
    port.OnRxChar = [&](fw::TObject*, std::int32_t) { ++announced; };
    fwtest::WakeRecorder handedOver;
    port.openPort();
    pty.send("x");
    ASSERT_TRUE(handedOver.waitForCalls(1));
    std::atomic<bool> closed{false};
    std::thread worker([&] {
        port.closePort();
        closed = true;
    });
    const bool closedAlone = waitWithoutServing([&] { return closed.load(); });
    fwtest::serveUntil([&] { return closed.load(); }); // frees a close that waits for this thread
    worker.join();
    EXPECT_TRUE(closedAlone);
    EXPECT_FALSE(port.Connected());
    fw::waitForSynchronize(20ms);
    EXPECT_EQ(announced, closedAlone ? 0 : 1);
    EXPECT_TRUE(deviceFree(pty.path()));
}
