#pragma once
// A decoded picture: width, height and pixels, immutable once made. Pixels are cairo image
// pixels: 32-bit native-endian words, premultiplied ARGB, or XRGB for an opaque picture
// (CAIRO_FORMAT_ARGB32 / CAIRO_FORMAT_RGB24); row 0 is the top of the picture.
//
// Threads: an image may be read from any thread at once.

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/CoreGraphics/CGGeometry.h"

class CGImage;
using CGImageRef = std::shared_ptr<CGImage>;

class CGImage {
  public:
    // Adopts `surface` (its reference passes to the image), a cairo image surface of format
    // ARGB32 or RGB24 whose pixels are final. nullptr (and the surface destroyed) for another
    // kind of surface or one in an error state.
    static CGImageRef adoptSurface(cairo_surface_t* surface);
    // A new image of `width` x `height` whose pixels `fill` writes once before the image is
    // handed out; `fill` gets the first row and the row stride in bytes, and must set every
    // pixel (they start unset). nullptr when the size is negative or the memory cannot be had.
    template <class Fill>
    static CGImageRef make(int width, int height, bool opaque, Fill fill) {
        cairo_surface_t* s = newSurface(opaque, width, height);
        if (!s)
            return nullptr;
        fill(cairo_image_surface_get_data(s),
             static_cast<size_t>(cairo_image_surface_get_stride(s)));
        cairo_surface_mark_dirty(s);
        return adoptSurface(s);
    }
    // A new image surface of format RGB24 (`opaque`) or ARGB32 whose pixels are left unset, for
    // a caller that writes every one; nullptr when the size is negative or memory is short.
    static cairo_surface_t* newSurface(bool opaque, int width, int height);

    ~CGImage();
    CGImage(const CGImage&) = delete;
    CGImage& operator=(const CGImage&) = delete;

    size_t width() const;
    size_t height() const;
    // True when every pixel is opaque by construction (an XRGB picture, such as a decoded JPEG).
    bool isOpaque() const;
    const uint8_t* data() const;
    size_t bytesPerRow() const;
    // The image as a cairo source; the image keeps it alive. Do not draw into it.
    cairo_surface_t* surface() const { return surface_; }

  private:
    explicit CGImage(cairo_surface_t* surface) : surface_(surface) {}
    cairo_surface_t* surface_;
};

// A new image of the part of `image` inside `rect` (pixels, y counted from the top; the rect is
// first made integral and cut to the image); nullptr when nothing of the image lies inside.
CGImageRef CGImageCreateWithImageInRect(const CGImageRef& image, CGRect rect);
