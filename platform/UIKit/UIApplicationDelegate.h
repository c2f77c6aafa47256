#pragma once
// The application delegate's messages; each has a default that does nothing.

class UIApplication;

class UIApplicationDelegate {
  public:
    virtual ~UIApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching(UIApplication* application) { (void)application; }
    virtual void applicationWillResignActive(UIApplication* application) { (void)application; }
    virtual void applicationDidBecomeActive(UIApplication* application) { (void)application; }
    virtual void applicationWillTerminate(UIApplication* application) { (void)application; }
};
