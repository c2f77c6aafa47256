#include "platform/UIKit/UIBarButtonItem.h"

#include <cmath>
#include <map>

#include "platform/UIKit/UIStringDrawing.h"

namespace {

struct SystemItemInfo {
    const char* name;
    const char* title;  // "" for the glyphs and the spaces
};

const std::map<int, SystemItemInfo>& systemItems() {
    static const std::map<int, SystemItemInfo> items = {
        {UIBarButtonSystemItemDone, {"done", "Done"}},
        {UIBarButtonSystemItemCancel, {"cancel", "Cancel"}},
        {UIBarButtonSystemItemEdit, {"edit", "Edit"}},
        {UIBarButtonSystemItemSave, {"save", "Save"}},
        {UIBarButtonSystemItemFlexibleSpace, {"flexibleSpace", ""}},
        {UIBarButtonSystemItemFixedSpace, {"fixedSpace", ""}},
        {UIBarButtonSystemItemAction, {"action", ""}},
        {UIBarButtonSystemItemPlay, {"play", ""}},
        {UIBarButtonSystemItemPause, {"pause", ""}},
    };
    return items;
}

constexpr double kGlyphWidth = 44;
constexpr double kTitlePadding = 12;
constexpr double kFontSize = 13;

}  // namespace

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::initWithBarButtonSystemItem(
    UIBarButtonSystemItem systemItem, std::weak_ptr<NSObject> target, Action action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->setSystemItem(systemItem);
    item->setTarget(std::move(target), std::move(action));
    return item;
}

std::shared_ptr<UIBarButtonItem> UIBarButtonItem::initWithTitle(std::string title,
                                                                UIBarButtonItemStyle style,
                                                                std::weak_ptr<NSObject> target,
                                                                Action action) {
    auto item = std::make_shared<UIBarButtonItem>();
    item->name_ = title;
    item->title_ = std::move(title);
    item->style_ = style;
    item->setTarget(std::move(target), std::move(action));
    return item;
}

void UIBarButtonItem::setSystemItem(UIBarButtonSystemItem item) {
    systemItem_ = item;
    UIView::setScreenNeedsDisplay();
    auto it = systemItems().find(item);
    if (it == systemItems().end())
        return;
    name_ = it->second.name;
    title_ = it->second.title;
    if (item == UIBarButtonSystemItemDone)
        style_ = UIBarButtonItemStyleDone;
    else if (!title_.empty())
        style_ = UIBarButtonItemStyleBordered;
}

bool UIBarButtonItem::isSpace() const {
    return systemItem_ == UIBarButtonSystemItemFixedSpace ||
           systemItem_ == UIBarButtonSystemItemFlexibleSpace;
}

void UIBarButtonItem::setTarget(std::weak_ptr<NSObject> target, Action action) {
    target_ = std::move(target);
    action_ = std::move(action);
}

bool UIBarButtonItem::press() {
    if (isSpace() || !enabled_ || !action_)
        return false;
    auto target = target_.lock();
    if (!target)
        return false;
    // The action may release this item (a bar's items replaced).
    auto self = retained(this);
    auto action = action_;
    action();
    return true;
}

double UIBarButtonItem::widthOnBar(cairo_t* cr) const {
    if (systemItem_ == UIBarButtonSystemItemFixedSpace)
        return width_;
    if (systemItem_ == UIBarButtonSystemItemFlexibleSpace)
        return 0;
    if (title_.empty())
        return kGlyphWidth;
    cairo_save(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, kFontSize);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, title_.c_str(), &extents);
    cairo_restore(cr);
    return std::ceil(extents.x_advance) + 2 * kTitlePadding;
}

void UIBarButtonItem::drawInRect(cairo_t* cr, CGRect rect) const {
    if (isSpace())
        return;
    const double shade = enabled_ ? 1.0 : 0.5;
    const double x = rect.origin.x, y = rect.origin.y;
    const double w = rect.size.width, h = rect.size.height;
    cairo_save(cr);
    if (!title_.empty()) {
        if (style_ != UIBarButtonItemStylePlain) {
            // A rounded button: blue for Done, dark otherwise.
            const double r = 5, top = y + 7, height = h - 14;
            cairo_new_sub_path(cr);
            cairo_arc(cr, x + w - r, top + r, r, -M_PI / 2, 0);
            cairo_arc(cr, x + w - r, top + height - r, r, 0, M_PI / 2);
            cairo_arc(cr, x + r, top + height - r, r, M_PI / 2, M_PI);
            cairo_arc(cr, x + r, top + r, r, M_PI, 3 * M_PI / 2);
            cairo_close_path(cr);
            if (style_ == UIBarButtonItemStyleDone)
                cairo_set_source_rgba(cr, 0.2, 0.4, 0.85, 0.9);
            else
                cairo_set_source_rgba(cr, 0.25, 0.25, 0.25, 0.9);
            cairo_fill_preserve(cr);
            cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        drawStringInRect(cr, title_, rect, UIFont::boldSystemFontOfSize(kFontSize),
                         UIColor(shade, shade, shade, 1), UITextAlignmentCenter);
        cairo_restore(cr);
        return;
    }
    const double cx = x + w / 2, cy = y + h / 2;
    cairo_set_source_rgb(cr, shade, shade, shade);
    switch (systemItem_) {
        case UIBarButtonSystemItemPlay:
            cairo_move_to(cr, cx - 7, cy - 9);
            cairo_line_to(cr, cx + 9, cy);
            cairo_line_to(cr, cx - 7, cy + 9);
            cairo_close_path(cr);
            cairo_fill(cr);
            break;
        case UIBarButtonSystemItemPause:
            cairo_rectangle(cr, cx - 8, cy - 9, 5, 18);
            cairo_rectangle(cr, cx + 3, cy - 9, 5, 18);
            cairo_fill(cr);
            break;
        case UIBarButtonSystemItemAction:
            // A box with an arrow leaving it.
            cairo_set_line_width(cr, 2);
            cairo_rectangle(cr, cx - 9, cy - 4, 18, 13);
            cairo_stroke(cr);
            cairo_move_to(cr, cx - 6, cy + 5);
            cairo_curve_to(cr, cx - 4, cy - 6, cx + 2, cy - 8, cx + 8, cy - 8);
            cairo_stroke(cr);
            cairo_move_to(cr, cx + 10, cy - 8);
            cairo_line_to(cr, cx + 4, cy - 13);
            cairo_line_to(cr, cx + 4, cy - 3);
            cairo_close_path(cr);
            cairo_fill(cr);
            break;
        default:
            break;
    }
    cairo_restore(cr);
}

void UIBarButtonItem::setNibProperties(const Value& properties) {
    if (properties["systemItem"].isString()) {
        const std::string wanted = properties["systemItem"].string();
        for (const auto& [item, info] : systemItems()) {
            if (wanted == info.name)
                setSystemItem(static_cast<UIBarButtonSystemItem>(item));
        }
    }
    if (properties["title"].isString()) {
        title_ = properties["title"].string();
        if (name_.empty())
            name_ = title_;
    }
    const std::string style = properties["style"].string();
    if (style == "plain")
        style_ = UIBarButtonItemStylePlain;
    if (style == "bordered")
        style_ = UIBarButtonItemStyleBordered;
    if (style == "done")
        style_ = UIBarButtonItemStyleDone;
    if (properties["width"].isNumber())
        width_ = properties["width"].doubleValue();
    if (properties["enabled"].isNumber())
        enabled_ = properties["enabled"].boolValue();
    if (properties["id"].isString() && !properties["id"].string().empty())
        name_ = properties["id"].string();
}
