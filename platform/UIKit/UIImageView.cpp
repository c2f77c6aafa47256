#include "platform/UIKit/UIImageView.h"

#include <algorithm>

#include "platform/UIKit/UIImageDrawing.h"

std::shared_ptr<UIImageView> UIImageView::initWithImage(const std::shared_ptr<UIImage>& image) {
    auto view = std::make_shared<UIImageView>();
    view->image_ = image;
    if (image)
        view->setFrame(CGRect{CGPoint{}, image->size()});
    return view;
}

void UIImageView::setNibProperties(const Value& properties) {
    UIView::setNibProperties(properties);
    if (properties["image"].isString())
        image_ = imageNamed(properties["image"].string());
}

void UIImageView::setTransform(CGAffineTransform transform) {
    if (CGAffineTransformIsIdentity(transform_)) {
        untransformedSize_ = frame().size;
        untransformedCenter_ = center();
    }
    transform_ = transform;
    setNeedsDisplay();
    const CGPoint centre = untransformedCenter_;
    const double w = untransformedSize_.width / 2, h = untransformedSize_.height / 2;
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool first = true;
    for (CGPoint corner :
         {CGPointMake(-w, -h), CGPointMake(w, -h), CGPointMake(-w, h), CGPointMake(w, h)}) {
        CGPoint p = CGPointApplyAffineTransform(corner, transform);
        minX = first ? p.x : std::min(minX, p.x);
        maxX = first ? p.x : std::max(maxX, p.x);
        minY = first ? p.y : std::min(minY, p.y);
        maxY = first ? p.y : std::max(maxY, p.y);
        first = false;
    }
    setFrame(CGRectMake(centre.x + minX, centre.y + minY, maxX - minX, maxY - minY));
}

void UIImageView::drawContent(cairo_t* cr) {
    if (CGAffineTransformIsIdentity(transform_)) {
        UIView::drawContent(cr);
        if (image_)
            drawImageInRect(cr, *image_, bounds());
        return;
    }
    // Back to the untransformed bounds around the centre, drawn through the transform.
    const CGRect box = bounds();
    cairo_translate(cr, box.size.width / 2, box.size.height / 2);
    cairo_matrix_t matrix;
    cairo_matrix_init(&matrix, transform_.a, transform_.b, transform_.c, transform_.d, 0, 0);
    cairo_transform(cr, &matrix);
    const CGRect untransformed =
        CGRectMake(-untransformedSize_.width / 2, -untransformedSize_.height / 2,
                   untransformedSize_.width, untransformedSize_.height);
    if (backgroundColor().alpha() > 0) {
        backgroundColor().setSource(cr);
        cairo_rectangle(cr, untransformed.origin.x, untransformed.origin.y,
                        untransformed.size.width, untransformed.size.height);
        cairo_fill(cr);
    }
    if (image_)
        drawImageInRect(cr, *image_, untransformed);
}
