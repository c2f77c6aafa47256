#pragma once
// Drawing of one line of text with cairo's text API in DejaVu Sans.

#include <cairo.h>

#include <functional>
#include <string>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/UIKit/UIColor.h"

enum UITextAlignment {
    UITextAlignmentLeft = 0,
    UITextAlignmentCenter = 1,
    UITextAlignmentRight = 2
};

// A font: size in points, bold or not.
struct UIFont {
    double pointSize = 17;
    bool bold = false;

    static UIFont systemFontOfSize(double size) { return {size, false}; }
    static UIFont boldSystemFontOfSize(double size) { return {size, true}; }
};

// Draws `text` on one line in `rect`, centred vertically, aligned horizontally as `alignment`
// says, in `color`. Text wider than the rect overflows it.
void drawStringInRect(cairo_t* cr, const std::string& text, CGRect rect, UIFont font, UIColor color,
                      UITextAlignment alignment);

// The size of `text` on one line in `font`: its advance width and the font's line height
// (ascent plus descent), as drawStringInRect lays it out.
CGSize sizeWithFont(const std::string& text, UIFont font);

// Runs `measure` with a cairo context that draws nowhere: for measuring text and laying out
// outside of drawing.
void measureWithScratchContext(const std::function<void(cairo_t*)>& measure);
