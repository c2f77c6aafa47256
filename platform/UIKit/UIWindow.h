#pragma once
// The application's window: the root of the views on screen. A view controller presented
// modally puts its view on top of the window; while one is up, only the topmost presented view
// and what lies above it are drawn (the views under a full-screen presentation are covered).
//
// Threads: main thread only.

#include <memory>
#include <vector>

#include "platform/UIKit/UIView.h"

class UIWindow : public UIView {
  public:
    UIWindow() { setHidden(true); }
    static std::shared_ptr<UIWindow> initWithFrame(CGRect frame);

    // Shows the window and makes it the key window; the controllers of its subviews hear
    // viewWillAppear and viewDidAppear, not animated, when it was hidden.
    void makeKeyAndVisible();
    // The key window, or null when none was made key or it is gone.
    static std::shared_ptr<UIWindow> keyWindow();

    // Puts a presented controller's view on top, or takes it away again.
    void addPresentedView(const std::shared_ptr<UIView>& view);
    void removePresentedView(const std::shared_ptr<UIView>& view);

  protected:
    std::vector<std::shared_ptr<UIView>> subviewsToDraw() const override;

  private:
    std::vector<std::weak_ptr<UIView>> presented_;
};
