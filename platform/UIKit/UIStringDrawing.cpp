#include "platform/UIKit/UIStringDrawing.h"

#include <cmath>

void drawStringInRect(cairo_t* cr, const std::string& text, CGRect rect, UIFont font, UIColor color,
                      UITextAlignment alignment) {
    if (text.empty() || color.alpha() <= 0)
        return;
    cairo_save(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font.pointSize);
    cairo_text_extents_t textExtents;
    cairo_text_extents(cr, text.c_str(), &textExtents);
    cairo_font_extents_t line;
    cairo_font_extents(cr, &line);
    double x = rect.origin.x - textExtents.x_bearing;
    if (alignment == UITextAlignmentCenter)
        x = rect.origin.x + (rect.size.width - textExtents.width) / 2 - textExtents.x_bearing;
    else if (alignment == UITextAlignmentRight)
        x = rect.origin.x + rect.size.width - textExtents.width - textExtents.x_bearing;
    // The line's ascent and descent, not the glyphs', keep titles at one height.
    double y = rect.origin.y + (rect.size.height - (line.ascent + line.descent)) / 2 + line.ascent;
    color.setSource(cr);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
    cairo_restore(cr);
}

void measureWithScratchContext(const std::function<void(cairo_t*)>& measure) {
    // Measuring needs a cairo context, not a surface of any size.
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    measure(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

CGSize sizeWithFont(const std::string& text, UIFont font) {
    cairo_text_extents_t textExtents;
    cairo_font_extents_t line;
    measureWithScratchContext([&](cairo_t* cr) {
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, font.pointSize);
        cairo_text_extents(cr, text.c_str(), &textExtents);
        cairo_font_extents(cr, &line);
    });
    return CGSizeMake(std::ceil(textExtents.x_advance), std::ceil(line.ascent + line.descent));
}
