#include "platform/UIKit/UINavigationController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/support/RunLoopTesting.h"

namespace {

// Writes what happens to it into a shared log.
class LoggingController : public UIViewController {
  public:
    LoggingController(std::string name, std::vector<std::string>* log)
        : name_(std::move(name)), log_(log) {}
    void viewDidLoad() override { log_->push_back(name_ + " didLoad"); }
    void viewWillAppear(bool) override { log_->push_back(name_ + " willAppear"); }
    void viewDidAppear(bool) override { log_->push_back(name_ + " didAppear"); }
    void viewWillDisappear(bool) override { log_->push_back(name_ + " willDisappear"); }
    void viewDidDisappear(bool) override { log_->push_back(name_ + " didDisappear"); }
    void done() { log_->push_back(name_ + " done"); }

  private:
    std::string name_;
    std::vector<std::string>* log_;
};

// A navigation controller presented on a visible window, with a root controller; time stands
// still, so that an animated transition of one test never reaches into the next.
class NavigationControllerTest : public ::testing::Test {
  protected:
    ManualClockScope time;
    void SetUp() override {
        window->makeKeyAndVisible();
        window->addSubview(presenter->view());
        root->setTitle("Videos");
        navigation = UINavigationController::initWithRootViewController(root);
        presenter->presentModalViewController(navigation, false);
        log.clear();
    }
    std::shared_ptr<LoggingController> make(const std::string& name) {
        return std::make_shared<LoggingController>(name, &log);
    }

    std::vector<std::string> log;
    std::shared_ptr<UIWindow> window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UIViewController> presenter = std::make_shared<UIViewController>();
    std::shared_ptr<LoggingController> root = make("root");
    std::shared_ptr<UINavigationController> navigation;
};

TEST_F(NavigationControllerTest, PushLoadsTheViewFirstThenSwapsWithAppearanceMessages) {
    auto pushed = make("player");
    navigation->pushViewController(pushed, true);
    EXPECT_EQ(log,
              (std::vector<std::string>{"player didLoad", "root willDisappear", "player willAppear",
                                        "root didDisappear", "player didAppear"}));
    EXPECT_EQ(navigation->topViewController(), pushed);
    EXPECT_EQ(pushed->navigationController(), navigation);
    EXPECT_EQ(pushed->view()->superview(), navigation->view());
    EXPECT_EQ(root->view()->superview(), nullptr);
    // The bar stays on top of the pushed view.
    EXPECT_EQ(navigation->view()->subviews().back(), navigation->navigationBar());
}

TEST_F(NavigationControllerTest, BackButtonPopsAndTheCallerDecidesTheLifetime) {
    std::weak_ptr<LoggingController> weak;
    {
        auto pushed = make("player");
        pushed->setTitle("2010/03/07 14:05");
        navigation->pushViewController(pushed, true);
        weak = pushed;
    }
    auto bar = navigation->navigationBar();
    ASSERT_TRUE(bar->showsBackButton());
    EXPECT_EQ(bar->topItem()->title(), "2010/03/07 14:05");
    EXPECT_EQ(bar->backItem()->title(), "Videos");
    log.clear();
    EXPECT_TRUE(bar->pressBackButton());
    EXPECT_EQ(log, (std::vector<std::string>{"player willDisappear", "root willAppear",
                                             "player didDisappear", "root didAppear"}));
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(navigation->topViewController(), root);
    // Only the root is left: no back button.
    EXPECT_FALSE(bar->showsBackButton());
    EXPECT_FALSE(bar->pressBackButton());
}

TEST_F(NavigationControllerTest, AHiddenBarTakesNoPress) {
    auto pushed = make("player");
    auto done = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemDone, pushed,
                                                             &LoggingController::done);
    pushed->navigationItem()->setRightBarButtonItem(done);
    navigation->pushViewController(pushed, false);
    auto bar = navigation->navigationBar();
    bar->setAlpha(0);
    log.clear();
    EXPECT_FALSE(bar->pressBackButton());
    EXPECT_FALSE(bar->pressItemNamed("done"));
    bar->setAlpha(1);
    EXPECT_TRUE(bar->pressItemNamed("done"));
    EXPECT_FALSE(bar->pressItemNamed("edit"));
    EXPECT_EQ(log, (std::vector<std::string>{"player done"}));
}

TEST_F(NavigationControllerTest, AFingerPressesTheBarsButtonsWhereTheyAreDrawn) {
    auto pushed = make("player");
    auto done = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemDone, pushed,
                                                             &LoggingController::done);
    pushed->navigationItem()->setRightBarButtonItem(done);
    navigation->pushViewController(pushed, false);
    auto application = UIApplication::sharedApplication();
    auto touch = [&](CGPoint from, CGPoint to) {
        application->sendTouch(UITouchPhaseBegan, from);
        application->sendTouch(UITouchPhaseMoved, to);
        application->sendTouch(UITouchPhaseEnded, to);
    };
    log.clear();
    // The bar lies at y 20 to 64 of the screen: Done at its right end, the back button
    // ("Videos") at its left, the title between.
    touch({300, 42}, {300, 42});
    touch({160, 42}, {160, 42});
    touch({20, 42}, {160, 42});    // begun on the back button, lifted on the title
    touch({300, 42}, {300, 100});  // lifted below the bar
    EXPECT_EQ(log, (std::vector<std::string>{"player done"}));
    touch({20, 42}, {22, 44});
    EXPECT_EQ(navigation->topViewController(), root);
    EXPECT_EQ(log,
              (std::vector<std::string>{"player done", "player willDisappear", "root willAppear",
                                        "player didDisappear", "root didAppear"}));
}

TEST_F(NavigationControllerTest, DismissingTellsTheTopControllerOnly) {
    navigation->pushViewController(make("player"), false);
    log.clear();
    presenter->dismissModalViewControllerAnimated(true);
    EXPECT_EQ(log, (std::vector<std::string>{"player willDisappear", "player didDisappear"}));
}

TEST_F(NavigationControllerTest, LayoutFollowsFullScreenWishAndBarTranslucency) {
    struct Case {
        bool fullScreen;
        UIBarStyle style;
        double top;
    };
    for (const Case& c :
         {Case{true, UIBarStyleBlackTranslucent, 0}, Case{false, UIBarStyleBlackTranslucent, 20},
          Case{true, UIBarStyleDefault, 64}, Case{false, UIBarStyleBlack, 64}}) {
        navigation->navigationBar()->setBarStyle(c.style);
        auto pushed = make("player");
        pushed->setWantsFullScreenLayout(c.fullScreen);
        navigation->pushViewController(pushed, false);
        EXPECT_EQ(pushed->view()->frame(), CGRectMake(0, c.top, 320, 480 - c.top))
            << c.fullScreen << " " << c.style;
        navigation->popViewControllerAnimated(false);
    }
}

TEST(EditButtonItemTest, TogglesEditModeAndItsTitle) {
    auto controller = std::make_shared<UIViewController>();
    auto edit = controller->editButtonItem();
    EXPECT_EQ(edit, controller->editButtonItem());
    EXPECT_EQ(edit->name(), "edit");
    EXPECT_EQ(edit->title(), "Edit");
    EXPECT_TRUE(edit->press());
    EXPECT_TRUE(controller->isEditing());
    EXPECT_EQ(edit->title(), "Done");
    EXPECT_EQ(edit->name(), "edit");
    EXPECT_TRUE(edit->press());
    EXPECT_FALSE(controller->isEditing());
    EXPECT_EQ(edit->title(), "Edit");
}

TEST(BarButtonItemTest, NamesAndPressRules) {
    auto target = std::make_shared<LoggingController>("target", nullptr);
    int pressed = 0;
    auto make = [&](UIBarButtonSystemItem kind) {
        return UIBarButtonItem::initWithBarButtonSystemItem(kind, target, [&] { ++pressed; });
    };
    EXPECT_EQ(make(UIBarButtonSystemItemDone)->name(), "done");
    EXPECT_EQ(make(UIBarButtonSystemItemDone)->title(), "Done");
    EXPECT_EQ(make(UIBarButtonSystemItemFixedSpace)->name(), "fixedSpace");
    EXPECT_FALSE(make(UIBarButtonSystemItemFixedSpace)->press());
    auto disabled = make(UIBarButtonSystemItemPlay);
    disabled->setEnabled(false);
    EXPECT_FALSE(disabled->press());
    auto orphan = make(UIBarButtonSystemItemPause);
    target.reset();
    EXPECT_FALSE(orphan->press());
    EXPECT_EQ(pressed, 0);
}

TEST(NavigationItemTest, FollowsTheControllersTitle) {
    auto controller = std::make_shared<UIViewController>();
    controller->setTitle("Videos");
    auto item = controller->navigationItem();
    EXPECT_EQ(item->title(), "Videos");
    controller->setTitle("2010/03/07 14:05");
    EXPECT_EQ(item->title(), "2010/03/07 14:05");
}

}  // namespace
