#include "framework/MessageWindow.h"
#include "framework/QueuedCall.h"
#include "framework/Thread.h"
#include "framework/ThreadError.h"
#include "tests/framework/Serving.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using fwtest::serveUntil;

namespace {

// The body reads what only the most-derived constructor sets, and tells whether it started
// while that constructor was still running.
class Middle : public fw::TThread {
public:
    std::atomic<bool> bodyRan{false};
    int seen = -1;

protected:
    void execute() override {
        seen = value();
        bodyRan = true;
        ran_.notify_all();
    }
    virtual int value() const = 0;
    std::condition_variable_any ran_;
};

class Leaf final : public Middle {
public:
    Leaf() {
        // Give a body started too early every chance to show itself.
        std::mutex m;
        std::unique_lock l(m);
        startedDuringConstruction = ran_.wait_for(l, 50ms, [&] { return bodyRan.load(); });
        value_ = 42;
    }
    bool startedDuringConstruction = false;

private:
    int value() const override { return value_; }
    int value_ = 0;
};

// Runs a function as its body.
class FnThread : public fw::TThread {
public:
    explicit FnThread(std::function<void(FnThread&)> body) : body_(std::move(body)) {}

    // Sleeps until terminate() is called.
    void sleepUntilTerminated() {
        std::unique_lock l(lock_);
        woken_.wait(l, [&] { return terminated(); });
    }

protected:
    void execute() override { body_(*this); }
    void terminatedSet() override {
        std::lock_guard l(lock_);
        woken_.notify_all();
    }

private:
    std::function<void(FnThread&)> body_;
    std::mutex lock_;
    std::condition_variable woken_;
};

std::string messageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    }
}

int niceOf(pid_t tid) {
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

} // namespace

TEST(Thread, BodyStartsOnlyAfterTheMostDerivedConstructor) {
    auto thread = fw::TThread::create<Leaf>();
    thread->waitFor();
    EXPECT_FALSE(thread->startedDuringConstruction);
    EXPECT_EQ(thread->seen, 42);
    EXPECT_TRUE(thread->finished());
}

TEST(Thread, ThreadDestroyedBeforeStartNeverRunsItsBody) {
    std::atomic<bool> ran{false};
    {
        FnThread thread([&](FnThread&) { ran = true; });
        EXPECT_GT(thread.threadId(), 0);
        thread.waitFor(); // held at the gate: nothing to wait for
        EXPECT_FALSE(thread.finished());
    }
    EXPECT_FALSE(ran);
}

TEST(Thread, StartIsOnceAndAThreadCannotWaitForItself) {
    std::string ownWait;
    auto thread = fw::TThread::create<FnThread>([&](FnThread& self) {
        try {
            self.waitFor();
        } catch (const fw::EThread& e) {
            ownWait = e.what();
        }
    });
    EXPECT_THROW(thread->start(), fw::EThread);
    thread->waitFor();
    EXPECT_EQ(ownWait, "A thread cannot wait for itself to end");
}

TEST(Thread, TerminateWakesTheBodyAndTheOwnerStopsIt) {
    std::atomic<bool> sawRequest{false};
    {
        auto thread = fw::TThread::create<FnThread>([&](FnThread& self) {
            self.sleepUntilTerminated();
            sawRequest = self.terminated();
        });
        EXPECT_FALSE(thread->terminated());
    } // the owner terminates, wakes the body through terminatedSet() and waits
    EXPECT_TRUE(sawRequest);
}

TEST(Thread, FailureThatEscapesTheBodyIsKept) {
    auto thread = fw::TThread::create<FnThread>(
        [](FnThread&) { throw std::runtime_error("lost the device"); });
    thread->waitFor();
    ASSERT_TRUE(thread->fatalException());
    EXPECT_EQ(messageOf(thread->fatalException()), "lost the device");

    auto clean = fw::TThread::create<FnThread>([](FnThread&) {});
    clean->waitFor();
    EXPECT_FALSE(clean->fatalException());
}

TEST(Thread, PriorityMapsOntoNiceValueAndIdleClass) {
    auto thread =
        fw::TThread::create<FnThread>([](FnThread& self) { self.sleepUntilTerminated(); });
    const pid_t tid = thread->threadId();
    const int base = niceOf(tid);
    EXPECT_EQ(thread->priority(), fw::tpNormal);

    thread->setPriority(fw::tpLower);
    EXPECT_EQ(niceOf(tid), std::min(base + 5, 19));
    thread->setPriority(fw::tpLowest);
    EXPECT_EQ(niceOf(tid), std::min(base + 10, 19));
    thread->setPriority(fw::tpIdle);
    EXPECT_EQ(sched_getscheduler(tid), SCHED_IDLE);
    EXPECT_EQ(thread->priority(), fw::tpIdle);

    if (geteuid() == 0) { // going back up needs the privilege
        thread->setPriority(fw::tpNormal);
        EXPECT_EQ(sched_getscheduler(tid), SCHED_OTHER);
        EXPECT_EQ(niceOf(tid), base);
        thread->setPriority(fw::tpHighest);
        EXPECT_EQ(niceOf(tid), std::max(base - 10, -20));
    }
}

TEST(Thread, RefusedPriorityRaisesThreadErrorAndKeepsTheOldOne) {
    auto thread =
        fw::TThread::create<FnThread>([](FnThread& self) { self.sleepUntilTerminated(); });
    const int before = niceOf(thread->threadId());
    std::string message;
    // Capabilities are per thread: a helper without CAP_SYS_NICE is refused even under root.
    std::thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
        data[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
        ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
        try {
            thread->setPriority(fw::tpTimeCritical);
        } catch (const fw::EThread& e) {
            message = e.what();
        }
    }).join();
    EXPECT_EQ(message, "Thread Error: Permission denied (13)");
    EXPECT_EQ(thread->priority(), fw::tpNormal);
    EXPECT_EQ(niceOf(thread->threadId()), before);
}

TEST(Synchronize, RunsOnTheMainThreadWakesItAndRaisesAgainInTheCaller) {
    fwtest::WakeRecorder wake;
    std::thread::id ranOn;
    std::thread::id caller;
    std::string raised;
    auto thread = fw::TThread::create<FnThread>([&](FnThread&) {
        caller = std::this_thread::get_id();
        try {
            fw::TThread::synchronize([&] {
                ranOn = std::this_thread::get_id();
                throw fw::Exception("handler failed");
            });
        } catch (const fw::Exception& e) {
            raised = e.what();
        }
    });
    ASSERT_TRUE(serveUntil([&] { return thread->finished(); }));
    thread->waitFor();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(raised, "handler failed");
    EXPECT_EQ(wake.calls(), 1);
    EXPECT_EQ(wake.lastThread(), caller);
}

TEST(Synchronize, OnTheMainThreadRunsAtOnceWithoutQueuing) {
    fwtest::WakeRecorder wake;
    bool ran = false;
    fw::synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_THROW(fw::synchronize([] { throw fw::Exception("direct"); }), fw::Exception);
    EXPECT_FALSE(fw::checkSynchronize());
    EXPECT_EQ(wake.calls(), 0);
}

TEST(Synchronize, DestroyingTheThreadServesTheCallItIsBlockedIn) {
    fwtest::WakeRecorder wake;
    std::atomic<int> served{0};
    auto thread = fw::TThread::create<FnThread>([&](FnThread& self) {
        while (!self.terminated())
            fw::TThread::synchronize([&] { ++served; });
    });
    ASSERT_TRUE(wake.waitForCalls(1)); // the body is now blocked on the main thread
    thread.reset();                    // must serve it, or neither side ever returns
    EXPECT_GE(served, 1);
}

TEST(Synchronize, CallsFromSeveralThreadsAtOnceAllRunEachCallersInOrder) {
    constexpr int threads = 4, callsEach = 300;
    std::vector<int> last(threads, -1); // touched on the main thread only
    int outOfOrder = 0;
    std::atomic<int> finished{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < callsEach; ++i) {
                fw::synchronize([&, t, i] {
                    if (last[t] != i - 1) ++outOfOrder;
                    last[t] = i;
                });
            }
            ++finished;
        });
    }
    EXPECT_TRUE(serveUntil([&] { return finished == threads; }));
    for (auto& c : callers)
        c.join();
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(last, std::vector<int>(threads, callsEach - 1));
}

// The caller goes on while the main thread runs its call, and learns the outcome when it finishes
// it; the record serves one call after another.
TEST(QueuedCall, StartReturnsAtOnceAndFinishWaitsAndRaisesAgain) {
    std::atomic<int> ran{0}, started{0};
    std::string raised;
    std::thread caller([&] {
        fw::TQueuedCall call;
        for (int i = 1; i <= 2; ++i) {
            call.start([&, i] {
                ++ran;
                if (i == 2) throw fw::Exception("second failed");
            });
            ++started; // before the main thread has served anything
            try {
                call.finish();
            } catch (const fw::Exception& e) {
                raised = e.what();
            }
        }
    });
    while (started.load() == 0)
        std::this_thread::yield();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_TRUE(serveUntil([&] { return ran.load() == 2 && started.load() == 2; }));
    caller.join();
    EXPECT_EQ(raised, "second failed");
}

// A wake hook that fails leaves nothing of the caller behind in the main thread's queue (its
// record lives on the caller's stack): the caller learns of the failure, and nothing runs later.
TEST(MainThreadQueue, AWakeHookThatFailsLeavesNothingQueued) {
    int ran = 0;
    fw::TMessageWindow window([&](fw::TMessage&) { ++ran; });
    const std::vector<std::function<void()>> handOvers = {
        [&] { fw::synchronize([&] { ++ran; }); },
        [&] { fw::sendMessage(window.handle(), fw::wmUser, 0, 0); },
        [&] { fw::TQueuedCall().start([&] { ++ran; }); }};
    for (const auto& handOver : handOvers) {
        fw::setWakeMainThread([] { throw fw::Exception("the event loop is gone"); });
        std::string raised;
        std::thread([&] {
            try {
                handOver();
            } catch (const std::exception& e) {
                raised = e.what();
            }
        }).join();
        fw::setWakeMainThread(nullptr);
        EXPECT_EQ(raised, "the event loop is gone");
        EXPECT_FALSE(fw::checkSynchronize());
    }
    EXPECT_EQ(ran, 0);
}

TEST(MainThreadQueue, OnlyTheMainThreadServesIt) {
    std::string refused;
    std::thread([&] {
        try {
            fw::checkSynchronize();
        } catch (const fw::EThread& e) {
            refused = e.what();
        }
    }).join();
    EXPECT_NE(refused.find("checkSynchronize"), std::string::npos);
    EXPECT_FALSE(fw::waitForSynchronize(1ms)); // nothing queued: times out, runs nothing
}

TEST(MainThreadQueue, AnotherThreadCanBeMadeTheMainThread) {
    const auto original = fw::mainThreadId();
    std::atomic<bool> marked{false};
    std::thread::id ranOn;
    std::thread loop([&] {
        fw::setMainThread();
        marked = true;
        serveUntil([&] { return ranOn != std::thread::id{}; });
    });
    while (!marked)
        std::this_thread::yield();
    EXPECT_FALSE(fw::isMainThread());
    fw::synchronize([&] { ranOn = std::this_thread::get_id(); }); // queued for the loop above
    const auto loopId = loop.get_id();
    loop.join();
    EXPECT_EQ(ranOn, loopId);
    fw::setMainThread();
    EXPECT_EQ(fw::mainThreadId(), original);
}
