#pragma once
// Image loading by name and image drawing for the views.

#include <cairo.h>

#include <memory>
#include <string>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/UIKit/UIImage.h"

// The platform's imageNamed:: the resource `name` (with its extension) of the main bundle, read
// once and kept; nullptr when it is missing or not a picture.
std::shared_ptr<UIImage> imageNamed(const std::string& name);

// Draws `image` into `rect`, scaled to fill it; a UIStretchableImage keeps its caps.
void drawImageInRect(cairo_t* cr, const UIImage& image, CGRect rect);
