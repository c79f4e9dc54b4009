#include "framework/Component.h"
#include "framework/ErrorDisplay.h"
#include "framework/Exception.h"
#include "framework/Persistent.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

TEST(Component, OwnerKnowsItsComponentsAndNeitherOutlivesTheOther) {
    auto owner = std::make_unique<fw::TComponent>();
    auto a = std::make_unique<fw::TComponent>(owner.get());
    {
        fw::TComponent b(owner.get());
        EXPECT_EQ(owner->components().size(), 2u);
    }
    ASSERT_EQ(owner->components().size(), 1u);
    EXPECT_EQ(owner->components()[0], a.get());
    owner.reset();
    EXPECT_EQ(a->owner(), nullptr);
}

TEST(Component, LoadingEndsWhenLoadingFinishes) {
    fw::TComponent c;
    c.setName("ComPort1");
    c.setTag(7);
    EXPECT_FALSE(c.loading());
    c.beginLoading();
    EXPECT_TRUE(c.loading());
    c.finishLoading();
    EXPECT_FALSE(c.loading());
    EXPECT_FALSE(c.designing());
    EXPECT_EQ(c.Name(), "ComPort1");
    EXPECT_EQ(c.Tag(), 7);
}

namespace {
struct TOther : fw::TPersistent {
    std::string className() const override { return "TOther"; }
};
} // namespace

TEST(Persistent, TheBaseTakesNothing) {
    fw::TPersistent target;
    TOther source;
    try {
        target.assign(&source);
        FAIL();
    } catch (const fw::EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TOther to a TPersistent");
    }
}

TEST(ErrorDisplay, InstalledDisplayShowsAndAFailingOneFallsBack) {
    std::string shown;
    auto previous = fw::setErrorDisplay([&](const std::exception& e) { shown = e.what(); });
    fw::showException(fw::Exception("Port Not Open"));
    EXPECT_EQ(shown, "Port Not Open");
    fw::setErrorDisplay([](const std::exception&) { throw std::runtime_error("display broke"); });
    EXPECT_NO_THROW(fw::showException(fw::Exception("still shown on stderr")));
    fw::setErrorDisplay(previous);
}
