// Line events end to end on pseudo-terminals: bytes written at the far end reach the port's
// handlers on the thread each delivery method names, with the exact count; an idle port and a
// vanished far end behave.

#include "comport/ComPort.h"
#include "framework/MainThread.h"
#include "tests/framework/Serving.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

using namespace comport;

namespace {

struct Received {
    std::mutex lock;
    std::string bytes;
    std::vector<std::int32_t> counts;
    bool wrongThread = false;
    bool shortRead = false;

    std::size_t size() {
        std::lock_guard l(lock);
        return bytes.size();
    }
};

class EventsOnPty : public ::testing::TestWithParam<TSyncMethod> {
protected:
    testsupport::PtyPair pty;
    TComPort port;
    Received received;
    std::thread::id handlerThread = std::this_thread::get_id();

    void SetUp() override {
        port.setPort(pty.path());
        port.setSyncMethod(GetParam());
        port.OnRxChar = [this](fw::TObject* sender, std::int32_t count) {
            const bool onEventThread = std::this_thread::get_id() != fw::mainThreadId();
            std::string chunk(static_cast<std::size_t>(count), '\0');
            const std::int32_t got =
                port.readBytes(reinterpret_cast<std::uint8_t*>(chunk.data()), count);
            std::lock_guard l(received.lock);
            received.wrongThread |= sender != &port || onEventThread != (GetParam() == smNone);
            received.shortRead |= got != count;
            received.counts.push_back(count);
            received.bytes += chunk.substr(0, static_cast<std::size_t>(got));
        };
    }

    // Plays the main thread's loop until `n` bytes have come through OnRxChar.
    bool receiveAll(std::size_t n) {
        return fwtest::serveUntil([&] { return received.size() >= n; });
    }
};

} // namespace

TEST_P(EventsOnPty, FarEndBytesReachOnRxCharOnTheNamedThreadWithTheExactCount) {
    port.openPort();
    pty.send("[N]");
    ASSERT_TRUE(receiveAll(3));
    std::string burst;
    for (int i = 0; i < 2000; ++i)
        burst += static_cast<char>('a' + i % 26);
    pty.send(burst);
    ASSERT_TRUE(receiveAll(3 + burst.size()));
    port.closePort();
    std::lock_guard l(received.lock);
    EXPECT_EQ(received.bytes, "[N]" + burst);
    EXPECT_FALSE(received.wrongThread);
    EXPECT_FALSE(received.shortRead);
    EXPECT_THAT(received.counts, ::testing::Each(::testing::Gt(0)));
}

TEST_P(EventsOnPty, AnAnswerFromOnRxCharIsFollowedByOutputEmptyEvenWhenNothingElseComes) {
    std::mutex lock;
    std::string order; // R: OnRxChar, T: OnTxEmpty
    port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
        std::uint8_t request[8];
        port.readBytes(request, std::min<std::int32_t>(count, sizeof request));
        {
            std::lock_guard l(lock);
            order += 'R';
        }
        const std::uint8_t answer = '!';
        port.writeBytes(&answer, 1);
    };
    port.OnTxEmpty = [&](fw::TObject*) {
        std::lock_guard l(lock);
        order += 'T';
    };
    port.openPort();
    std::string answers;
    for (std::size_t i = 1; i <= 3; ++i) {
        pty.send("abc");
        ASSERT_TRUE(fwtest::serveUntil([&] {
            answers += pty.drain();
            return answers.size() >= i;
        }));
    }
    ASSERT_TRUE(fwtest::serveUntil([&] {
        std::lock_guard l(lock);
        return order.size() > 3 && order.back() == 'T';
    }));
    port.closePort();
    EXPECT_EQ(answers, "!!!");
    std::lock_guard l(lock);
    EXPECT_EQ(order.front(), 'R') << order;
    EXPECT_EQ(std::count(order.begin(), order.end(), 'R'), 3) << order;
}

TEST_P(EventsOnPty, AHandlerThatAsksAgainSeesBytesThatArrivedAfterItsEvent) {
    std::atomic<std::int32_t> seen{0};
    port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
        if (seen.load() != 0) return;
        seen = count;
        pty.send("c");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (seen.load() < 3 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            seen = port.bytesWaiting();
        }
    };
    port.openPort();
    pty.send("ab");
    ASSERT_TRUE(fwtest::serveUntil([&] { return seen.load() != 0; }));
    port.closePort();
    EXPECT_EQ(seen.load(), 3);
}

std::string syncMethodName(const ::testing::TestParamInfo<TSyncMethod>& info) {
    static const char* const names[] = {"ThreadSync", "WindowSync", "None"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(SyncMethods, EventsOnPty,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), syncMethodName);

// Under smThreadSync the output empty that follows a handler's answer comes in the same hand-over,
// right after OnRxChar, rather than in a hand-over of its own or with the next request.
TEST(EventsOnPtyHandOver, AnAnswersOutputEmptyComesInItsOwnRequestsHandOver) {
    testsupport::PtyPair pty;
    TComPort port;
    port.setPort(pty.path());
    std::string order; // R: OnRxChar, T: OnTxEmpty, both on this thread
    port.OnRxChar = [&](fw::TObject*, std::int32_t count) {
        std::uint8_t request[8];
        port.readBytes(request, std::min<std::int32_t>(count, sizeof request));
        order += 'R';
        const std::uint8_t answer = '!';
        port.writeBytes(&answer, 1);
    };
    port.OnTxEmpty = [&](fw::TObject*) { order += 'T'; };
    fwtest::WakeRecorder handOvers;
    port.openPort();
    for (int i = 1; i <= 3; ++i) {
        pty.send("abc");
        ASSERT_TRUE(fwtest::serveUntil([&] { return order.size() >= 2u * i; })) << order;
    }
    fw::waitForSynchronize(std::chrono::milliseconds(20)); // room for a stray late one
    port.closePort();
    EXPECT_EQ(order, "RTRTRT");
    EXPECT_EQ(handOvers.calls(), 3);
}

TEST(EventsOnPtyHangUp, AVanishedFarEndEndsDeliveryQuietlyAndTheNextReadFails) {
    testsupport::PtyPair pty;
    TComPort port;
    port.setPort(pty.path());
    int announced = 0;
    port.OnRxChar = [&](fw::TObject*, std::int32_t) { ++announced; };
    port.openPort();
    pty.send("x");
    ASSERT_TRUE(fwtest::serveUntil([&] { return announced == 1; }));
    pty.closeController();
    // A byte left unread may still be read, or the kernel's hang-up may already have flushed it;
    // either way the failure shows next, instead of reads that quietly return nothing.
    std::uint8_t b = 0;
    std::int32_t code = 0;
    try {
        for (int i = 0; i < 200 && code == 0; ++i) {
            port.readBytes(&b, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    } catch (const EComPort& e) {
        code = e.errorCode();
    }
    EXPECT_EQ(code, 3); // "ReadFile function failed"
    fw::waitForSynchronize(std::chrono::milliseconds(50));
    EXPECT_EQ(announced, 1);
    port.closePort();
    EXPECT_FALSE(port.Connected());
}
