#include "platform/UIKit/UIApplication.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/Device/MediaInput.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIActionSheet.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UICameraPreviewView.h"
#include "platform/UIKit/UIPasteboard.h"
#include "platform/UIKit/UIStatusBar.h"
#include "platform/UIKit/UIViewController.h"
#include "platform/UIKit/UIWindow.h"

namespace {

// The write end of the self-pipe; the signal handler only writes to it.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    int saved = errno;
    // The launch may be waiting for a camera that never answers: that wait ends now.
    MediaInput::abandonOpening();
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

std::shared_ptr<UIApplication> UIApplication::sharedApplication() {
    static std::shared_ptr<UIApplication> application = std::make_shared<UIApplication>();
    return application;
}

UIApplication::~UIApplication() {
    if (refresh_)
        refresh_->invalidate();
}

bool UIApplication::setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) {
    if (name != "delegate")
        return false;
    auto delegate = std::dynamic_pointer_cast<UIApplicationDelegate>(object);
    if (object && !delegate)
        return false;
    delegate_ = std::move(delegate);
    return true;
}

void UIApplication::finishLaunching() {
    NSThread::assertMainThread("UIApplication", __func__);
    if (auto delegate = delegate_)
        delegate->applicationDidFinishLaunching(this);
}

void UIApplication::resignActive() {
    NSThread::assertMainThread("UIApplication", __func__);
    auto self = retained(this);
    active_ = false;
    if (auto delegate = delegate_)
        delegate->applicationWillResignActive(this);
    NSNotificationCenter::defaultCenter().postNotificationName(
        UIApplicationWillResignActiveNotification, self);
}

void UIApplication::becomeActive() {
    NSThread::assertMainThread("UIApplication", __func__);
    auto self = retained(this);
    active_ = true;
    UIView::setScreenNeedsDisplay();
    if (auto delegate = delegate_)
        delegate->applicationDidBecomeActive(this);
    NSNotificationCenter::defaultCenter().postNotificationName(
        UIApplicationDidBecomeActiveNotification, self);
}

void UIApplication::terminate() {
    NSThread::assertMainThread("UIApplication", __func__);
    if (terminated_)
        return;
    terminated_ = true;
    auto self = retained(this);
    if (auto delegate = delegate_)
        delegate->applicationWillTerminate(this);
    NSNotificationCenter::defaultCenter().postNotificationName(
        UIApplicationWillTerminateNotification, self);
    if (runsMainLoop_)
        NSRunLoop::mainRunLoop()->stop();
}

void UIApplication::handleTerminationSignals() {
    if (signalSource_)
        return;
    if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call of the main thread (which the kernel picks for a signal to
    // the process) returns, so the run loop gets to the pipe.
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::weak_ptr<UIApplication> weak = retained(this);
    signalSource_ =
        NSRunLoop::mainRunLoop()->addFileDescriptor(signalPipe[0], POLLIN, [weak](short) {
            if (auto application = weak.lock())
                application->readSignalPipe();
        });
}

void UIApplication::readSignalPipe() {
    char bytes[16];
    bool signalled = false;
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) signalled = true;
    if (signalled)
        terminate();
}

void UIApplication::startScreenRefresh() {
    NSThread::assertMainThread("UIApplication", __func__);
    if (refresh_)
        return;
    std::weak_ptr<UIApplication> weak = retained(this);
    refresh_ = CADisplayLink::displayLinkWithTarget([weak](CADisplayLink&) {
        if (auto application = weak.lock())
            application->refreshScreenIfNeeded();
    });
    refresh_->addToRunLoop(NSRunLoop::mainRunLoop());
}

void UIApplication::stopScreenRefresh() {
    NSThread::assertMainThread("UIApplication", __func__);
    if (refresh_)
        refresh_->invalidate();
    refresh_.reset();
}

namespace {

long minuteNow() {
    return static_cast<long>(std::floor(Clock::current().now() / 60));
}

}  // namespace

bool UIApplication::refreshScreenIfNeeded() {
    NSThread::assertMainThread("UIApplication", __func__);
    // The phone's screen is off: what changes shows when the application is back.
    if (!active_)
        return false;
    const bool clockMoved = statusBarOpacity() > 0 && minuteNow() != shownMinute_;
    if (!UIView::takeScreenNeedsDisplay() && !UICameraPreviewView::drawnPreviewChanged() &&
        !clockMoved)
        return false;
    refreshScreen();
    return true;
}

void UIApplication::refreshScreen() {
    if (!compositor_)
        compositor_ = std::make_unique<Compositor>();
    // What is marked while drawing (a running animation) shows at the next refresh.
    UIView::takeScreenNeedsDisplay();
    UICameraPreviewView::forgetDrawnPreviews();
    shownMinute_ = minuteNow();
    if (statusBarFading_ && statusBarOpacity() != (statusBarHidden_ ? 0 : 1))
        UIView::setScreenNeedsDisplay();
    auto window = UIWindow::keyWindow();
    compositor_->compose([&](cairo_t* cr) {
        if (window)
            window->drawHierarchy(cr);
        drawStatusBar(cr, statusBarStyle_, statusBarOpacity());
        UIActionSheet::drawVisibleSheets(cr);
        UIAlertView::drawVisibleAlerts(cr);
    });
}

void UIApplication::setStatusBarHidden(bool hidden, bool animated) {
    NSThread::assertMainThread("UIApplication", __func__);
    if (hidden == statusBarHidden_)
        return;
    statusBarFading_ = animated;
    if (animated) {
        statusBarFadeFrom_ = statusBarOpacity();
        statusBarFadeStart_ = Clock::current().monotonic();
    }
    statusBarHidden_ = hidden;
    UIView::setScreenNeedsDisplay();
}

double UIApplication::statusBarOpacity() const {
    const double target = statusBarHidden_ ? 0 : 1;
    if (!statusBarFading_)
        return target;
    const double progress =
        (Clock::current().monotonic() - statusBarFadeStart_) / kStatusBarFadeDuration;
    if (progress >= 1 || progress < 0)
        return target;
    return statusBarFadeFrom_ + (target - statusBarFadeFrom_) * progress;
}

void UIApplication::setStatusBarStyle(UIStatusBarStyle style, bool animated) {
    NSThread::assertMainThread("UIApplication", __func__);
    (void)animated;
    if (style != statusBarStyle_)
        UIView::setScreenNeedsDisplay();
    statusBarStyle_ = style;
}

void UIApplication::sendTouch(UITouchPhase phase, CGPoint point) {
    NSThread::assertMainThread("UIApplication", __func__);
    UIView::setScreenNeedsDisplay();
    std::shared_ptr<UIView> view;
    if (phase == UITouchPhaseBegan) {
        touched_.reset();
        if (isIgnoringInteractionEvents() || UIViewController::isTransitionRunning())
            return;
        if (auto alert = UIAlertView::topAlert())
            view = alert;
        else if (auto sheet = UIActionSheet::topSheet())
            view = sheet;
        else if (auto window = UIWindow::keyWindow())
            view = window->hitTest(point);
    } else {
        view = touched_.lock();
    }
    for (; view; view = phase == UITouchPhaseBegan ? view->superview() : nullptr) {
        const CGPoint origin = view->frameInWindow().origin;
        const CGPoint local = CGPointMake(point.x - origin.x, point.y - origin.y);
        if (phase == UITouchPhaseMoved) {
            view->touchMoved(local);
        } else if (phase == UITouchPhaseEnded) {
            touched_.reset();
            view->touchEnded(local);
        } else if (view->touchBegan(local)) {
            touched_ = view;
            return;
        }
    }
}

namespace {

// `view` or the first of its descendants (depth first, topmost first) that takes typing.
UIKeyInput* keyInputIn(const std::shared_ptr<UIView>& view) {
    if (!view->isVisibleOnScreen())
        return nullptr;
    if (auto* input = dynamic_cast<UIKeyInput*>(view.get()); input && input->acceptsTyping())
        return input;
    const auto& subviews = view->subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
        if (auto* input = keyInputIn(*it))
            return input;
    }
    return nullptr;
}

}  // namespace

UIKeyInput* UIApplication::keyInput() const {
    NSThread::assertMainThread("UIApplication", __func__);
    if (isIgnoringInteractionEvents() || UIAlertView::topAlert() || UIActionSheet::topSheet())
        return nullptr;
    auto window = UIWindow::keyWindow();
    if (!window)
        return nullptr;
    const auto& views = window->subviews();
    for (auto it = views.rbegin(); it != views.rend(); ++it) {
        if ((*it)->isVisibleOnScreen())
            return keyInputIn(*it);
    }
    return nullptr;
}

void UIApplication::sendText(const std::string& text) {
    UIView::setScreenNeedsDisplay();
    if (auto* input = keyInput(); input && !text.empty())
        input->insertText(text);
}

void UIApplication::sendBackspace() {
    UIView::setScreenNeedsDisplay();
    if (auto* input = keyInput())
        input->deleteBackward();
}

void UIApplication::sendTab(bool backwards) {
    UIView::setScreenNeedsDisplay();
    if (auto* input = keyInput())
        input->moveToNextField(backwards);
}

void UIApplication::sendPaste() {
    sendText(UIPasteboard::generalPasteboard()->string());
}

void UIApplication::endIgnoringInteractionEvents() {
    int count = ignoringInteraction_.load();
    while (count > 0 && !ignoringInteraction_.compare_exchange_weak(count, count - 1)) {
    }
    // What takes typing shows its caret again.
    UIView::setScreenNeedsDisplay();
}

void UIApplication::keepAlive(std::vector<std::shared_ptr<NSObject>> objects) {
    keptAlive_.insert(keptAlive_.end(), objects.begin(), objects.end());
}
