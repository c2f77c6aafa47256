#include "platform/UIKit/UIControl.h"

#include <algorithm>

#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIApplication.h"

unsigned UIControl::state() const {
    if (!enabled_)
        return UIControlStateDisabled;
    return highlighted_ ? UIControlStateHighlighted : UIControlStateNormal;
}

void UIControl::addTarget(const std::weak_ptr<NSObject>& target, std::function<void()> action,
                          unsigned events) {
    actions_.push_back({target, std::move(action), events});
}

void UIControl::sendActionsForControlEvents(unsigned events) {
    NSThread::assertMainThread("UIControl", __func__);
    // An action may release this control or change its actions.
    auto self = retained(this);
    auto actions = actions_;
    for (const auto& entry : actions) {
        if (!(entry.events & events))
            continue;
        auto target = entry.target.lock();
        if (target)
            entry.action();
    }
}

void UIControl::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_)
        return;
    highlighted_ = highlighted;
    setNeedsDisplay();
}

bool UIControl::tap() {
    if (!enabled_ || !isVisibleOnScreen())
        return false;
    if (UIApplication::sharedApplication()->isIgnoringInteractionEvents())
        return false;
    auto self = retained(this);
    touchBegan(CGPointMake(frame().size.width / 2, frame().size.height / 2));
    endTouch(true);
    return true;
}

bool UIControl::touchBegan(CGPoint point) {
    (void)point;
    if (!enabled_)
        return true;
    auto self = retained(this);
    touched_ = true;
    setHighlighted(true);
    sendActionsForControlEvents(UIControlEventTouchDown);
    return true;
}

void UIControl::touchMoved(CGPoint point) {
    if (touched_)
        setHighlighted(CGRectContainsPoint(bounds(), point));
}

void UIControl::touchEnded(CGPoint point) {
    endTouch(CGRectContainsPoint(bounds(), point));
}

void UIControl::endTouch(bool inside) {
    if (!touched_)
        return;
    auto self = retained(this);
    touched_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(inside ? UIControlEventTouchUpInside
                                       : UIControlEventTouchUpOutside);
}

void UIControl::setNibProperties(const Value& properties) {
    UIView::setNibProperties(properties);
    if (properties["enabled"].isNumber())
        enabled_ = properties["enabled"].boolValue();
}
