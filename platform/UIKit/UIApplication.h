#pragma once
// The application object: its delegate, its activity and termination, the screen refresh that
// composes the key window, and the status bar and idle timer state.
//
// Termination (terminate(), or SIGINT / SIGTERM / SIGHUP once handleTerminationSignals ran): the
// delegate hears applicationWillTerminate, then UIApplicationWillTerminateNotification is posted,
// then the main loop of UIApplicationMain ends and it returns exitStatus(). It happens once; later
// calls do nothing.
//
// Threads: main thread only, except that a termination signal may arrive on any thread (it is
// handled on the main run loop); launching, activity, termination, the screen refresh, the
// status bar and touches check it (NSThread::assertMainThread). The application retains its
// delegate.

#include <atomic>
#include <memory>
#include <vector>

#include "platform/Device/Compositor.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/QuartzCore/CADisplayLink.h"
#include "platform/UIKit/UIApplicationDelegate.h"
#include "platform/UIKit/UIKeyInput.h"
#include "platform/UIKit/UINibConnectable.h"
#include "platform/UIKit/UIView.h"

inline constexpr const char* UIApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillTerminateNotification =
    "UIApplicationWillTerminateNotification";

enum UIStatusBarStyle {
    UIStatusBarStyleDefault = 0,
    UIStatusBarStyleBlackTranslucent = 1,
    UIStatusBarStyleBlackOpaque = 2,
};

class UIApplication : public NSObject, public UINibConnectable {
  public:
    // The process's application, made on first use. (Tests may make applications of their own.)
    static std::shared_ptr<UIApplication> sharedApplication();
    UIApplication() = default;
    ~UIApplication() override;

    std::shared_ptr<UIApplicationDelegate> delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // The outlet "delegate".
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override;

    // Sends applicationDidFinishLaunching to the delegate.
    void finishLaunching();
    // The application leaves the foreground (a call, the lock button): the delegate hears
    // applicationWillResignActive, then UIApplicationWillResignActiveNotification is posted.
    void resignActive();
    // The application is back in the foreground: the delegate hears applicationDidBecomeActive,
    // then UIApplicationDidBecomeActiveNotification is posted. What resigning stopped stays
    // stopped.
    void becomeActive();
    // The termination sequence above.
    void terminate();
    bool isTerminated() const { return terminated_; }
    // What UIApplicationMain returns (0 unless set).
    int exitStatus() const { return exitStatus_; }
    void setExitStatus(int status) { exitStatus_ = status; }

    // Makes SIGINT, SIGTERM and SIGHUP run `terminate` on the main run loop (through a self-pipe);
    // the signal also makes an opening of the camera or microphone under way, or to come, give up
    // at once (MediaInput::abandonOpening), so a launch that waits for a device goes on to the run
    // loop.
    void handleTerminationSignals();
    // Runs refreshScreenIfNeeded at every display refresh on the main run loop, until stopped.
    void startScreenRefresh();
    void stopScreenRefresh();
    // Composes the screen where something on it changed since the last composition: a view was
    // marked (UIView::setNeedsDisplay, which animations keep doing while they run), a camera
    // preview drawn has a new picture, the status bar fades or its clock shows another minute.
    // Nothing while the application is not active (its screen is off), until it becomes active
    // again. True when it composed. A still screen costs a few checks.
    bool refreshScreenIfNeeded();
    // Composes the screen now: the key window, the status bar, then the sheets and alerts on
    // screen.
    void refreshScreen();

    // The model state changes at once; animated, the screen fades the bar in or out over
    // kStatusBarFadeDuration.
    static constexpr double kStatusBarFadeDuration = 0.3;
    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden, bool animated);
    // How opaque the screen shows the status bar now: 0 hidden, 1 shown, between while fading.
    double statusBarOpacity() const;
    UIStatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(UIStatusBarStyle style, bool animated);
    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }

    // A person's finger at `point` of the screen (points); the screen is marked as changed by
    // it, as by typing. A touch that begins goes to the
    // topmost alert on screen, else to the topmost action sheet, else to the view under the
    // point in the key window (UIView::hitTest, then up its superviews to the first that takes
    // it); its moves and its end go to the same view. A touch that begins while the application
    // ignores interaction events, or while a view controller's transition runs
    // (UIViewController::isTransitionRunning), goes nowhere.
    void sendTouch(UITouchPhase phase, CGPoint point);

    // A person's typing. It goes to keyInput(), the view that takes typing; with none, it goes
    // nowhere. sendPaste inserts the text of the general pasteboard (UIPasteboard::string).
    void sendText(const std::string& text);
    void sendBackspace();
    void sendTab(bool backwards);
    void sendPaste();
    // The view that takes typing: the topmost presented or added view of the key window, or one
    // inside it, that is a UIKeyInput accepting typing and is visible on screen. Null while an
    // alert or an action sheet is up, or while the application ignores interaction events.
    UIKeyInput* keyInput() const;

    // Touches are ignored from a begin until its matching end (the calls nest). While ignoring,
    // a person's taps and presses (UIControl::tap, sheet and composer buttons) are refused.
    // Safe from any thread.
    void beginIgnoringInteractionEvents() {
        ignoringInteraction_.fetch_add(1);
        UIView::setScreenNeedsDisplay();
    }
    // An end without a begin does nothing.
    void endIgnoringInteractionEvents();
    bool isIgnoringInteractionEvents() const { return ignoringInteraction_.load() > 0; }

    // Objects that live as long as the application (the main interface file's).
    void keepAlive(std::vector<std::shared_ptr<NSObject>> objects);
    // Set by UIApplicationMain while its main loop runs; termination ends that loop.
    void setRunsMainLoop(bool runs) { runsMainLoop_ = runs; }

  private:
    void readSignalPipe();

    std::shared_ptr<UIApplicationDelegate> delegate_;
    std::vector<std::shared_ptr<NSObject>> keptAlive_;
    std::unique_ptr<Compositor> compositor_;
    std::shared_ptr<CADisplayLink> refresh_;
    NSRunLoop::FileDescriptorSource signalSource_;
    bool active_ = true;  // between resignActive and becomeActive: false
    bool terminated_ = false;
    bool runsMainLoop_ = false;
    int exitStatus_ = 0;
    bool statusBarHidden_ = false;
    double statusBarFadeFrom_ = 1;
    double statusBarFadeStart_ = 0;
    bool statusBarFading_ = false;
    UIStatusBarStyle statusBarStyle_ = UIStatusBarStyleDefault;
    bool idleTimerDisabled_ = false;
    long shownMinute_ = -1;  // the status bar's clock in the last composition
    std::atomic<int> ignoringInteraction_{0};
    std::weak_ptr<UIView> touched_;  // the view of the touch under way
};
