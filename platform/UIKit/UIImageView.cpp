#include "platform/UIKit/UIImageView.h"

#include "platform/UIKit/UIImageDrawing.h"

std::shared_ptr<UIImageView> UIImageView::initWithImage(const std::shared_ptr<UIImage>& image) {
    auto view = std::make_shared<UIImageView>();
    view->image_ = image;
    if (image) view->setFrame(CGRect{CGPoint{}, image->size()});
    return view;
}

void UIImageView::setNibProperties(const Value& properties) {
    UIView::setNibProperties(properties);
    if (properties["image"].isString()) image_ = imageNamed(properties["image"].string());
}

void UIImageView::drawContent(cairo_t* cr) {
    UIView::drawContent(cr);
    if (image_) drawImageInRect(cr, *image_, bounds());
}
