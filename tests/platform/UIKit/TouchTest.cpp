// A person's finger on the screen: which view a touch reaches, and what the controls, bars,
// alerts and sheets make of it.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/UIKit/UIActionSheet.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UIToolbar.h"
#include "platform/UIKit/UIViewController.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/support/RunLoopTesting.h"

namespace {

// Writes the events of the controls it listens to into a log, as "name event".
class Listener : public NSObject, public UIAlertViewDelegate, public UIActionSheetDelegate {
  public:
    void listen(const std::shared_ptr<UIControl>& control, const std::string& name) {
        std::weak_ptr<UIControl> weak = control;
        auto log = [this, name, weak](const std::string& event) {
            return [this, name, weak, event] {
                std::string entry = name + " " + event;
                if (auto slider = std::dynamic_pointer_cast<UISlider>(weak.lock()))
                    entry += " " + std::to_string(static_cast<int>(slider->value() * 100));
                events.push_back(entry);
            };
        };
        auto self = retained(this);
        control->addTarget(self, log("down"), UIControlEventTouchDown);
        control->addTarget(self, log("upInside"), UIControlEventTouchUpInside);
        control->addTarget(self, log("upOutside"), UIControlEventTouchUpOutside);
        control->addTarget(self, log("changed"), UIControlEventValueChanged);
    }
    void alertViewClickedButtonAtIndex(UIAlertView*, int index) override {
        events.push_back("alert " + std::to_string(index));
    }
    void actionSheetClickedButtonAtIndex(UIActionSheet*, int index) override {
        events.push_back("sheet " + std::to_string(index));
    }
    void pressed() { events.push_back("item"); }
    std::vector<std::string> events;
};

// A visible key window with a button at (20, 400, 130, 40) and a log of what it hears.
class TouchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window->makeKeyAndVisible();
        button->setFrame(CGRectMake(20, 400, 130, 40));
        window->addSubview(button);
        listener->listen(button, "button");
    }
    void TearDown() override {
        for (auto alert = UIAlertView::topAlert(); alert; alert = UIAlertView::topAlert())
            alert->dismissWithClickedButtonIndex(0, false);
        for (auto sheet = UIActionSheet::topSheet(); sheet; sheet = UIActionSheet::topSheet())
            sheet->dismissWithClickedButtonIndex(0, false);
        while (application->isIgnoringInteractionEvents())
            application->endIgnoringInteractionEvents();
    }
    void touch(CGPoint from, CGPoint to) {
        application->sendTouch(UITouchPhaseBegan, from);
        application->sendTouch(UITouchPhaseMoved, CGPointMake((from.x + to.x) / 2, to.y));
        application->sendTouch(UITouchPhaseMoved, to);
        application->sendTouch(UITouchPhaseEnded, to);
    }
    void tap(CGPoint at) { touch(at, at); }

    std::shared_ptr<UIApplication> application = UIApplication::sharedApplication();
    std::shared_ptr<UIWindow> window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UIButton> button = UIButton::buttonWithType(UIButtonTypeRoundedRect);
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
};

TEST_F(TouchTest, AButtonHearsDownThenUpInsideOrOutsideWhereTheFingerLifts) {
    struct Case {
        const char* what;
        CGPoint from, to;
        bool enabled;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"a tap", {85, 420}, {85, 420}, true, {"button down", "button upInside"}},
        {"lifted elsewhere", {85, 420}, {200, 300}, true, {"button down", "button upOutside"}},
        {"back inside", {30, 410}, {140, 430}, true, {"button down", "button upInside"}},
        {"begun beside it", {200, 420}, {85, 420}, true, {}},
        {"disabled", {85, 420}, {85, 420}, false, {}},
    };
    for (const Case& c : cases) {
        listener->events.clear();
        button->setEnabled(c.enabled);
        touch(c.from, c.to);
        EXPECT_EQ(listener->events, c.events) << c.what;
        EXPECT_FALSE(button->isHighlighted()) << c.what;
    }
}

TEST_F(TouchTest, ATouchGoesThroughHiddenFadedAndNonInteractiveViewsOnly) {
    struct Case {
        const char* cover;
        std::vector<std::string> events;
    };
    for (const Case& c : {Case{"hidden", {"button down", "button upInside"}},
                          Case{"alpha 0", {"button down", "button upInside"}},
                          Case{"label", {"button down", "button upInside"}}, Case{"plain view", {}},
                          Case{"faded button", {"cover down", "cover upInside"}}}) {
        std::shared_ptr<UIView> cover = std::make_shared<UIView>();
        const std::string kind = c.cover;
        if (kind == "label")
            cover = std::make_shared<UILabel>();
        if (kind == "faded button") {
            auto other = UIButton::buttonWithType(UIButtonTypeCustom);
            listener->listen(other, "cover");
            other->setAlpha(0.1);
            cover = other;
        }
        cover->setHidden(kind == "hidden");
        if (kind == "alpha 0")
            cover->setAlpha(0);
        cover->setFrame(CGRectMake(0, 380, 320, 100));
        window->addSubview(cover);
        listener->events.clear();
        tap({85, 420});
        EXPECT_EQ(listener->events, c.events) << c.cover;
        cover->removeFromSuperview();
    }
}

TEST_F(TouchTest, ASubviewThatDeclinesPassesTheTouchToItsSuperview) {
    // A label on the button: the touch reaches the button through it, in the button's
    // coordinates.
    auto label = UILabel::initWithFrame(CGRectMake(0, 0, 130, 40));
    label->setUserInteractionEnabled(true);
    button->addSubview(label);
    tap({149, 439});
    EXPECT_EQ(listener->events, (std::vector<std::string>{"button down", "button upInside"}));
}

TEST_F(TouchTest, ASliderFollowsTheFingerAndEndsInsideOrOutside) {
    // 20-point thumb: its centre runs from x 10 to x 210 of the slider, 30 to 230 on screen.
    auto slider = std::make_shared<UISlider>();
    slider->setFrame(CGRectMake(20, 100, 220, 23));
    slider->setMaximumValue(10);
    window->addSubview(slider);
    listener->listen(slider, "slider");
    touch({30, 110}, {130, 112});
    EXPECT_EQ(listener->events,
              (std::vector<std::string>{"slider down 0", "slider changed 250", "slider changed 500",
                                        "slider upInside 500"}));
    listener->events.clear();
    // Beyond the end the value stays at the maximum; lifted far below, the touch ends outside.
    touch({130, 110}, {400, 300});
    EXPECT_EQ(listener->events,
              (std::vector<std::string>{"slider down 500", "slider changed 1000",
                                        "slider changed 1000", "slider upOutside 1000"}));
    EXPECT_FALSE(slider->isTracking());
}

TEST_F(TouchTest, AToolbarItemIsPressedWhenTheTouchEndsOnIt) {
    auto bar = std::make_shared<UIToolbar>();
    bar->setFrame(CGRectMake(0, 0, 320, 44));
    auto space = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemFixedSpace,
                                                              listener, &Listener::pressed);
    space->setWidth(100);
    auto play = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemPlay, listener,
                                                             &Listener::pressed);
    bar->setItems({space, play});
    window->addSubview(bar);
    // The play item lies after the space and the gap: x 116 to 160.
    tap({50, 22});
    EXPECT_TRUE(listener->events.empty());
    touch({130, 22}, {250, 22});
    EXPECT_TRUE(listener->events.empty());
    tap({130, 22});
    EXPECT_EQ(listener->events, (std::vector<std::string>{"item"}));
}

TEST_F(TouchTest, AnAlertOrASheetOnScreenTakesEveryTouch) {
    auto alert = UIAlertView::initWithTitle("Error", "Gone", listener, "OK", {"Retry"});
    alert->show();
    application->refreshScreen();  // lays it out where it is drawn
    const CGRect box = alert->frame();
    // The button rows are the box's last 2 x 44 points, above a 6-point margin.
    const double okY = box.origin.y + box.size.height - 6 - 88 + 22;
    tap({85, 420});                 // the button under the alert
    tap({160, box.origin.y + 10});  // the alert's title
    EXPECT_TRUE(listener->events.empty());
    tap({160, okY + 44});
    EXPECT_EQ(listener->events, (std::vector<std::string>{"alert 1"}));
    EXPECT_FALSE(alert->isVisible());

    auto sheet = UIActionSheet::initWithTitle("", listener, "Cancel", "", {"Email", "Save"});
    sheet->showFromToolbar(nullptr);
    application->refreshScreen();
    listener->events.clear();
    // Rows of 52 points from the sheet's top margin of 16; the cancel row 10 points apart.
    const double top = sheet->frame().origin.y + 16;
    touch({160, top + 26}, {160, top + 52 + 26});  // begun on Email, lifted on Save
    tap({85, 100});                                // above the sheet
    EXPECT_TRUE(listener->events.empty());
    tap({160, top + 52 + 26});
    EXPECT_EQ(listener->events, (std::vector<std::string>{"sheet 1"}));
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(TouchTest, NoTouchBeginsWhileTheApplicationIgnoresInteraction) {
    application->beginIgnoringInteractionEvents();
    tap({85, 420});
    application->endIgnoringInteractionEvents();
    EXPECT_TRUE(listener->events.empty());
    // A touch under way when the ignoring ends stays ignored to its end.
    application->beginIgnoringInteractionEvents();
    application->sendTouch(UITouchPhaseBegan, {85, 420});
    application->endIgnoringInteractionEvents();
    application->sendTouch(UITouchPhaseEnded, {85, 420});
    EXPECT_TRUE(listener->events.empty());
    tap({85, 420});
    EXPECT_EQ(listener->events, (std::vector<std::string>{"button down", "button upInside"}));
}

TEST_F(TouchTest, NoTouchBeginsWhileAControllerIsPresentedOrDismissedWithAnimation) {
    ManualClockScope time;
    auto presenter = std::make_shared<UIViewController>();
    window->addSubview(presenter->view());
    window->addSubview(button);
    auto shown = std::make_shared<UIViewController>();
    auto shownButton = UIButton::buttonWithType(UIButtonTypeRoundedRect);
    shownButton->setFrame(button->frame());
    shown->view()->addSubview(shownButton);
    listener->listen(shownButton, "shown");
    const std::vector<std::string> taken = {"shown down", "shown upInside"};

    // The second click of a double-click on the button lands while the new screen comes in.
    tap({85, 420});
    presenter->presentModalViewController(shown, true);
    listener->events.clear();
    tap({85, 420});
    time.advance(UIViewController::kTransitionDuration / 2);
    tap({85, 420});
    EXPECT_TRUE(listener->events.empty());
    time.advance(UIViewController::kTransitionDuration / 2);
    tap({85, 420});
    EXPECT_EQ(listener->events, taken);

    listener->events.clear();
    presenter->dismissModalViewControllerAnimated(true);
    tap({85, 420});
    EXPECT_TRUE(listener->events.empty());
    time.advance(UIViewController::kTransitionDuration);
    tap({85, 420});
    EXPECT_EQ(listener->events, (std::vector<std::string>{"button down", "button upInside"}));

    // Without animation the screen is there at once; the automation's taps are no touches.
    presenter->presentModalViewController(shown, false);
    listener->events.clear();
    tap({85, 420});
    EXPECT_EQ(listener->events, taken);
    presenter->dismissModalViewControllerAnimated(true);
    presenter->presentModalViewController(shown, true);
    listener->events.clear();
    EXPECT_TRUE(shownButton->tap());
    EXPECT_EQ(listener->events, taken);
}

TEST_F(TouchTest, ATouchAtAnyMomentOfAnAnimatedTransitionGoesNowhere) {
    ManualClockScope time;
    auto presenter = std::make_shared<UIViewController>();
    window->addSubview(presenter->view());
    window->addSubview(button);
    auto shown = std::make_shared<UIViewController>();
    // Each leaves the button uncovered with the transition's time running from now.
    const std::vector<std::pair<const char*, std::function<void()>>> transitions = {
        {"presented",
         [&] {
             presenter->presentModalViewController(shown, true);
             presenter->dismissModalViewControllerAnimated(false);
         }},
        {"dismissed",
         [&] {
             presenter->presentModalViewController(shown, false);
             presenter->dismissModalViewControllerAnimated(true);
         }},
    };
    for (const auto& [what, transition] : transitions) {
        for (double share : {0.0, 0.25, 0.5, 0.75, 0.99, 1.01, 1.5}) {
            transition();
            time.advance(UIViewController::kTransitionDuration * share);
            listener->events.clear();
            tap({85, 420});
            EXPECT_EQ(listener->events.empty(), share < 1)
                << what << ", " << share << " of the transition passed";
            time.advance(UIViewController::kTransitionDuration);
        }
    }
}

// A transition is timed on the monotonic clock: a step of the wall clock (either way) in the
// middle of one neither ends it nor holds it past its length.
TEST_F(TouchTest, AStepOfTheWallClockNeitherEndsNorProlongsATransition) {
    ManualClockScope time;
    auto presenter = std::make_shared<UIViewController>();
    window->addSubview(presenter->view());
    window->addSubview(button);
    auto shown = std::make_shared<UIViewController>();
    for (double step : {-3600.0, 3600.0}) {
        presenter->presentModalViewController(shown, true);
        presenter->dismissModalViewControllerAnimated(false);
        time.clock().stepWall(step);
        listener->events.clear();
        tap({85, 420});
        EXPECT_TRUE(listener->events.empty()) << "wall clock stepped by " << step;
        time.advance(UIViewController::kTransitionDuration);
        tap({85, 420});
        EXPECT_FALSE(listener->events.empty()) << "wall clock stepped by " << step;
    }
}

}  // namespace
