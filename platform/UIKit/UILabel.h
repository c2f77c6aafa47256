#pragma once
// One line of text: text, colour, font and alignment, drawn over the background colour. Touches
// pass through it to what lies below.
//
// Threads: main thread only.

#include <memory>
#include <string>

#include "platform/UIKit/UIStringDrawing.h"
#include "platform/UIKit/UIView.h"

class UILabel : public UIView {
  public:
    UILabel() { setUserInteractionEnabled(false); }
    static std::shared_ptr<UILabel> initWithFrame(CGRect frame);

    const std::string& text() const { return text_; }
    void setText(std::string text) {
        if (text != text_)
            setNeedsDisplay();
        text_ = std::move(text);
    }
    UIColor textColor() const { return textColor_; }
    void setTextColor(UIColor color) {
        textColor_ = color;
        setNeedsDisplay();
    }
    UIFont font() const { return font_; }
    void setFont(UIFont font) {
        font_ = font;
        setNeedsDisplay();
    }
    UITextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(UITextAlignment alignment) {
        alignment_ = alignment;
        setNeedsDisplay();
    }
    // Resizes the frame to the text in the label's font (sizeWithFont), keeping its origin.
    void sizeToFit();

    // "text", "textColor" [r, g, b, a], "fontSize", "bold", "textAlignment" ("left", "center",
    // "right"), besides the view's properties.
    void setNibProperties(const Value& properties) override;

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    std::string text_;
    UIColor textColor_ = UIColor::blackColor();
    UIFont font_ = UIFont::systemFontOfSize(17);
    UITextAlignment alignment_ = UITextAlignmentLeft;
};
