#include "platform/UIKit/UIWindow.h"
#include "platform/Foundation/NSThread.h"

#include <algorithm>

namespace {
std::weak_ptr<UIWindow>& keyWindowSlot() {
    static std::weak_ptr<UIWindow> slot;
    return slot;
}
}  // namespace

std::shared_ptr<UIWindow> UIWindow::initWithFrame(CGRect frame) {
    auto window = std::make_shared<UIWindow>();
    window->setFrame(frame);
    return window;
}

void UIWindow::makeKeyAndVisible() {
    NSThread::assertMainThread("UIWindow", __func__);
    keyWindowSlot() = retained(this);
    setNeedsDisplay();
    if (!isHidden())
        return;
    setHidden(false);
    auto views = subviews();
    for (const auto& view : views) announceAppearance(view);
}

std::shared_ptr<UIWindow> UIWindow::keyWindow() {
    return keyWindowSlot().lock();
}

void UIWindow::addPresentedView(const std::shared_ptr<UIView>& view) {
    presented_.push_back(view);
    addSubviewSilently(view);
}

void UIWindow::removePresentedView(const std::shared_ptr<UIView>& view) {
    presented_.erase(std::remove_if(presented_.begin(), presented_.end(),
                                    [&](const std::weak_ptr<UIView>& p) {
                                        auto locked = p.lock();
                                        return !locked || locked == view;
                                    }),
                     presented_.end());
    view->removeFromSuperview();
}

std::vector<std::shared_ptr<UIView>> UIWindow::subviewsToDraw() const {
    const auto& all = subviews();
    // From the topmost presented view up.
    for (size_t i = all.size(); i-- > 0;) {
        bool presented =
            std::any_of(presented_.begin(), presented_.end(),
                        [&](const std::weak_ptr<UIView>& p) { return p.lock() == all[i]; });
        if (presented)
            return {all.begin() + i, all.end()};
    }
    return all;
}
