#include "platform/UIKit/UILabel.h"

#include "platform/UIKit/UINibValues.h"

std::shared_ptr<UILabel> UILabel::initWithFrame(CGRect frame) {
    auto label = std::make_shared<UILabel>();
    label->setFrame(frame);
    return label;
}

void UILabel::setNibProperties(const Value& properties) {
    UIView::setNibProperties(properties);
    if (properties["text"].isString())
        text_ = properties["text"].string();
    if (auto color = colorFromNibValue(properties["textColor"]))
        textColor_ = *color;
    if (properties["fontSize"].isNumber())
        font_.pointSize = properties["fontSize"].doubleValue();
    if (properties["bold"].isNumber())
        font_.bold = properties["bold"].boolValue();
    std::string alignment = properties["textAlignment"].string();
    if (alignment == "left")
        alignment_ = UITextAlignmentLeft;
    if (alignment == "center")
        alignment_ = UITextAlignmentCenter;
    if (alignment == "right")
        alignment_ = UITextAlignmentRight;
}

void UILabel::sizeToFit() {
    setFrame(CGRect{frame().origin, sizeWithFont(text_, font_)});
}

void UILabel::drawContent(cairo_t* cr) {
    UIView::drawContent(cr);
    drawStringInRect(cr, text_, bounds(), font_, textColor_, alignment_);
}
