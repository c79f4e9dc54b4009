#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/MessageWindow.h"
#include "framework/Thread.h"
#include "tests/framework/Serving.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using fwtest::serveUntil;

namespace {

constexpr std::uint32_t wmPing = fw::wmUser + 1;

struct Seen {
    std::thread::id thread;
    bool inSend = false;
    fw::TMessage message;
};

// A window that records what its procedure saw and answers wParam * 2.
class RecordingWindow {
public:
    RecordingWindow()
        : window_([this](fw::TMessage& m) {
              if (m.msg != wmPing) {
                  m.result = fw::defWindowProc(window_.handle(), m.msg, m.wParam, m.lParam);
                  return;
              }
              seen_ = Seen{std::this_thread::get_id(), fw::inSendMessage(), m};
              m.result = static_cast<std::intptr_t>(m.wParam * 2);
              ++count_;
          }) {}
    fw::TWindowHandle handle() const { return window_.handle(); }
    int count() const { return count_; }
    const Seen& seen() const { return seen_; }

private:
    std::atomic<int> count_{0};
    Seen seen_;
    fw::TMessageWindow window_;
};

class Runner : public fw::TThread {
public:
    explicit Runner(std::function<void(Runner&)> body) : body_(std::move(body)) {}

protected:
    void execute() override { body_(*this); }

private:
    std::function<void(Runner&)> body_;
};

} // namespace

TEST(MessageWindow, OwnerThreadCallsTheProcedureDirectly) {
    RecordingWindow window;
    EXPECT_EQ(fw::sendMessage(window.handle(), wmPing, 21, 5), 42);
    EXPECT_EQ(window.seen().thread, std::this_thread::get_id());
    EXPECT_FALSE(window.seen().inSend);
    EXPECT_EQ(window.seen().message.lParam, 5);
    EXPECT_EQ(fw::sendMessage(window.handle(), 0x1234, 1, 1), 0); // default procedure
    EXPECT_FALSE(fw::inSendMessage());
    EXPECT_FALSE(fw::replyMessage(1)); // outside any procedure
}

TEST(MessageWindow, SendFromAnotherThreadRunsOnTheOwnerAndWakesIt) {
    fwtest::WakeRecorder wake;
    RecordingWindow window;
    std::atomic<std::intptr_t> result{-1};
    std::thread sender([&] { result = fw::sendMessage(window.handle(), wmPing, 4, 0); });
    ASSERT_TRUE(serveUntil([&] { return result != -1; }));
    sender.join();
    EXPECT_EQ(result, 8);
    EXPECT_EQ(window.seen().thread, std::this_thread::get_id());
    EXPECT_TRUE(window.seen().inSend);
    EXPECT_GE(wake.calls(), 1);
}

TEST(MessageWindow, ReplyReleasesTheSenderBeforeTheProcedureEnds) {
    std::promise<std::intptr_t> senderReturned;
    auto returned = senderReturned.get_future();
    std::optional<std::future_status> waitedInProcedure;
    bool secondReply = true;
    bool stillInSend = false;
    fw::TMessageWindow window([&](fw::TMessage& m) {
        EXPECT_TRUE(fw::replyMessage(7));
        // Without the early reply the sender could not return while we wait here.
        waitedInProcedure = returned.wait_for(20s);
        secondReply = fw::replyMessage(8);
        stillInSend = fw::inSendMessage();
        m.result = 9; // too late: the sender has its answer
    });
    std::thread sender(
        [&] { senderReturned.set_value(fw::sendMessage(window.handle(), wmPing, 0, 0)); });
    ASSERT_TRUE(serveUntil([&] { return waitedInProcedure.has_value(); }));
    sender.join();
    EXPECT_EQ(waitedInProcedure, std::future_status::ready);
    EXPECT_EQ(returned.get(), 7);
    EXPECT_FALSE(secondReply);
    EXPECT_TRUE(stillInSend);
}

TEST(MessageWindow, SendToAWindowThatIsGoneReturnsZeroWithoutCallingIt) {
    fw::TWindowHandle stale;
    int calls = 0;
    {
        fw::TMessageWindow window([&](fw::TMessage&) { ++calls; });
        stale = window.handle();
    }
    std::intptr_t fromOther = -1;
    std::thread([&] { fromOther = fw::sendMessage(stale, wmPing, 1, 0); }).join();
    EXPECT_EQ(fromOther, 0);
    EXPECT_EQ(fw::sendMessage(stale, wmPing, 1, 0), 0);
    EXPECT_EQ(fw::sendMessage(0, wmPing, 1, 0), 0);
    fw::TMessageWindow newer([](fw::TMessage& m) { m.result = 1; });
    EXPECT_NE(newer.handle(), stale); // handles are not reused
    EXPECT_EQ(calls, 0);
}

TEST(MessageWindow, DestroyingTheWindowReleasesBlockedSenders) {
    fwtest::WakeRecorder wake;
    auto window = std::make_unique<RecordingWindow>();
    const auto handle = window->handle();
    std::atomic<std::intptr_t> result{-1};
    std::thread sender([&] { result = fw::sendMessage(handle, wmPing, 4, 0); });
    ASSERT_TRUE(wake.waitForCalls(1)); // the message is queued; nothing serves it
    window.reset();
    sender.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fw::checkSynchronize()); // nothing left behind
}

TEST(MessageWindow, WindowOfAWorkerThreadIsServedThereAndGoesQuietWhenItEnds) {
    std::promise<fw::TWindowHandle> made;
    std::atomic<bool> stop{false};
    std::thread::id ranOn;
    std::unique_ptr<fw::TMessageWindow> window; // outlives its thread on purpose
    std::thread owner([&] {
        window = std::make_unique<fw::TMessageWindow>([&](fw::TMessage& m) {
            ranOn = std::this_thread::get_id();
            m.result = fw::inSendMessage() ? 1 : 2;
        });
        made.set_value(window->handle());
        while (!stop)
            fw::waitForSentMessages(10ms);
    });
    const auto ownerId = owner.get_id();
    const auto handle = made.get_future().get();
    EXPECT_EQ(fw::sendMessage(handle, wmPing, 0, 0), 1);
    EXPECT_EQ(ranOn, ownerId);
    stop = true;
    owner.join();
    EXPECT_EQ(fw::sendMessage(handle, wmPing, 0, 0), 0); // its thread has ended
}

TEST(MessageWindow, TwoThreadsSendingToEachOtherDoNotDeadlock) {
    // Each sender serves its own window while it waits for the other's answer.
    RecordingWindow mainWindow;
    std::promise<fw::TWindowHandle> made;
    std::atomic<std::intptr_t> workerGot{-1};
    std::thread worker([&] {
        RecordingWindow workerWindow;
        made.set_value(workerWindow.handle());
        workerGot = fw::sendMessage(mainWindow.handle(), wmPing, 3, 0);
        while (workerWindow.count() == 0)
            fw::waitForSentMessages(10ms);
    });
    const auto workerWindow = made.get_future().get();
    EXPECT_EQ(fw::sendMessage(workerWindow, wmPing, 5, 0), 10);
    ASSERT_TRUE(serveUntil([&] { return workerGot != -1; }));
    worker.join();
    EXPECT_EQ(workerGot, 6);
}

TEST(MessageWindow, ThreadWaitServesMessagesSentToTheMainThread) {
    RecordingWindow window;
    fwtest::WakeRecorder wake;
    auto thread = fw::TThread::create<Runner>([&](Runner& self) {
        while (!self.terminated())
            fw::sendMessage(window.handle(), wmPing, 1, 0);
    });
    ASSERT_TRUE(wake.waitForCalls(1)); // the body is blocked in a send to us
    thread.reset();
    EXPECT_GE(window.count(), 1);
}

// Records what the application's error display is asked to show during a test.
class ShownErrors {
public:
    ShownErrors()
        : previous_(fw::setErrorDisplay([this](const std::exception& e) {
              std::lock_guard l(lock_);
              shown_.push_back(e.what());
          })) {}
    ~ShownErrors() { fw::setErrorDisplay(previous_); }
    std::vector<std::string> shown() {
        std::lock_guard l(lock_);
        return shown_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> shown_;
    fw::ErrorDisplay previous_;
};

TEST(MessageWindow, FailingProcedureReleasesItsSenderAndIsShown) {
    ShownErrors errors;
    int calls = 0;
    fw::TMessageWindow window([&](fw::TMessage& m) {
        m.result = 5;
        if (++calls == 1) throw fw::Exception("procedure failed");
    });
    std::atomic<std::intptr_t> first{-1}, second{-1};
    std::thread sender([&] {
        first = fw::sendMessage(window.handle(), wmPing, 0, 0);
        second = fw::sendMessage(window.handle(), wmPing, 0, 0);
    });
    ASSERT_TRUE(serveUntil([&] { return second != -1; })); // serving goes on after the failure
    sender.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 5);
    EXPECT_EQ(errors.shown(), std::vector<std::string>{"procedure failed"});
}

TEST(MessageWindow, FailureWhileAThreadIsDestroyedIsShownNotThrown) {
    ShownErrors errors;
    fwtest::WakeRecorder wake;
    fw::TMessageWindow window([](fw::TMessage&) { throw fw::Exception("failed while waiting"); });
    std::atomic<std::intptr_t> result{-1};
    auto thread = fw::TThread::create<Runner>(
        [&](Runner&) { result = fw::sendMessage(window.handle(), wmPing, 0, 0); });
    ASSERT_TRUE(wake.waitForCalls(1));
    thread.reset(); // the wait serves the message
    EXPECT_EQ(result, 0);
    EXPECT_EQ(errors.shown(), std::vector<std::string>{"failed while waiting"});
}
