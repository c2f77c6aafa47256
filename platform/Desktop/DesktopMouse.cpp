#include "platform/Desktop/DesktopMouse.h"

#include <algorithm>

DesktopMouse::DesktopMouse(int scale) : scale_(std::max(1, scale)) {}

CGPoint DesktopMouse::pointAt(int x, int y) const {
    return CGPointMake((x + 0.5) / scale_, (y + 0.5) / scale_);
}

std::optional<DesktopMouse::Touch> DesktopMouse::touchFor(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button != SDL_BUTTON_LEFT || down_)
                return std::nullopt;
            down_ = true;
            return Touch{UITouchPhaseBegan, pointAt(event.button.x, event.button.y)};
        case SDL_MOUSEMOTION:
            if (!down_)
                return std::nullopt;
            return Touch{UITouchPhaseMoved, pointAt(event.motion.x, event.motion.y)};
        case SDL_MOUSEBUTTONUP:
            if (event.button.button != SDL_BUTTON_LEFT || !down_)
                return std::nullopt;
            down_ = false;
            return Touch{UITouchPhaseEnded, pointAt(event.button.x, event.button.y)};
        default:
            return std::nullopt;
    }
}
