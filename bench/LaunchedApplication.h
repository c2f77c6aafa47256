#pragma once
// The application launched in this process for a whole-job benchmark, as it runs on the phone:
// a fresh home under the temporary folder, the device settings of the environment (so
// TILVEX_CAMERA picks the camera), the recording screen in the window and the screen refresh
// running. Main thread only; one per process.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/AppClasses.h"
#include "app/Classes/TilvexAppDelegate.h"
#include "app/Classes/TilvexViewController.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIWindow.h"

struct LaunchedApplication {
    std::string home;
    DeviceSettings settings;
    std::shared_ptr<UIApplication> application;
    std::shared_ptr<TilvexViewController> controller;

    // Null when the home cannot be prepared.
    static std::unique_ptr<LaunchedApplication> launch() {
        auto launched = std::make_unique<LaunchedApplication>();
        launched->home =
            (std::filesystem::temp_directory_path() / ("tilvex-bench-" + std::to_string(getpid())))
                .string();
        launched->settings = DeviceSettings::fromEnvironment();
        launched->settings.home = launched->home;
        DeviceSettings::install(launched->settings);
        if (!DeviceHome::prepare(launched->home))
            return nullptr;
        registerAppClasses();
        auto delegate = std::make_shared<TilvexAppDelegate>();
        auto window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
        launched->controller = std::make_shared<TilvexViewController>();
        launched->controller->setNibName("TilvexViewController");
        delegate->setWindow(window);
        delegate->setViewController(launched->controller);
        launched->application = UIApplication::sharedApplication();
        launched->application->setDelegate(delegate);
        launched->application->startScreenRefresh();
        launched->application->finishLaunching();
        return launched;
    }
};

// Runs the main loop for `seconds` of the clock.
inline void runFor(double seconds) {
    NSRunLoop::mainRunLoop()->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(seconds));
}
