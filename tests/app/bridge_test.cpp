#include "EventPump.h"
#include "FakeDialogs.h"

#include "app/Texts.h"
#include "app/qt/FrameworkBridge.h"
#include "framework/Exception.h"
#include "framework/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(FrameworkBridge, CallsFromOtherThreadsRunOnTheMainThreadFromQtsLoop) {
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge(dialogs);
    const auto mainId = std::this_thread::get_id();
    std::atomic<int> ranOnMain{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            fw::synchronize([&] {
                if (std::this_thread::get_id() == mainId) ++ranOnMain;
            });
        finished = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(ranOnMain, 50);
}

TEST(FrameworkBridge, ServesTheQueueInsideAModalBox) {
    // The box's own loop must run hand-overs, as a message box opened by the timer handler does
    // while the port keeps delivering.
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge(dialogs);
    std::atomic<bool> handedOver{false};
    std::thread worker;
    dialogs.whileOpen = [&](const FakeDialogs::Box&) {
        worker = std::thread([&] { fw::synchronize([&] { handedOver = true; }); });
        EXPECT_TRUE(pumpUntil([&] { return handedOver.load(); })); // a nested loop, as exec() runs
    };
    dialogs.message(nullptr, QStringLiteral("t"), QStringLiteral("PLACA NÃO RESPONDE !"));
    worker.join();
    EXPECT_TRUE(handedOver);
}

TEST(FrameworkBridge, AFailureLeavingAHandlerIsShownAndTheProgramGoesOn) {
    FakeDialogs dialogs;
    {
        app::qt::FrameworkBridge bridge(dialogs);
        app::runHandler([] { throw fw::Exception("Unable to open com port (Error: 2)"); });
        app::runHandler([] { throw 42; });
        fw::showException(fw::EConvertError("'$G1' is not a valid integer value"));
    }
    ASSERT_EQ(dialogs.boxes.size(), 3u);
    for (const auto& box : dialogs.boxes) {
        EXPECT_EQ(box.kind, FakeDialogs::Error);
        EXPECT_EQ(box.caption, QString::fromUtf8(app::programTitle));
    }
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Unable to open com port (Error: 2)"));
    EXPECT_FALSE(dialogs.boxes[1].text.isEmpty());
    EXPECT_EQ(dialogs.boxes[2].text, QStringLiteral("'$G1' is not a valid integer value"));

    // Once the bridge has gone, the framework's own display is back: no box.
    fw::showException(fw::Exception("after"));
    EXPECT_EQ(dialogs.boxes.size(), 3u);
}

} // namespace

TEST(FrameworkBridge, AFailureOnAnotherThreadIsShownFromQtsLoop) {
    // Handlers of a port delivering on its own thread fail there; the box must still open on the
    // thread that owns the widgets, and the failing thread must not wait for it.
    FakeDialogs dialogs;
    app::qt::FrameworkBridge bridge(dialogs);
    const auto mainId = std::this_thread::get_id();
    std::thread::id shownOn;
    dialogs.whileOpen = [&](const FakeDialogs::Box&) { shownOn = std::this_thread::get_id(); };
    std::thread worker([] { fw::showException(fw::Exception("ReadFile function failed")); });
    worker.join();
    EXPECT_TRUE(pumpUntil([&] { return dialogs.boxes.size() == 1; }));
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("ReadFile function failed"));
    EXPECT_EQ(shownOn, mainId);
}
