#include "platform/Automation/AutomationDriver.h"

#include <gtest/gtest.h>

#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UIWindow.h"

namespace {

// A key window with two buttons: "enabled", whose taps are counted, and "disabled".
class AutomationDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
        for (const char* name : {"enabled", "disabled"}) {
            auto button = UIButton::buttonWithType(UIButtonTypeRoundedRect);
            button->setFrame(CGRectMake(10, 10, 100, 40));
            button->setName(name);
            button->addTarget(
                target_, [this] { ++taps_; }, UIControlEventTouchUpInside);
            window_->addSubview(button);
        }
        std::dynamic_pointer_cast<UIButton>(window_->viewWithName("disabled"))->setEnabled(false);
        window_->makeKeyAndVisible();
    }

    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<NSObject> target_ = std::make_shared<NSObject>();
    int taps_ = 0;
    AutomationDriver driver_{std::make_shared<UIApplication>()};
};

TEST_F(AutomationDriverTest, ATapIsTrueOnlyWhenTheControlTookIt) {
    struct Case {
        const char* name;
        bool taken;
        const char* failure;
    };
    const Case cases[] = {
        {"enabled", true, ""},
        {"disabled", false, "expected disabled to take a tap, found it disabled"},
        {"missing", false, "expected a control or bar item missing on screen, found none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = taps_;
        const AutomationResult result = driver_.tap(c.name);
        EXPECT_EQ(static_cast<bool>(result), c.taken);
        EXPECT_EQ(result.failure(), c.failure);
        EXPECT_EQ(taps_ - before, c.taken ? 1 : 0);
    }
}

}  // namespace
