#pragma once
// Shows an image scaled to fill its bounds, over its background colour. A transform applies
// about the view's centre: the frame becomes the transformed bounds' enclosing rectangle, and
// the picture is drawn transformed. Touches pass through it to what lies below.
//
// Threads: main thread only.

#include <memory>

#include "platform/UIKit/UIImage.h"
#include "platform/UIKit/UIView.h"

class UIImageView : public UIView {
  public:
    UIImageView() { setUserInteractionEnabled(false); }
    // A view of the image's size at the origin; an empty frame for null.
    static std::shared_ptr<UIImageView> initWithImage(const std::shared_ptr<UIImage>& image);

    const std::shared_ptr<UIImage>& image() const { return image_; }
    void setImage(std::shared_ptr<UIImage> image) {
        image_ = std::move(image);
        setNeedsDisplay();
    }

    CGAffineTransform transform() const { return transform_; }
    // About the centre and size that the frame had under the identity transform.
    void setTransform(CGAffineTransform transform);

    // "image" (a resource name) besides the view's properties.
    void setNibProperties(const Value& properties) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    std::shared_ptr<UIImage> image_;
    CGAffineTransform transform_ = CGAffineTransformIdentity;
    // The frame's size and centre under the identity.
    CGSize untransformedSize_{};
    CGPoint untransformedCenter_{};
};
