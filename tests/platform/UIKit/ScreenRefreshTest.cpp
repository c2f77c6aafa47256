// The screen refresh composes the screen only when something on it changed.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "platform/Device/Screen.h"
#include "platform/UIKit/UIActivityIndicatorView.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/support/RunLoopTesting.h"

namespace {

// A visible key window with a label and a button, composed once.
class ScreenRefreshTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window->makeKeyAndVisible();
        label->setText("Recording");
        window->addSubview(label);
        button->setFrame(CGRectMake(20, 400, 130, 40));
        button->setTitle("Record", UIControlStateNormal);
        window->addSubview(button);
        application->refreshScreen();
    }
    void TearDown() override {
        for (auto alert = UIAlertView::topAlert(); alert; alert = UIAlertView::topAlert())
            alert->dismissWithClickedButtonIndex(0, false);
    }
    // The refresh composed a new picture.
    bool composes() {
        CGImageRef before = Screen::mainScreen().lastComposed();
        const bool composed = application->refreshScreenIfNeeded();
        EXPECT_EQ(composed, Screen::mainScreen().lastComposed() != before);
        return composed;
    }
    // No more compositions after at most one (for what lays itself out as it draws).
    bool settles() { return !composes() || !composes(); }

    ManualClockScope time;
    std::shared_ptr<UIApplication> application = UIApplication::sharedApplication();
    std::shared_ptr<UIWindow> window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UILabel> label = UILabel::initWithFrame(CGRectMake(20, 100, 200, 30));
    std::shared_ptr<UIButton> button = UIButton::buttonWithType(UIButtonTypeRoundedRect);
};

TEST_F(ScreenRefreshTest, AStillScreenIsNotComposedAgain) {
    EXPECT_FALSE(composes());
    time.advance(0.5);
    EXPECT_FALSE(composes());
}

TEST_F(ScreenRefreshTest, EachChangeOnScreenComposesItOnceAndTheSameValueNothing) {
    struct Case {
        std::string what;
        std::function<void()> change;
        bool composes;
    };
    const std::vector<Case> cases = {
        {"a label's new text", [&] { label->setText("Stop"); }, true},
        {"a label's same text", [&] { label->setText("Stop"); }, false},
        {"a frame", [&] { label->setFrame(CGRectMake(20, 110, 200, 30)); }, true},
        {"the same frame", [&] { label->setFrame(CGRectMake(20, 110, 200, 30)); }, false},
        {"hidden", [&] { label->setHidden(true); }, true},
        {"hidden again", [&] { label->setHidden(true); }, false},
        {"a background colour", [&] { window->setBackgroundColor(UIColor::whiteColor()); }, true},
        {"a button's title", [&] { button->setTitle("Stop", UIControlStateNormal); }, true},
        {"a button disabled", [&] { button->setEnabled(false); }, true},
        {"a subview added", [&] { window->addSubview(UILabel::initWithFrame({})); }, true},
        {"a subview removed", [&] { label->removeFromSuperview(); }, true},
        {"the status bar's style",
         [&] { application->setStatusBarStyle(UIStatusBarStyleBlackOpaque, false); }, true},
        {"an alert shown", [&] { UIAlertView::initWithTitle("Error", "", {}, "OK", {})->show(); },
         true},
        {"a finger",
         [&] {
             application->sendTouch(UITouchPhaseBegan, {5, 5});
             application->sendTouch(UITouchPhaseEnded, {5, 5});
         },
         true},
    };
    for (const Case& c : cases) {
        c.change();
        EXPECT_EQ(composes(), c.composes) << c.what;
        EXPECT_TRUE(settles()) << "after " << c.what;
    }
    application->setStatusBarStyle(UIStatusBarStyleDefault, false);
}

TEST_F(ScreenRefreshTest, AnAnimationComposesAtEachRefreshUntilItEnds) {
    UIView::beginAnimations("fade");
    UIView::setAnimationDuration(0.3);
    label->setAlpha(0);
    UIView::commitAnimations();
    for (int refresh = 0; refresh < 10; ++refresh, time.advance(1.0 / 60))
        EXPECT_TRUE(composes()) << refresh;
    time.advance(0.2);
    EXPECT_TRUE(composes()) << "the end of the fade";
    EXPECT_FALSE(composes());
    label->setAlpha(1);

    auto spinner =
        UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyleWhite);
    window->addSubview(spinner);
    spinner->startAnimating();
    for (int refresh = 0; refresh < 5; ++refresh, time.advance(1.0 / 60))
        EXPECT_TRUE(composes()) << refresh;
    spinner->stopAnimating();
    EXPECT_TRUE(composes());
    EXPECT_FALSE(composes());
}

TEST_F(ScreenRefreshTest, TheStatusBarClockComposesWhenItsMinuteChanges) {
    time.clock().set(std::floor(time.clock().now() / 60) * 60 + 1);
    application->refreshScreen();
    time.advance(58);
    EXPECT_FALSE(composes());
    time.advance(1);
    EXPECT_TRUE(composes());
    application->setStatusBarHidden(true, false);
    EXPECT_TRUE(composes());
    time.advance(60);
    EXPECT_FALSE(composes());
    application->setStatusBarHidden(false, false);
}

TEST_F(ScreenRefreshTest, NothingIsComposedWhileTheScreenIsOffAndTheChangesShowOnItsReturn) {
    application->resignActive();
    label->setText("Stored");
    time.advance(120);
    EXPECT_FALSE(composes());
    application->becomeActive();
    EXPECT_TRUE(composes());
    EXPECT_TRUE(settles());
}

TEST_F(ScreenRefreshTest, APressedButtonIsDrawnDarkerUntilTheFingerLeavesIt) {
    auto pixelAt = [](int x, int y) {
        CGImageRef picture = Screen::mainScreen().lastComposed();
        return *reinterpret_cast<const uint32_t*>(picture->data() + y * picture->bytesPerRow() +
                                                  x * 4);
    };
    const uint32_t normal = pixelAt(25, 405);
    application->sendTouch(UITouchPhaseBegan, {25, 405});
    EXPECT_TRUE(button->isHighlighted());
    EXPECT_TRUE(composes());
    const uint32_t pressed = pixelAt(25, 405);
    EXPECT_NE(pressed, normal);
    EXPECT_LT(pressed & 0xff, normal & 0xff);
    application->sendTouch(UITouchPhaseMoved, {25, 300});
    EXPECT_TRUE(composes());
    EXPECT_EQ(pixelAt(25, 405), normal);
    application->sendTouch(UITouchPhaseMoved, {25, 405});
    EXPECT_TRUE(composes());
    EXPECT_EQ(pixelAt(25, 405), pressed);
    application->sendTouch(UITouchPhaseEnded, {25, 300});
    EXPECT_TRUE(composes());
    EXPECT_EQ(pixelAt(25, 405), normal);
}

}  // namespace
