#include <gtest/gtest.h>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIButton.h"

namespace {

class InteractionEventsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        while (UIApplication::sharedApplication()->isIgnoringInteractionEvents())
            UIApplication::sharedApplication()->endIgnoringInteractionEvents();
    }
};

TEST_F(InteractionEventsTest, NestAndStopTapsUntilTheLastEnd) {
    auto application = UIApplication::sharedApplication();
    auto button = UIButton::buttonWithType(UIButtonTypeRoundedRect);
    int taps = 0;
    auto target = std::make_shared<NSObject>();
    button->addTarget(
        target, [&] { ++taps; }, UIControlEventTouchUpInside);

    application->endIgnoringInteractionEvents();  // unmatched: no effect
    EXPECT_TRUE(button->tap());
    application->beginIgnoringInteractionEvents();
    application->beginIgnoringInteractionEvents();
    EXPECT_FALSE(button->tap());
    application->endIgnoringInteractionEvents();
    EXPECT_TRUE(application->isIgnoringInteractionEvents());
    EXPECT_FALSE(button->tap());
    application->endIgnoringInteractionEvents();
    EXPECT_FALSE(application->isIgnoringInteractionEvents());
    EXPECT_TRUE(button->tap());
    EXPECT_EQ(taps, 2);
}

}  // namespace
