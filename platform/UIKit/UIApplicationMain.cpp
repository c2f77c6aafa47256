#include "platform/UIKit/UIApplicationMain.h"

#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UINibLoader.h"

int UIApplicationMain(int argc, char* argv[],
                      const std::function<void(UIApplication&)>& afterLaunch) {
    (void)argc;
    (void)argv;
    auto application = UIApplication::sharedApplication();
    auto bundle = NSBundle::mainBundle();
    Value hidden = bundle->objectForInfoDictionaryKey("UIStatusBarHidden");
    if (hidden.isNumber())
        application->setStatusBarHidden(hidden.boolValue(), false);

    std::string nibName = bundle->objectForInfoDictionaryKey("NSMainNibFile").string();
    NSErrorPtr error;
    auto objects = UINibLoader::loadNibNamed(nibName, application, &error);
    if (!objects) {
        NSLog("Cannot load the main interface file: %s",
              error ? error->localizedDescription().c_str() : nibName.c_str());
        return 1;
    }
    application->keepAlive(std::move(*objects));

    application->handleTerminationSignals();
    application->startScreenRefresh();
    application->setRunsMainLoop(true);
    application->finishLaunching();
    // The first picture exists before anything can grab the screen.
    application->refreshScreen();
    if (afterLaunch)
        afterLaunch(*application);
    if (!application->isTerminated())
        NSRunLoop::mainRunLoop()->run();
    application->setRunsMainLoop(false);
    application->stopScreenRefresh();
    return application->exitStatus();
}
