#pragma once
// A picture for the interface: an immutable CGImage with its size in points (one point is one
// pixel on this phone). Made from JPEG or PNG data, or from a CGImage.
//
// Threads: an image may be made and read on any thread.

#include <memory>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/CoreGraphics/CGImage.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

class UIImage : public NSObject {
  public:
    // The picture that `data` holds as a JPEG or a PNG file; nullptr when it holds neither or
    // does not decode.
    static std::shared_ptr<UIImage> initWithData(const Data& data);
    // An image of `image`, shared, not copied; nullptr for a null image.
    static std::shared_ptr<UIImage> imageWithCGImage(CGImageRef image);

    CGSize size() const;
    const CGImageRef& CGImage() const { return image_; }

    explicit UIImage(CGImageRef image) : image_(std::move(image)) {}

  private:
    CGImageRef image_;
};

// The image as a baseline JPEG file of quality round(quality x 100), limited to 1..100 (4:2:0
// chroma). A translucent image is flattened onto black. Empty data for a null image or when
// encoding fails.
Data UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, CGFloat quality);
