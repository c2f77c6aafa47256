#pragma once
// Composes the phone's screen with cairo into a 320 x 480 picture that becomes the screen's last
// composed picture. The interface draws itself through a callback; the camera preview is drawn
// by `drawPreview` where the interface shows it (full screen, under the picker's overlay).
//
// Threads: one compositor per composing thread (the main thread); `compose` publishes to a
// Screen, which any thread may read.

#include <cairo.h>

#include <functional>
#include <memory>

#include "platform/Device/Camera.h"
#include "platform/Device/Screen.h"

class Compositor {
  public:
    using Draw = std::function<void(cairo_t*)>;

    // The preview's colour while the camera has no picture.
    static constexpr double kNoPreviewGrey = 0.5;

    explicit Compositor(Screen& screen = Screen::mainScreen());
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // Starts from black, runs `draw` (may be empty) in screen points, and publishes the result
    // to the screen as an opaque picture. Returns the published picture.
    CGImageRef compose(const Draw& draw);

    // Fills the rectangle (0, 0, width, height) of `cr` with `picture` scaled to fill, centred
    // and cropped; grey when `picture` is null or empty.
    static void drawPreview(cairo_t* cr, const CameraPicture* picture, double width, double height);

  private:
    CGImageRef snapshot();

    Screen& screen_;
    cairo_surface_t* surface_;
};
