#include "EventPump.h"
#include "FakeDialogs.h"

#include "app/FrameworkBridge.h"
#include "app/Texts.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(FrameworkBridge, AFailureLeavingAHandlerIsShownAndTheProgramGoesOn) {
    FakeDialogs dialogs;
    {
        app::FrameworkBridge bridge(dialogs);
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
