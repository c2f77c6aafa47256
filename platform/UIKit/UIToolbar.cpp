#include "platform/UIKit/UIToolbar.h"

#include <algorithm>

#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIStringDrawing.h"

namespace {
constexpr double kMargin = 6;
constexpr double kGap = 10;
}  // namespace

void UIToolbar::setItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated) {
    (void)animated;
    items_ = std::move(items);
    setNeedsDisplay();
}

std::string UIToolbar::itemNames() const {
    std::string names;
    for (const auto& item : items_) {
        if (!names.empty())
            names += ' ';
        names += item ? item->name() : "";
    }
    return names;
}

std::shared_ptr<UIBarButtonItem> UIToolbar::itemNamed(const std::string& name) const {
    for (const auto& item : items_) {
        if (item && item->name() == name)
            return item;
    }
    return nullptr;
}

bool UIToolbar::pressItemNamed(const std::string& name) {
    return pressItem(itemNamed(name));
}

bool UIToolbar::pressItem(const std::shared_ptr<UIBarButtonItem>& item) {
    if (!isVisibleOnScreen() || UIApplication::sharedApplication()->isIgnoringInteractionEvents())
        return false;
    return item && item->press();
}

std::shared_ptr<UIBarButtonItem> UIToolbar::itemAt(CGPoint point) const {
    auto rects = itemRects();
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] && !items_[i]->isSpace() && CGRectContainsPoint(rects[i], point))
            return items_[i];
    }
    return nullptr;
}

bool UIToolbar::touchBegan(CGPoint point) {
    touchedItem_ = itemAt(point);
    return true;
}

void UIToolbar::touchEnded(CGPoint point) {
    auto item = touchedItem_.lock();
    touchedItem_.reset();
    if (item && itemAt(point) == item)
        pressItem(item);
}

std::vector<CGRect> UIToolbar::layOut(cairo_t* cr) const {
    const double h = frame().size.height;
    std::vector<double> widths;
    double used = 2 * kMargin;
    int flexible = 0;
    for (const auto& item : items_) {
        double width = item ? item->widthOnBar(cr) : 0;
        if (item && item->systemItem() == UIBarButtonSystemItemFlexibleSpace)
            ++flexible;
        widths.push_back(width);
        used += width;
    }
    if (items_.size() > 1)
        used += kGap * static_cast<double>(items_.size() - 1);
    const double share = flexible ? std::max(0.0, frame().size.width - used) / flexible : 0;
    std::vector<CGRect> rects;
    double x = kMargin;
    for (size_t i = 0; i < items_.size(); ++i) {
        double width = widths[i];
        if (items_[i] && items_[i]->systemItem() == UIBarButtonSystemItemFlexibleSpace)
            width = share;
        rects.push_back(CGRectMake(x, 0, width, h));
        x += width + kGap;
    }
    return rects;
}

std::vector<CGRect> UIToolbar::itemRects() const {
    std::vector<CGRect> rects;
    measureWithScratchContext([&](cairo_t* cr) { rects = layOut(cr); });
    return rects;
}

void UIToolbar::drawContent(cairo_t* cr) {
    const double w = frame().size.width, h = frame().size.height;
    UIBarFillBackground(cr, barStyle_, w, h);
    auto rects = layOut(cr);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i])
            items_[i]->drawInRect(cr, rects[i]);
    }
}

void UIToolbar::setNibProperties(const Value& properties) {
    UIView::setNibProperties(properties);
    const std::string style = properties["barStyle"].string();
    if (style == "default")
        barStyle_ = UIBarStyleDefault;
    if (style == "black")
        barStyle_ = UIBarStyleBlack;
    if (style == "blackTranslucent")
        barStyle_ = UIBarStyleBlackTranslucent;
}

bool UIToolbar::setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) {
    if (name != "items")
        return false;
    auto item = std::dynamic_pointer_cast<UIBarButtonItem>(object);
    if (!item)
        return false;
    items_.push_back(std::move(item));
    return true;
}
