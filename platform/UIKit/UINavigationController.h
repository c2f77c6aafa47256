#pragma once
// A stack of view controllers under a navigation bar: the root at the bottom, the one on top on
// screen. Pushing loads the new controller's view (its viewDidLoad runs then) and shows it;
// popping takes the top one away and gives it back to the caller, so it is freed when the
// caller lets it go. Animated or not, the change shows at once.
//
// While the navigation controller's view is on screen, the controllers that come and go hear
// viewWillAppear/viewDidAppear and viewWillDisappear/viewDidDisappear; the navigation
// controller's own appearance messages are passed to the top controller.
//
// Layout: the bar lies below the 20-point status bar. A controller's view covers the screen from
// the status bar's bottom down, from the screen's top when it wants the full-screen layout, and
// from the bar's bottom when the bar is not translucent. A table view that starts above the
// bar's bottom keeps its first row below the bar.
//
// Threads: main thread only. The navigation controller retains the controllers on its stack;
// they do not retain it.

#include <memory>
#include <vector>

#include "platform/UIKit/UINavigationBar.h"
#include "platform/UIKit/UIViewController.h"

class UINavigationController : public UIViewController {
  public:
    static constexpr double kStatusBarHeight = 20;

    UINavigationController() = default;
    static std::shared_ptr<UINavigationController> initWithRootViewController(
        const std::shared_ptr<UIViewController>& root);

    std::shared_ptr<UIViewController> topViewController() const;
    // The bar, made with the view.
    std::shared_ptr<UINavigationBar> navigationBar();

    void pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated);
    // The controller taken off, or null when only the root is left.
    std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

  private:
    void showTop();
    void layOut(UIViewController& controller);

    std::vector<std::shared_ptr<UIViewController>> stack_;
    std::shared_ptr<UINavigationBar> bar_;
    std::shared_ptr<UIView> shown_;
    bool onScreen_ = false;
};
