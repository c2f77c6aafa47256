#include "platform/UIKit/UINavigationBar.h"

#include <algorithm>
#include <cmath>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIStringDrawing.h"

namespace {
constexpr double kMargin = 6;
}

std::shared_ptr<UINavigationItem> UINavigationBar::topItem() const {
    return items_.empty() ? nullptr : items_.back();
}

std::shared_ptr<UINavigationItem> UINavigationBar::backItem() const {
    return items_.size() < 2 ? nullptr : items_[items_.size() - 2];
}

bool UINavigationBar::showsBackButton() const {
    auto top = topItem();
    return backItem() && top && !top->leftBarButtonItem();
}

bool UINavigationBar::pressBackButton() {
    if (!isVisibleOnScreen() || UIApplication::sharedApplication()->isIgnoringInteractionEvents() ||
        !showsBackButton() || !backAction_)
        return false;
    auto self = retained(this);
    auto action = backAction_;
    action();
    return true;
}

std::shared_ptr<UIBarButtonItem> UINavigationBar::itemNamed(const std::string& name) const {
    auto top = topItem();
    if (!top)
        return nullptr;
    for (const auto& item : {top->leftBarButtonItem(), top->rightBarButtonItem()}) {
        if (item && item->name() == name)
            return item;
    }
    return nullptr;
}

bool UINavigationBar::pressItemNamed(const std::string& name) {
    if (!isVisibleOnScreen() || UIApplication::sharedApplication()->isIgnoringInteractionEvents())
        return false;
    auto item = itemNamed(name);
    return item && item->press();
}

void UIBarFillBackground(cairo_t* cr, UIBarStyle style, double width, double height) {
    switch (style) {
        case UIBarStyleBlackTranslucent:
            cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
            break;
        case UIBarStyleBlack:
            cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
            break;
        default:
            cairo_set_source_rgb(cr, 0.43, 0.52, 0.64);
            break;
    }
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_fill(cr);
}

void UINavigationBar::drawContent(cairo_t* cr) {
    const double w = frame().size.width, h = frame().size.height;
    UIBarFillBackground(cr, barStyle_, w, h);
    auto top = topItem();
    if (!top)
        return;
    double left = kMargin;
    double right = w - kMargin;
    if (auto item = top->leftBarButtonItem()) {
        double width = item->widthOnBar(cr);
        item->drawInRect(cr, CGRectMake(left, 0, width, h));
        left += width;
    } else if (auto back = backItem()) {
        // A button that points left, titled with the item it goes back to.
        UIBarButtonItem button;
        button.setTitle(back->title().empty() ? "Back" : back->title());
        button.setStyle(UIBarButtonItemStyleBordered);
        double width = button.widthOnBar(cr);
        button.drawInRect(cr, CGRectMake(left + 6, 0, width, h));
        cairo_set_source_rgba(cr, 0.25, 0.25, 0.25, 0.9);
        cairo_move_to(cr, left, h / 2);
        cairo_line_to(cr, left + 7, 7);
        cairo_line_to(cr, left + 7, h - 7);
        cairo_close_path(cr);
        cairo_fill(cr);
        left += width + 6;
    }
    if (auto item = top->rightBarButtonItem()) {
        double width = item->widthOnBar(cr);
        item->drawInRect(cr, CGRectMake(right - width, 0, width, h));
        right -= width;
    }
    // The title centred on the bar, within what the items leave.
    double half = std::min(w / 2 - left, right - w / 2) - kMargin;
    if (half <= 0)
        return;
    // A long title gets smaller type, down to 11 points, to stay between the items.
    UIFont font = UIFont::boldSystemFontOfSize(18);
    cairo_save(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, font.pointSize);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, top->title().c_str(), &extents);
    cairo_restore(cr);
    if (extents.x_advance > 2 * half)
        font.pointSize = std::max(11.0, std::floor(font.pointSize * 2 * half / extents.x_advance));
    drawStringInRect(cr, top->title(), CGRectMake(w / 2 - half, 0, 2 * half, h), font,
                     UIColor::whiteColor(), UITextAlignmentCenter);
}
