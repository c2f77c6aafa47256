#pragma once
// A view that sends actions to targets when touch events happen to it. Targets are not
// retained: an action whose target is gone is skipped.
//
// Threads: main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "platform/UIKit/UIView.h"

enum UIControlEvents : unsigned {
    UIControlEventTouchDown = 1u << 0,
    UIControlEventTouchUpInside = 1u << 6,
    UIControlEventTouchUpOutside = 1u << 7,
    UIControlEventValueChanged = 1u << 12,
};

enum UIControlState : unsigned {
    UIControlStateNormal = 0,
    UIControlStateHighlighted = 1u << 0,
    UIControlStateDisabled = 1u << 1,
    UIControlStateSelected = 1u << 2,
};

class UIControl : public UIView {
  public:
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) {
        if (enabled != enabled_)
            setNeedsDisplay();
        enabled_ = enabled;
    }
    bool isHighlighted() const { return highlighted_; }
    // Shown pressed: a touch is down on the control (the touches set it).
    void setHighlighted(bool highlighted);
    // Normal, or disabled / highlighted.
    unsigned state() const;

    // `action` runs for `events` while `target` lives.
    void addTarget(const std::weak_ptr<NSObject>& target, std::function<void()> action,
                   unsigned events);
    template <class T>
    void addTarget(const std::shared_ptr<T>& target, void (T::*selector)(), unsigned events) {
        std::weak_ptr<T> weak = target;
        addTarget(
            std::static_pointer_cast<NSObject>(target),
            [weak, selector] {
                if (auto t = weak.lock())
                    ((*t).*selector)();
            },
            events);
    }

    // Runs the actions registered for any of `events`, in the order they were added.
    void sendActionsForControlEvents(unsigned events);

    // A person's tap: touch down, then touch up inside, as a touch at the control's centre. Ignored
    // (false) while the control is disabled or not visible, or while the application ignores
    // interaction events.
    bool tap();

    // A touch: touch down as it begins (highlighted while it stays inside the bounds), then
    // touch up inside or outside as it ends. A disabled control takes the touch and sends
    // nothing.
    bool touchBegan(CGPoint point) override;
    void touchMoved(CGPoint point) override;
    void touchEnded(CGPoint point) override;

    // "enabled" besides the view's properties.
    void setNibProperties(const Value& properties) override;

  private:
    void endTouch(bool inside);

    struct TargetAction {
        std::weak_ptr<NSObject> target;
        std::function<void()> action;
        unsigned events;
    };
    bool enabled_ = true;
    bool highlighted_ = false;
    bool touched_ = false;  // a touch that began enabled is under way
    std::vector<TargetAction> actions_;
};
