#pragma once
// The spinning wheel that says "busy": twelve spokes, the brightest one turning once a second
// while the indicator animates. The turn follows the clock, so every composition shows the
// spokes where the time puts them and no timer is needed. A stopped indicator that hides when
// stopped (the default) draws nothing.
//
// Threads: main thread only.

#include <memory>

#include "platform/UIKit/UIView.h"

enum UIActivityIndicatorViewStyle {
    UIActivityIndicatorViewStyleWhiteLarge = 0,
    UIActivityIndicatorViewStyleWhite = 1,
    UIActivityIndicatorViewStyleGray = 2,
};

class UIActivityIndicatorView : public UIView {
  public:
    // Large: 37 x 37 points; the others 20 x 20; at the origin, not animating.
    static std::shared_ptr<UIActivityIndicatorView> initWithActivityIndicatorStyle(
        UIActivityIndicatorViewStyle style);

    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
    void startAnimating() {
        animating_ = true;
        setNeedsDisplay();
    }
    void stopAnimating() {
        animating_ = false;
        setNeedsDisplay();
    }
    bool isAnimating() const { return animating_; }
    void setHidesWhenStopped(bool hides) {
        hidesWhenStopped_ = hides;
        setNeedsDisplay();
    }

    // The spoke drawn brightest now, 0 (twelve o'clock) to 11 clockwise; 0 while stopped.
    int leadingSpoke() const;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    UIActivityIndicatorViewStyle style_ = UIActivityIndicatorViewStyleWhite;
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};
