#include "platform/Desktop/DesktopMouse.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

SDL_Event button(Uint32 type, Uint8 which, int x, int y) {
    SDL_Event event{};
    event.type = type;
    event.button.button = which;
    event.button.x = x;
    event.button.y = y;
    return event;
}

SDL_Event motion(int x, int y) {
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    event.motion.x = x;
    event.motion.y = y;
    return event;
}

using Touches = std::vector<std::optional<DesktopMouse::Touch>>;

Touches touchesFor(DesktopMouse& mouse, const std::vector<SDL_Event>& events) {
    Touches touches;
    for (const SDL_Event& event : events) touches.push_back(mouse.touchFor(event));
    return touches;
}

TEST(DesktopMouseTest, AWindowPixelIsThePointUnderItsCentreAtEveryScale) {
    struct Case {
        int scale;
        int x, y;
        CGPoint point;
    };
    const Case cases[] = {
        {1, 0, 0, {0.5, 0.5}},
        {1, 319, 479, {319.5, 479.5}},
        {2, 0, 0, {0.25, 0.25}},
        {2, 1, 1, {0.75, 0.75}},
        {2, 170, 866, {85.25, 433.25}},
        {2, 639, 959, {319.75, 479.75}},
        {3, 255, 1299, {255.5 / 3, 1299.5 / 3}},
        {3, 959, 1439, {959.5 / 3, 1439.5 / 3}},
        // A drag beyond the window's edge goes on beyond the screen's.
        {2, -10, 1000, {-4.75, 500.25}},
    };
    for (const Case& c : cases) {
        DesktopMouse mouse(c.scale);
        auto touch = mouse.touchFor(button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, c.x, c.y));
        ASSERT_TRUE(touch) << c.scale;
        EXPECT_EQ(touch->phase, UITouchPhaseBegan);
        EXPECT_DOUBLE_EQ(touch->point.x, c.point.x) << "scale " << c.scale << " x " << c.x;
        EXPECT_DOUBLE_EQ(touch->point.y, c.point.y) << "scale " << c.scale << " y " << c.y;
    }
}

TEST(DesktopMouseTest, OnlyTheLeftButtonIsAFingerFromItsPressToItsRelease) {
    DesktopMouse mouse(2);
    const Touches touches = touchesFor(
        mouse, {motion(10, 10),                                         // hovering
                button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 10, 10),  // another button
                button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 10, 10),     // a release without press
                button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 100, 200), motion(120, 200),
                button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 130, 200),  // pressed twice
                button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 140, 200), motion(140, 210),
                button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 150, 220), motion(160, 220)});
    const Touches expected = {
        std::nullopt,
        std::nullopt,
        std::nullopt,
        DesktopMouse::Touch{UITouchPhaseBegan, {50.25, 100.25}},
        DesktopMouse::Touch{UITouchPhaseMoved, {60.25, 100.25}},
        std::nullopt,
        std::nullopt,
        DesktopMouse::Touch{UITouchPhaseMoved, {70.25, 105.25}},
        DesktopMouse::Touch{UITouchPhaseEnded, {75.25, 110.25}},
        std::nullopt,
    };
    EXPECT_EQ(touches, expected);
}

TEST(DesktopMouseTest, AScaleBelowOneCountsAsOne) {
    DesktopMouse mouse(0);
    EXPECT_EQ(mouse.scale(), 1);
    auto touch = mouse.touchFor(button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 10, 20));
    ASSERT_TRUE(touch);
    EXPECT_EQ(touch->point, (CGPoint{10.5, 20.5}));
}

}  // namespace
