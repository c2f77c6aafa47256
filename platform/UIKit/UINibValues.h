#pragma once
// Readers of the values of interface files: rectangles and colours as arrays of numbers.

#include <optional>

#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/Foundation/Value.h"
#include "platform/UIKit/UIColor.h"

// [x, y, width, height]; nullopt unless an array of four numbers.
std::optional<CGRect> rectFromNibValue(const Value& value);
// [red, green, blue, alpha] from 0 to 1; nullopt unless an array of four numbers.
std::optional<UIColor> colorFromNibValue(const Value& value);
