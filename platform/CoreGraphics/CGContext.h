#pragma once
// Drawing contexts. A bitmap context draws into a buffer of 8-bit ARGB pixels, in the byte order
// its bitmap info names: alpha (or a skipped byte) first, then red, green, blue; with no byte
// order flag (or kCGBitmapByteOrder32Big) the bytes of a pixel lie A, R, G, B in memory, with
// kCGBitmapByteOrder32Little they lie B, G, R, A. Row 0 of the buffer is the top of the picture;
// user space has its origin at the bottom left with y growing upwards, as on the phone.
//
// Drawing is done with cairo. Each drawing operation reads the buffer, draws, and writes the
// buffer back, so the caller may change the pixels between operations.
//
// Threads: a context is used by one thread at a time.

#include <cairo.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/CoreGraphics/CGColorSpace.h"
#include "platform/CoreGraphics/CGGeometry.h"
#include "platform/CoreGraphics/CGImage.h"
#include "platform/CoreGraphics/CGPath.h"

using CGBitmapInfo = uint32_t;

enum CGImageAlphaInfo : uint32_t {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
    kCGImageAlphaOnly = 7,
};

inline constexpr CGBitmapInfo kCGBitmapAlphaInfoMask = 0x1F;
inline constexpr CGBitmapInfo kCGBitmapByteOrderMask = 0x7000;
inline constexpr CGBitmapInfo kCGBitmapByteOrderDefault = 0;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2 << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Big = 4 << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Host = std::endian::native == std::endian::little
                                                             ? kCGBitmapByteOrder32Little
                                                             : kCGBitmapByteOrder32Big;

class CGContext {
  public:
    ~CGContext();
    CGContext(const CGContext&) = delete;
    CGContext& operator=(const CGContext&) = delete;

    // Bitmap contexts only (every context is one for now).
    void* data() const { return data_; }
    size_t width() const { return width_; }
    size_t height() const { return height_; }
    size_t bytesPerRow() const { return bytesPerRow_; }
    CGBitmapInfo bitmapInfo() const { return info_; }
    const CGColorSpaceRef& colorSpace() const { return space_; }

    // Graphics state: the current transform (CTM), kept on a stack.
    void saveGState();
    void restoreGState();
    void translateCTM(CGFloat tx, CGFloat ty);

    // Draws `image` upright, scaled to fill `rect` (user space).
    void drawImage(CGRect rect, const CGImage& image);

    // Filling. The fill colour is part of the graphics state (opaque black at first); the
    // current path is not: points are added in user space under the CTM of that moment, and a
    // fill paints the enclosed area (non-zero winding) and empties the path.
    void setFillColorSpace(const CGColorSpaceRef& space);
    void setRGBFillColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    void addPath(const CGPath& path);
    void fillPath();

    // A new image of the pixels as they are now; nullptr when memory is short.
    CGImageRef makeImage() const;

    // The hook of every drawing operation: runs `draw` on a cairo context whose user space and
    // transform are this context's, over the pixels, then stores the pixels.
    void draw(const std::function<void(cairo_t*)>& draw);

  private:
    friend std::shared_ptr<CGContext> CGBitmapContextCreate(void*, size_t, size_t, size_t, size_t,
                                                            const CGColorSpaceRef&, CGBitmapInfo);
    CGContext() = default;
    // cairo's drawing state over the pixels, made at the first operation that needs it (a whole
    // opaque image drawn one to one does not); nullptr when memory is short, and the operation
    // then does nothing.
    cairo_t* cairo();
    bool littleEndianPixels() const;
    // True when the buffer's byte order is not the host's: each pixel is a byte-swapped cairo word.
    bool swapsWords() const;
    bool opaque() const;
    // Copies the buffer into cairo's native words (`load`) and back (`store`); nothing to do when
    // cairo draws in the buffer itself.
    void load();
    void store();
    void toNative(uint8_t* rows, size_t stride) const;
    // Writes cairo words into the buffer; `opaqueWords` sets every alpha byte to 255.
    void fromNative(const uint8_t* rows, size_t stride, bool opaqueWords);
    // True when drawing `image` into `rect` replaces every pixel one to one. State added later
    // (clip, alpha, blend mode) must be checked here too.
    bool coversWholly(CGRect rect, const CGImage& image) const;

    uint8_t* data_ = nullptr;
    bool ownsData_ = false;
    size_t width_ = 0;
    size_t height_ = 0;
    size_t bytesPerRow_ = 0;
    CGBitmapInfo info_ = 0;
    CGColorSpaceRef space_;
    bool direct_ = false;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
};

// Shared: the last reference going releases the context. Releasing never frees a buffer the
// caller passed in; a buffer the context allocated itself goes with it.
using CGContextRef = std::shared_ptr<CGContext>;

// A bitmap context over `data` (bytesPerRow x height bytes, kept by the caller and outliving the
// context), or over a zeroed buffer of its own when `data` is null (bytesPerRow 0 then means
// width x 4). Supported: 8 bits per component, an RGB colour space, alpha
// kCGImageAlphaPremultipliedFirst or kCGImageAlphaNoneSkipFirst, byte order default, 32Big or
// 32Little. nullptr for a zero width or height, a row shorter than width x 4 bytes, a missing
// colour space or any other combination.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, const CGColorSpaceRef& space,
                                   CGBitmapInfo bitmapInfo);

// The context's buffer (null for a null context).
void* CGBitmapContextGetData(const CGContextRef& context);
size_t CGBitmapContextGetWidth(const CGContextRef& context);
size_t CGBitmapContextGetHeight(const CGContextRef& context);
size_t CGBitmapContextGetBytesPerRow(const CGContextRef& context);
// A new image of the context's pixels; nullptr for a null context.
CGImageRef CGBitmapContextCreateImage(const CGContextRef& context);
// Drops the caller's reference (the context goes when no one else holds it).
void CGContextRelease(CGContextRef& context);

void CGContextSaveGState(const CGContextRef& context);
void CGContextRestoreGState(const CGContextRef& context);
void CGContextTranslateCTM(const CGContextRef& context, CGFloat tx, CGFloat ty);
// Draws `image` upright into `rect`; nothing for a null context or image.
void CGContextDrawImage(const CGContextRef& context, CGRect rect, const CGImageRef& image);
// Only RGB spaces exist; nothing for a null context or space.
void CGContextSetFillColorSpace(const CGContextRef& context, const CGColorSpaceRef& space);
void CGContextSetRGBFillColor(const CGContextRef& context, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha);
void CGContextAddPath(const CGContextRef& context, const CGPathRef& path);
void CGContextFillPath(const CGContextRef& context);
