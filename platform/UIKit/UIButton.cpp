#include "platform/UIKit/UIButton.h"

#include "platform/UIKit/UIImageDrawing.h"
#include "platform/UIKit/UINibValues.h"
#include "platform/UIKit/UIStringDrawing.h"

std::shared_ptr<UIButton> UIButton::buttonWithType(UIButtonType type) {
    auto button = std::make_shared<UIButton>();
    if (type == UIButtonTypeRoundedRect) {
        button->setBackgroundColor(UIColor::whiteColor());
        button->setTitleColor(UIColor(0.196, 0.310, 0.522, 1), UIControlStateNormal);
    }
    return button;
}

template <class T>
std::optional<T> UIButton::lookUp(const std::map<unsigned, T>& values, unsigned state) {
    if (auto it = values.find(state); it != values.end())
        return it->second;
    if (auto it = values.find(UIControlStateNormal); it != values.end())
        return it->second;
    return std::nullopt;
}

void UIButton::setTitle(const std::string& title, unsigned state) {
    titles_[state] = title;
    setNeedsDisplay();
}

std::string UIButton::titleForState(unsigned state) const {
    return lookUp(titles_, state).value_or("");
}

void UIButton::setTitleColor(UIColor color, unsigned state) {
    titleColors_[state] = color;
    setNeedsDisplay();
}

UIColor UIButton::titleColorForState(unsigned state) const {
    return lookUp(titleColors_, state).value_or(UIColor::whiteColor());
}

void UIButton::setBackgroundImage(const std::shared_ptr<UIImage>& image, unsigned state) {
    backgroundImages_[state] = image;
    setNeedsDisplay();
}

std::shared_ptr<UIImage> UIButton::backgroundImageForState(unsigned state) const {
    return lookUp(backgroundImages_, state).value_or(nullptr);
}

void UIButton::setNibProperties(const Value& properties) {
    if (properties["buttonType"].string() == "roundedRect") {
        setBackgroundColor(UIColor::whiteColor());
        setTitleColor(UIColor(0.196, 0.310, 0.522, 1), UIControlStateNormal);
    }
    UIControl::setNibProperties(properties);
    if (properties["title"].isString())
        setTitle(properties["title"].string(), UIControlStateNormal);
    if (auto color = colorFromNibValue(properties["titleColor"]))
        setTitleColor(*color, UIControlStateNormal);
    if (properties["backgroundImage"].isString())
        setBackgroundImage(imageNamed(properties["backgroundImage"].string()),
                           UIControlStateNormal);
}

void UIButton::drawContent(cairo_t* cr) {
    // A disabled button shows faded.
    if (!isEnabled())
        cairo_push_group(cr);
    cairo_push_group(cr);
    UIView::drawContent(cr);
    if (auto image = currentBackgroundImage())
        drawImageInRect(cr, *image, bounds());
    cairo_pattern_t* background = cairo_pop_group(cr);
    cairo_set_source(cr, background);
    cairo_paint(cr);
    if (isHighlighted() && !backgroundImages_.contains(UIControlStateHighlighted)) {
        // Darkens only where the background drew.
        cairo_set_source_rgba(cr, 0, 0, 0, kHighlightShade);
        cairo_mask(cr, background);
    }
    cairo_pattern_destroy(background);
    drawStringInRect(cr, currentTitle(), bounds(), UIFont::boldSystemFontOfSize(15),
                     currentTitleColor(), UITextAlignmentCenter);
    if (!isEnabled()) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, kDisabledAlpha);
    }
}
