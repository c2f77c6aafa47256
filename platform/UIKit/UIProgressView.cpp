#include "platform/UIKit/UIProgressView.h"

#include <algorithm>
#include <cmath>

void UIProgressView::setProgress(float progress) {
    const float clamped = std::isnan(progress) ? 0.0f : std::clamp(progress, 0.0f, 1.0f);
    if (clamped != progress_)
        setNeedsDisplay();
    progress_ = clamped;
}

void UIProgressView::setNibProperties(const Value& properties) {
    UIView::setNibProperties(properties);
    const std::string style = properties["progressViewStyle"].string();
    if (style == "default")
        style_ = UIProgressViewStyleDefault;
    if (style == "bar")
        style_ = UIProgressViewStyleBar;
    if (properties["progress"].isNumber())
        setProgress(static_cast<float>(properties["progress"].doubleValue()));
}

void UIProgressView::drawContent(cairo_t* cr) {
    UIView::drawContent(cr);
    const double w = frame().size.width, h = frame().size.height;
    const double track = style_ == UIProgressViewStyleBar ? 0.35 : 0.9;
    cairo_set_source_rgb(cr, track, track, track);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.2, 0.45, 0.9);
    cairo_rectangle(cr, 0, 0, w * progress_, h);
    cairo_fill(cr);
}
