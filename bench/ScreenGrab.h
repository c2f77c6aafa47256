#pragma once
// A screen grab for benchmarks that changes from frame to frame: a moving gradient with a bar,
// and, with `overlay`, a band of text-like stripes at the bottom. As JPEG at quality 0.5, as the
// capture keeps it.

#include <cairo.h>

#include "platform/CoreGraphics/CGImage.h"
#include "platform/UIKit/UIImage.h"

inline Data screenGrabJPEG(int index, bool overlay) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 320, 480);
    cairo_t* cr = cairo_create(s);
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, index % 480, 320, 480);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 0.1, 0.3, 0.8);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0.9, 0.6, 0.2);
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, (index * 3) % 300, 100, 20, 200);
    cairo_fill(cr);
    for (int x = 0; overlay && x < 320; x += 6) {
        cairo_set_source_rgb(cr, (x * 7 % 10) / 10.0, 0.2, (x * 3 % 10) / 10.0);
        cairo_rectangle(cr, x, 430 + (x + index) % 20, 3, 30);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    return UIImageJPEGRepresentation(UIImage::imageWithCGImage(CGImage::adoptSurface(s)), 0.5);
}
