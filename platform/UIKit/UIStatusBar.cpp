#include "platform/UIKit/UIStatusBar.h"

#include <ctime>

#include <cmath>

#include "platform/Device/Screen.h"
#include "platform/Foundation/Clock.h"
#include "platform/UIKit/UIStringDrawing.h"

void drawStatusBar(cairo_t* cr, UIStatusBarStyle style, double opacity) {
    if (opacity <= 0)
        return;
    cairo_save(cr);
    cairo_push_group(cr);
    UIColor text = UIColor::whiteColor();
    switch (style) {
        case UIStatusBarStyleBlackTranslucent:
            cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
            break;
        case UIStatusBarStyleBlackOpaque:
            cairo_set_source_rgb(cr, 0, 0, 0);
            break;
        default:
            cairo_set_source_rgb(cr, 0.72, 0.72, 0.72);
            text = UIColor::blackColor();
            break;
    }
    cairo_rectangle(cr, 0, 0, Screen::kWidth, kStatusBarHeight);
    cairo_fill(cr);
    const time_t now = static_cast<time_t>(std::floor(Clock::current().now()));
    struct tm local {};
    localtime_r(&now, &local);
    char clock[8];
    std::strftime(clock, sizeof clock, "%H:%M", &local);
    drawStringInRect(cr, clock, CGRectMake(0, 0, Screen::kWidth, kStatusBarHeight),
                     UIFont::boldSystemFontOfSize(13), text, UITextAlignmentCenter);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, opacity);
    cairo_restore(cr);
}
