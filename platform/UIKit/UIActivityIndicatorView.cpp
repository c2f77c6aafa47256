#include "platform/UIKit/UIActivityIndicatorView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/Foundation/Clock.h"

namespace {
constexpr int kSpokes = 12;
}  // namespace

std::shared_ptr<UIActivityIndicatorView> UIActivityIndicatorView::initWithActivityIndicatorStyle(
    UIActivityIndicatorViewStyle style) {
    auto view = std::make_shared<UIActivityIndicatorView>();
    view->style_ = style;
    const double side = style == UIActivityIndicatorViewStyleWhiteLarge ? 37 : 20;
    view->setFrame(CGRectMake(0, 0, side, side));
    return view;
}

int UIActivityIndicatorView::leadingSpoke() const {
    if (!animating_)
        return 0;
    const double turns = Clock::current().monotonic();
    return static_cast<int>(std::fmod(std::floor(turns * kSpokes), kSpokes));
}

void UIActivityIndicatorView::drawContent(cairo_t* cr) {
    UIView::drawContent(cr);
    if (animating_)
        setNeedsDisplay();  // the wheel turns on
    if (!animating_ && hidesWhenStopped_)
        return;
    const CGRect b = bounds();
    const double radius = std::min(b.size.width, b.size.height) / 2;
    if (radius <= 0)
        return;
    const double shade = style_ == UIActivityIndicatorViewStyleGray ? 0.5 : 1.0;
    const int lead = leadingSpoke();
    cairo_save(cr);
    cairo_translate(cr, b.size.width / 2, b.size.height / 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, radius * 0.22);
    for (int i = 0; i < kSpokes; ++i) {
        // The spokes fade behind the leading one, the way the wheel turns.
        const int behind = (lead - i + kSpokes) % kSpokes;
        const double alpha = 1.0 - 0.7 * behind / (kSpokes - 1);
        const double angle = 2 * std::numbers::pi * i / kSpokes;
        const double dx = std::sin(angle), dy = -std::cos(angle);
        cairo_set_source_rgba(cr, shade, shade, shade, alpha);
        cairo_move_to(cr, dx * radius * 0.45, dy * radius * 0.45);
        cairo_line_to(cr, dx * radius * 0.88, dy * radius * 0.88);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}
