#include "platform/UIKit/UIStretchableImage.h"

std::shared_ptr<UIImage> UIStretchableImage::stretchableImageWithLeftCapWidth(
    const std::shared_ptr<UIImage>& image, int leftCapWidth, int topCapHeight) {
    if (!image)
        return nullptr;
    return std::make_shared<UIStretchableImage>(image->CGImage(), leftCapWidth, topCapHeight);
}
