#include "platform/UIKit/UINavigationController.h"

#include <algorithm>

#include "platform/Device/Screen.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UITableView.h"

namespace {

// The navigation controller's view: it sends the appearance messages itself, so the views it
// puts in are added without them.
class NavigationContainerView : public UIView {
  public:
    void putOnTop(const std::shared_ptr<UIView>& view) { addSubviewSilently(view); }
};

}  // namespace

std::shared_ptr<UINavigationController> UINavigationController::initWithRootViewController(
    const std::shared_ptr<UIViewController>& root) {
    auto navigation = std::make_shared<UINavigationController>();
    if (root) {
        root->setNavigationController(navigation);
        navigation->stack_.push_back(root);
    }
    return navigation;
}

std::shared_ptr<UIViewController> UINavigationController::topViewController() const {
    return stack_.empty() ? nullptr : stack_.back();
}

std::shared_ptr<UINavigationBar> UINavigationController::navigationBar() {
    view();
    return bar_;
}

void UINavigationController::loadView() {
    auto container = std::make_shared<NavigationContainerView>();
    container->setFrame(CGRectMake(0, 0, Screen::kWidth, Screen::kHeight));
    bar_ = std::make_shared<UINavigationBar>();
    bar_->setFrame(CGRectMake(0, kStatusBarHeight, Screen::kWidth, UINavigationBar::kHeight));
    std::weak_ptr<UINavigationController> weak = weakly(this);
    bar_->setBackAction([weak] {
        if (auto navigation = weak.lock())
            navigation->popViewControllerAnimated(true);
    });
    container->addSubview(bar_);
    setView(container);
    showTop();
}

void UINavigationController::layOut(UIViewController& controller) {
    double top = controller.wantsFullScreenLayout() ? 0 : kStatusBarHeight;
    const double barBottom = kStatusBarHeight + UINavigationBar::kHeight;
    if (!bar_->isTranslucent())
        top = barBottom;
    auto view = controller.view();
    view->setFrame(CGRectMake(0, top, Screen::kWidth, Screen::kHeight - top));
    if (auto* table = dynamic_cast<UITableView*>(view.get()))
        table->setContentInsetTop(std::max(0.0, barBottom - top));
}

// Puts the top controller's view under the bar and the items of the stack on the bar.
void UINavigationController::showTop() {
    std::vector<std::shared_ptr<UINavigationItem>> items;
    for (const auto& controller : stack_) items.push_back(controller->navigationItem());
    bar_->setItems(std::move(items));
    if (shown_)
        shown_->removeFromSuperview();
    shown_.reset();
    auto top = topViewController();
    if (!top)
        return;
    layOut(*top);
    shown_ = top->view();
    auto* container = dynamic_cast<NavigationContainerView*>(view().get());
    if (!container)
        return;
    container->putOnTop(shown_);
    // The bar stays above the controller's view.
    container->putOnTop(bar_);
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& controller,
                                                bool animated) {
    NSThread::assertMainThread("UINavigationController", __func__);
    if (!controller)
        return;
    auto self = retained(this);
    auto previous = topViewController();
    controller->setNavigationController(self);
    stack_.push_back(controller);
    if (!isViewLoaded())
        return;
    controller->view();  // loads it: viewDidLoad runs before anything appears
    if (onScreen_ && previous)
        previous->viewWillDisappear(animated);
    if (onScreen_)
        controller->viewWillAppear(animated);
    if (onScreen_ && animated)
        beginTransition();
    showTop();
    if (onScreen_ && previous)
        previous->viewDidDisappear(animated);
    if (onScreen_)
        controller->viewDidAppear(animated);
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
    NSThread::assertMainThread("UINavigationController", __func__);
    if (stack_.size() < 2)
        return nullptr;
    auto self = retained(this);
    auto popped = stack_.back();
    stack_.pop_back();
    if (!isViewLoaded()) {
        popped->setNavigationController({});
        return popped;
    }
    auto top = topViewController();
    if (onScreen_)
        popped->viewWillDisappear(animated);
    if (onScreen_)
        top->viewWillAppear(animated);
    if (onScreen_ && animated)
        beginTransition();
    showTop();
    if (onScreen_)
        popped->viewDidDisappear(animated);
    if (onScreen_)
        top->viewDidAppear(animated);
    popped->setNavigationController({});
    return popped;
}

void UINavigationController::viewWillAppear(bool animated) {
    auto top = topViewController();
    if (!top)
        return;
    // The bar's style may have changed since the view was made.
    if (bar_)
        layOut(*top);
    top->viewWillAppear(animated);
}

void UINavigationController::viewDidAppear(bool animated) {
    onScreen_ = true;
    if (auto top = topViewController())
        top->viewDidAppear(animated);
}

void UINavigationController::viewWillDisappear(bool animated) {
    if (auto top = topViewController())
        top->viewWillDisappear(animated);
}

void UINavigationController::viewDidDisappear(bool animated) {
    onScreen_ = false;
    if (auto top = topViewController())
        top->viewDidDisappear(animated);
}
