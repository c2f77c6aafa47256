#pragma once
// Drawing of the status bar: the top 20 points of the screen with the time of day, grey in the
// default style, black (translucent or opaque) in the others.

#include <cairo.h>

#include "platform/UIKit/UIApplication.h"

inline constexpr double kStatusBarHeight = 20;

// Draws the bar at `opacity` (nothing at 0).
void drawStatusBar(cairo_t* cr, UIStatusBarStyle style, double opacity);
