#include "platform/UIKit/UIViewController.h"

#include "platform/Device/Screen.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UINavigationItem.h"
#include "platform/UIKit/UINibLoader.h"
#include "platform/UIKit/UIWindow.h"

void UIViewController::setTitle(std::string title) {
    NSThread::assertMainThread("UIViewController", __func__);
    title_ = std::move(title);
    if (navigationItem_)
        navigationItem_->setTitle(title_);
}

std::shared_ptr<UINavigationItem> UIViewController::navigationItem() {
    NSThread::assertMainThread("UIViewController", __func__);
    if (!navigationItem_)
        navigationItem_ = UINavigationItem::initWithTitle(title_);
    return navigationItem_;
}

std::shared_ptr<UIBarButtonItem> UIViewController::editButtonItem() {
    NSThread::assertMainThread("UIViewController", __func__);
    if (!editButtonItem_) {
        std::weak_ptr<UIViewController> weak = weakly(this);
        editButtonItem_ =
            UIBarButtonItem::initWithTitle("Edit", UIBarButtonItemStyleBordered, weak, [weak] {
                if (auto controller = weak.lock())
                    controller->setEditing(!controller->isEditing(), true);
            });
        editButtonItem_->setName("edit");
    }
    return editButtonItem_;
}

void UIViewController::setEditing(bool editing, bool animated) {
    NSThread::assertMainThread("UIViewController", __func__);
    (void)animated;
    editing_ = editing;
    if (editButtonItem_) {
        editButtonItem_->setTitle(editing ? "Done" : "Edit");
        editButtonItem_->setStyle(editing ? UIBarButtonItemStyleDone
                                          : UIBarButtonItemStyleBordered);
    }
}

std::shared_ptr<UIView> UIViewController::view() {
    NSThread::assertMainThread("UIViewController", __func__);
    if (!view_) {
        loadView();
        NSAssert(view_ != nullptr, "The interface file \"" + nibName_ + "\" set no view");
        viewDidLoad();
    }
    return view_;
}

void UIViewController::setView(const std::shared_ptr<UIView>& view) {
    NSThread::assertMainThread("UIViewController", __func__);
    if (view_ && view_ != view)
        view_->setViewController({});
    view_ = view;
    if (view_)
        view_->setViewController(weakly(this));
}

void UIViewController::loadView() {
    if (nibName_.empty()) {
        setView(UIView::initWithFrame(CGRectMake(0, 0, Screen::kWidth, Screen::kHeight)));
        return;
    }
    NSErrorPtr error;
    if (!UINibLoader::loadNibNamed(nibName_, retained(this), &error))
        NSAssertionFailure(error->localizedDescription());
}

namespace {
// The last transition: the clock it was timed on (installed clocks are never freed, so the
// address names one) and its end on that clock's monotonic face. A transition timed on a clock
// since replaced (tests install their own) has ended.
const Clock* transitionClock = nullptr;
double transitionEnd = 0;
}  // namespace

bool UIViewController::isTransitionRunning() {
    const Clock& clock = Clock::current();
    if (&clock != transitionClock)
        return false;
    return clock.monotonic() < transitionEnd;
}

void UIViewController::beginTransition() {
    const Clock& clock = Clock::current();
    transitionClock = &clock;
    transitionEnd = clock.monotonic() + kTransitionDuration;
}

void UIViewController::presentModalViewController(
    const std::shared_ptr<UIViewController>& controller, bool animated) {
    NSThread::assertMainThread("UIViewController", __func__);
    if (!controller || modal_)
        return;
    std::shared_ptr<UIWindow> window;
    if (view_ && view_->window())
        window = retained(view_->window());
    if (!window)
        window = UIWindow::keyWindow();
    modal_ = controller;
    controller->parent_ = weakly(this);
    controller->presentedOn_ = window;
    auto presented = controller->view();
    presented->setFrame(CGRectMake(0, 0, Screen::kWidth, Screen::kHeight));
    viewWillDisappear(animated);
    controller->viewWillAppear(animated);
    if (animated)
        beginTransition();
    if (window)
        window->addPresentedView(presented);
    viewDidDisappear(animated);
    controller->viewDidAppear(animated);
}

void UIViewController::dismissModalViewControllerAnimated(bool animated) {
    NSThread::assertMainThread("UIViewController", __func__);
    if (!modal_) {
        if (auto parent = parent_.lock())
            parent->dismissModalViewControllerAnimated(animated);
        return;
    }
    // The presented controller may hold the last other reference to this one.
    auto self = retained(this);
    auto controller = std::move(modal_);
    // A controller it presents goes with it.
    if (controller->modal_)
        controller->dismissModalViewControllerAnimated(animated);
    controller->viewWillDisappear(animated);
    viewWillAppear(animated);
    if (animated)
        beginTransition();
    if (auto window = controller->presentedOn_.lock())
        window->removePresentedView(controller->view_);
    controller->parent_.reset();
    controller->viewDidDisappear(animated);
    viewDidAppear(animated);
}

void UIViewController::setNibProperties(const Value& properties) {
    if (properties["nibName"].isString())
        nibName_ = properties["nibName"].string();
    if (properties["title"].isString())
        title_ = properties["title"].string();
}

bool UIViewController::setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) {
    if (name != "view")
        return false;
    auto view = std::dynamic_pointer_cast<UIView>(object);
    if (object && !view)
        return false;
    setView(view);
    return true;
}
