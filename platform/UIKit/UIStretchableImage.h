#pragma once
// An image that stretches when drawn larger than its size: the left `leftCapWidth` columns and
// the right columns after the one stretched column stay as they are; likewise the top
// `topCapHeight` rows. A cap of 0 stretches the whole image in that direction.

#include <memory>

#include "platform/UIKit/UIImage.h"

class UIStretchableImage : public UIImage {
  public:
    UIStretchableImage(CGImageRef image, int leftCapWidth, int topCapHeight)
        : UIImage(std::move(image)), leftCapWidth_(leftCapWidth), topCapHeight_(topCapHeight) {}

    // The platform's stretchableImageWithLeftCapWidth:topCapHeight: of `image` (null for null).
    static std::shared_ptr<UIImage> stretchableImageWithLeftCapWidth(
        const std::shared_ptr<UIImage>& image, int leftCapWidth, int topCapHeight);

    int leftCapWidth() const { return leftCapWidth_; }
    int topCapHeight() const { return topCapHeight_; }

  private:
    int leftCapWidth_;
    int topCapHeight_;
};
