#pragma once
// The application's main loop. Loads the main interface file that Info.plist's NSMainNibFile
// names, with the shared application as its owner (the file connects the application's
// "delegate" outlet and the delegate's own outlets; its top-level objects live as long as the
// application), handles SIGINT and SIGTERM, starts the screen refresh, sends the delegate
// applicationDidFinishLaunching, runs `afterLaunch` (when given) and then the main run loop until
// the application terminates. Returns the application's exit status, or 1 when the interface
// file cannot be loaded.
//
// Threads: the main thread, once per process. The application's classes must be registered
// with UIClassRegistry before the call.

#include <functional>

class UIApplication;

int UIApplicationMain(int argc, char* argv[],
                      const std::function<void(UIApplication&)>& afterLaunch = {});
