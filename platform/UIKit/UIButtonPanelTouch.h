#pragma once
// The touch of a panel of buttons that takes every touch while it is on screen (an alert, an
// action sheet): the button under the finger as the touch begins is the one pressed, when the
// touch ends over that button still.
//
// Threads: the main thread, as its panel.

#include <cstddef>
#include <vector>

#include "platform/CoreGraphics/CGGeometry.h"

class UIButtonPanelTouch {
  public:
    // The index of the rect of `buttons` (screen coordinates) under `point`, given in the
    // coordinates of the panel whose frame is `frame`; -1 for none.
    static int buttonAt(const std::vector<CGRect>& buttons, CGRect frame, CGPoint point) {
        const CGPoint onScreen = CGPointMake(point.x + frame.origin.x, point.y + frame.origin.y);
        for (size_t i = 0; i < buttons.size(); ++i) {
            if (CGRectContainsPoint(buttons[i], onScreen))
                return static_cast<int>(i);
        }
        return -1;
    }

    void began(int button) { began_ = button; }
    // The button to press for a touch that ends over `button`, or -1; the touch is then over.
    int ended(int button) {
        const int began = began_;
        began_ = -1;
        return began >= 0 && button == began ? began : -1;
    }

  private:
    int began_ = -1;
};
