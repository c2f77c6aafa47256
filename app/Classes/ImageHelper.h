#pragma once
// Pixels of a decoded image as a plain ARGB buffer: 4 bytes a pixel (alpha, red, green, blue,
// premultiplied, device RGB), rows of exactly 4 x width bytes, the top row first.
//
// Stateless; runs on the caller's thread. Failures write one line to standard error.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/CoreGraphics/CGContext.h"
#include "platform/Foundation/NSObject.h"
#include "platform/UIKit/UIImage.h"

// Indexes of the colour bytes of pixel (x, y) in an ARGB buffer whose rows are `width` pixels.
// The alpha byte is at 4 x (x + y x width).
inline int redOffset(int x, int y, int width) {
    return 4 * (x + y * width) + 1;
}
inline int greenOffset(int x, int y, int width) {
    return 4 * (x + y * width) + 2;
}
inline int blueOffset(int x, int y, int width) {
    return 4 * (x + y * width) + 3;
}

// A new bitmap context of (int)width x (int)height pixels drawing into a new malloc'ed ARGB
// buffer of (size_t)(width x height x 4) bytes, or nullptr. The context does not own the buffer:
// the caller takes it with CGBitmapContextGetData and frees it with free().
CGContextRef CreateARGBBitmapContext(float width, float height);

struct FreeDeleter {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using ARGBBitmap = std::unique_ptr<uint8_t[], FreeDeleter>;

class ImageHelper : public NSObject {
  public:
    // The whole image drawn upright into a new ARGB buffer of its size; null when no context
    // can be made (a null image or one of zero width or height among them).
    static ARGBBitmap bitmapFromImage(const std::shared_ptr<UIImage>& image);
};
