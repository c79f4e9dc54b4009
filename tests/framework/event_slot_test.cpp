// Event slots: a handler that replaces or clears its own slot keeps running on the code it
// started with.

#include "framework/EventSlot.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Watches the code that is running: the closure owns `held`, so `watch` expires exactly when
// the closure is destroyed. Statics, so that the handler reads nothing out of its own closure.
std::weak_ptr<int> watch;
bool aliveAfterChange = false;

} // namespace

TEST(EventSlot, AHandlerThatReplacesOrClearsItsOwnSlotRunsToItsEnd) {
    for (const bool clear : {true, false}) {
        fw::TEventSlot<int> slot;
        auto held = std::make_shared<int>(0);
        watch = held;
        slot = [&slot, clear, held = std::move(held)](int) {
            if (clear)
                slot.clear();
            else
                slot = [](int) {};
            aliveAfterChange = !watch.expired();
        };
        aliveAfterChange = false;
        slot(1);
        EXPECT_TRUE(aliveAfterChange) << (clear ? "cleared" : "replaced");
        EXPECT_TRUE(watch.expired()) << "the old code is released once its call returns";
        EXPECT_EQ(slot.assigned(), !clear);
    }
}
