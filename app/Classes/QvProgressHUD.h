#pragma once
// The progress overlay: a translucent dark rounded panel of 155 x 125 points for the centre of
// the screen (its frame at (82.5, 177.5) is centred on 320 x 480), with a line of white text and,
// optionally, a large white activity indicator above it. The panel is the view's image: a
// 100 x 100 picture of a rounded rectangle (radius 9, black at alpha 0.8) that the view
// stretches to its bounds.
//
// With an indicator, the text line is the frame (0, 75, 155, 30) in bold 24; the indicator sits
// at (59, 27, 37, 37) while there is text and at (59, 44, 37, 37), the middle, when the text is
// nil. Without one, the text is bold 50, sized to fit its first text and centred at (77, 62).
//
// The overlay never removes itself: its owner adds it to a window and takes it away.
//
// Threads: main thread only. The view holds its label and indicator as subviews.

#include <memory>
#include <optional>
#include <string>

#include "platform/CoreGraphics/CGPath.h"
#include "platform/UIKit/UIActivityIndicatorView.h"
#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UILabel.h"

class QvProgressHUD : public UIImageView {
  public:
    // `text` nullopt is no text (nil).
    static std::shared_ptr<QvProgressHUD> initWithText(const std::optional<std::string>& text,
                                                       bool showIndicator);
    // No text, with the indicator.
    static std::shared_ptr<QvProgressHUD> init();

    // Sets the text line and moves an existing indicator by the rule above; the line's frame
    // and font stay as they are. Never adds or removes the indicator.
    void setText(const std::optional<std::string>& text);

    std::shared_ptr<UILabel> textLabel() const { return textLabel_.lock(); }
    // Null when the overlay was made without one.
    std::shared_ptr<UIActivityIndicatorView> activityIndicator() const {
        return activityIndicator_.lock();
    }

  private:
    void placeIndicator(bool hasText);

    // Held by the view as subviews.
    std::weak_ptr<UILabel> textLabel_;
    std::weak_ptr<UIActivityIndicatorView> activityIndicator_;
};

// A new closed rounded rectangle over `rect` with corners of `radius`, limited to half the
// rectangle's LARGER side (so a radius too big for the short side overshoots it). The path runs
// from (minX + r, minY) through the corners (minX, minY), (minX, maxY), (maxX, maxY), (maxX, minY)
// and closes; each corner is a circular arc. The caller owns it.
CGPathRef CreateRoundedRectPath(CGRect rect, CGFloat radius);
