#include "platform/UIKit/UISlider.h"

#include <algorithm>
#include <cmath>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIImageDrawing.h"

void UISlider::setMinimumValue(float value) {
    minimum_ = value;
    setValue(value_);
}

void UISlider::setMaximumValue(float value) {
    maximum_ = value;
    setValue(value_);
}

void UISlider::setValue(float value, bool animated) {
    (void)animated;
    if (std::isnan(value))
        value = minimum_;
    const float clamped = std::max(minimum_, std::min(value, maximum_));
    if (clamped != value_)
        setNeedsDisplay();
    value_ = clamped;
}

std::shared_ptr<UIImage> UISlider::lookUp(
    const std::map<unsigned, std::shared_ptr<UIImage>>& images, unsigned state) {
    if (auto it = images.find(state); it != images.end())
        return it->second;
    if (auto it = images.find(UIControlStateNormal); it != images.end())
        return it->second;
    return nullptr;
}

void UISlider::setThumbImage(const std::shared_ptr<UIImage>& image, unsigned state) {
    thumbImages_[state] = image;
    setNeedsDisplay();
}
std::shared_ptr<UIImage> UISlider::thumbImageForState(unsigned state) const {
    return lookUp(thumbImages_, state);
}
void UISlider::setMinimumTrackImage(const std::shared_ptr<UIImage>& image, unsigned state) {
    minimumTrackImages_[state] = image;
    setNeedsDisplay();
}
std::shared_ptr<UIImage> UISlider::minimumTrackImageForState(unsigned state) const {
    return lookUp(minimumTrackImages_, state);
}
void UISlider::setMaximumTrackImage(const std::shared_ptr<UIImage>& image, unsigned state) {
    maximumTrackImages_[state] = image;
    setNeedsDisplay();
}
std::shared_ptr<UIImage> UISlider::maximumTrackImageForState(unsigned state) const {
    return lookUp(maximumTrackImages_, state);
}

bool UISlider::canTouch() {
    return isEnabled() && isVisibleOnScreen() &&
           !UIApplication::sharedApplication()->isIgnoringInteractionEvents();
}

bool UISlider::touchDown() {
    if (!canTouch())
        return false;
    auto self = retained(this);
    tracking_ = true;
    sendActionsForControlEvents(UIControlEventTouchDown);
    return true;
}

bool UISlider::moveTo(float value) {
    if (!tracking_ || !canTouch())
        return false;
    auto self = retained(this);
    setValue(value);
    sendActionsForControlEvents(UIControlEventValueChanged);
    return true;
}

bool UISlider::touchUpInside() {
    if (!tracking_)
        return false;
    auto self = retained(this);
    tracking_ = false;
    sendActionsForControlEvents(UIControlEventTouchUpInside);
    return true;
}

bool UISlider::touchUpOutside() {
    if (!tracking_)
        return false;
    auto self = retained(this);
    tracking_ = false;
    sendActionsForControlEvents(UIControlEventTouchUpOutside);
    return true;
}

bool UISlider::slide(float value) {
    auto self = retained(this);
    return touchDown() && moveTo(value) && touchUpInside();
}

double UISlider::thumbWidth() const {
    auto thumb = thumbImageForState(state());
    return thumb ? thumb->size().width : 20;
}

float UISlider::valueAtX(double x) const {
    const double travel = frame().size.width - thumbWidth();
    const double share = travel > 0 ? std::clamp((x - thumbWidth() / 2) / travel, 0.0, 1.0) : 0;
    return static_cast<float>(minimum_ + share * (maximum_ - minimum_));
}

bool UISlider::touchBegan(CGPoint point) {
    (void)point;
    touchDown();
    return true;
}

void UISlider::touchMoved(CGPoint point) {
    if (tracking_)
        moveTo(valueAtX(point.x));
}

void UISlider::touchEnded(CGPoint point) {
    if (CGRectContainsPoint(bounds(), point))
        touchUpInside();
    else
        touchUpOutside();
}

void UISlider::setNibProperties(const Value& properties) {
    UIControl::setNibProperties(properties);
    if (properties["minimumValue"].isNumber())
        minimum_ = static_cast<float>(properties["minimumValue"].doubleValue());
    if (properties["maximumValue"].isNumber())
        maximum_ = static_cast<float>(properties["maximumValue"].doubleValue());
    if (properties["value"].isNumber())
        value_ = static_cast<float>(properties["value"].doubleValue());
    setValue(value_);
}

void UISlider::drawContent(cairo_t* cr) {
    UIView::drawContent(cr);
    const double w = frame().size.width, h = frame().size.height;
    auto thumb = thumbImageForState(state());
    const double thumbWidth = this->thumbWidth();
    const double thumbHeight = thumb ? thumb->size().height : 20;
    const double range = maximum_ - minimum_;
    const double share = range > 0 ? (value_ - minimum_) / range : 0;
    const double centre = thumbWidth / 2 + share * std::max(0.0, w - thumbWidth);
    auto drawTrack = [&](const std::shared_ptr<UIImage>& image, double x0, double x1, double grey) {
        if (x1 <= x0)
            return;
        if (image) {
            const double th = image->size().height;
            drawImageInRect(cr, *image, CGRectMake(x0, (h - th) / 2, x1 - x0, th));
            return;
        }
        cairo_set_source_rgb(cr, grey, grey, grey);
        cairo_rectangle(cr, x0, h / 2 - 2, x1 - x0, 4);
        cairo_fill(cr);
    };
    drawTrack(minimumTrackImageForState(state()), 0, centre, 0.2);
    drawTrack(maximumTrackImageForState(state()), centre, w, 0.85);
    const CGRect thumbRect =
        CGRectMake(centre - thumbWidth / 2, (h - thumbHeight) / 2, thumbWidth, thumbHeight);
    if (thumb) {
        drawImageInRect(cr, *thumb, thumbRect);
        return;
    }
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_arc(cr, centre, h / 2, thumbWidth / 2, 0, 2 * M_PI);
    cairo_fill(cr);
}
