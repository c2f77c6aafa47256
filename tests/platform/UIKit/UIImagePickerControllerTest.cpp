// CTest labels: threads

// The picker's camera works only while the picker shows it.

#include "platform/UIKit/UIImagePickerController.h"

#include <gtest/gtest.h>

#include "platform/Device/DeviceSettings.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIWindow.h"

namespace {

TEST(UIImagePickerControllerTest, TheCameraPausesWhileCoveredOrWhileTheScreenIsOff) {
    DeviceSettings settings = DeviceSettings::current();
    settings.camera = "lavfi:color=c=0x336699:size=32x24:rate=30";
    DeviceSettings::install(settings);
    auto window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    window->makeKeyAndVisible();
    auto root = std::make_shared<UIViewController>();
    window->addSubview(root->view());
    auto picker = UIImagePickerController::init();
    picker->setSourceType(UIImagePickerControllerSourceTypeCamera);
    root->presentModalViewController(picker, false);
    auto camera = picker->camera();
    ASSERT_NE(camera, nullptr);
    EXPECT_FALSE(camera->isPaused());

    auto album = std::make_shared<UIViewController>();
    picker->presentModalViewController(album, true);
    EXPECT_TRUE(camera->isPaused());
    picker->dismissModalViewControllerAnimated(true);
    EXPECT_FALSE(camera->isPaused());

    // The phone's screen off, then on again; covered meanwhile, it stays paused.
    auto application = UIApplication::sharedApplication();
    application->resignActive();
    EXPECT_TRUE(camera->isPaused());
    application->becomeActive();
    EXPECT_FALSE(camera->isPaused());
    picker->presentModalViewController(album, false);
    application->resignActive();
    application->becomeActive();
    EXPECT_TRUE(camera->isPaused());
    picker->dismissModalViewControllerAnimated(false);
    EXPECT_FALSE(camera->isPaused());

    root->dismissModalViewControllerAnimated(false);
    DeviceSettings::uninstall();
}

}  // namespace
