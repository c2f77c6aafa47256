#pragma once
// The mouse as the phone's one finger: a press of the left button in the window begins a touch,
// a motion while the button is down moves it and the button's release ends it; other buttons,
// and motions with the button up, are no touch. A window pixel at the window's scale is the
// screen point under the pixel's centre (pixel x at scale 2: point (x + 0.5) / 2).
//
// Threads: any, one at a time.

#include <SDL2/SDL_events.h>

#include <optional>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/UIKit/UIView.h"

class DesktopMouse {
  public:
    struct Touch {
        UITouchPhase phase;
        CGPoint point;  // screen points
        bool operator==(const Touch&) const = default;
    };

    // `scale` is at least 1.
    explicit DesktopMouse(int scale);
    int scale() const { return scale_; }

    // The touch that `event` makes, if any.
    std::optional<Touch> touchFor(const SDL_Event& event);

  private:
    CGPoint pointAt(int x, int y) const;

    int scale_;
    bool down_ = false;
};
