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

UIBarButtonItem UINavigationBar::backButton() const {
    UIBarButtonItem button;
    auto back = backItem();
    button.setTitle(!back || back->title().empty() ? "Back" : back->title());
    button.setStyle(UIBarButtonItemStyleBordered);
    return button;
}

UINavigationBar::Layout UINavigationBar::layOut(cairo_t* cr) const {
    Layout layout;
    auto top = topItem();
    if (!top)
        return layout;
    const double w = frame().size.width, h = frame().size.height;
    if (auto item = top->leftBarButtonItem()) {
        layout.left = CGRectMake(kMargin, 0, item->widthOnBar(cr), h);
    } else if (showsBackButton()) {
        // The arrow's 6 points before the button's body.
        layout.left = CGRectMake(kMargin, 0, backButton().widthOnBar(cr) + 6, h);
        layout.back = true;
    }
    if (auto item = top->rightBarButtonItem()) {
        const double width = item->widthOnBar(cr);
        layout.right = CGRectMake(w - kMargin - width, 0, width, h);
    }
    return layout;
}

UINavigationBar::Part UINavigationBar::partAt(CGPoint point) const {
    Layout layout;
    measureWithScratchContext([&](cairo_t* cr) { layout = layOut(cr); });
    if (CGRectContainsPoint(layout.left, point))
        return layout.back ? Part::back : Part::left;
    if (CGRectContainsPoint(layout.right, point))
        return Part::right;
    return Part::none;
}

bool UINavigationBar::touchBegan(CGPoint point) {
    touchedPart_ = partAt(point);
    return true;
}

void UINavigationBar::touchEnded(CGPoint point) {
    const Part part = touchedPart_;
    touchedPart_ = Part::none;
    auto top = topItem();
    if (part == Part::none || partAt(point) != part || !top)
        return;
    if (part == Part::back) {
        pressBackButton();
        return;
    }
    auto item = part == Part::left ? top->leftBarButtonItem() : top->rightBarButtonItem();
    if (item)
        pressItemNamed(item->name());
}

void UINavigationBar::drawContent(cairo_t* cr) {
    const double w = frame().size.width, h = frame().size.height;
    UIBarFillBackground(cr, barStyle_, w, h);
    auto top = topItem();
    if (!top)
        return;
    const Layout layout = layOut(cr);
    if (layout.back) {
        // A button that points left.
        const double left = layout.left.origin.x;
        UIBarButtonItem button = backButton();
        button.drawInRect(cr, CGRectMake(left + 6, 0, layout.left.size.width - 6, h));
        cairo_set_source_rgba(cr, 0.25, 0.25, 0.25, 0.9);
        cairo_move_to(cr, left, h / 2);
        cairo_line_to(cr, left + 7, 7);
        cairo_line_to(cr, left + 7, h - 7);
        cairo_close_path(cr);
        cairo_fill(cr);
    } else if (auto item = top->leftBarButtonItem()) {
        item->drawInRect(cr, layout.left);
    }
    if (auto item = top->rightBarButtonItem())
        item->drawInRect(cr, layout.right);
    const double left = layout.left.size.width > 0 ? CGRectGetMaxX(layout.left) : kMargin;
    const double right = layout.right.size.width > 0 ? layout.right.origin.x : w - kMargin;
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
