// Line events end to end on pseudo-terminals: bytes written at the far end reach the port's
// handlers on the thread each delivery method names, with the exact count; an idle port and a
// vanished far end behave.

#include "comport/ComPort.h"
#include "framework/MainThread.h"
#include "tests/framework/Serving.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>

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

std::string syncMethodName(const ::testing::TestParamInfo<TSyncMethod>& info) {
    static const char* const names[] = {"ThreadSync", "WindowSync", "None"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(SyncMethods, EventsOnPty,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), syncMethodName);

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
