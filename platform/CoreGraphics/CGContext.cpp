#include "platform/CoreGraphics/CGContext.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/CoreGraphics/PixelRows.h"

namespace {

bool supportedAlpha(CGBitmapInfo info) {
    CGBitmapInfo alpha = info & kCGBitmapAlphaInfoMask;
    return alpha == kCGImageAlphaPremultipliedFirst || alpha == kCGImageAlphaNoneSkipFirst;
}

bool supportedByteOrder(CGBitmapInfo info) {
    CGBitmapInfo order = info & kCGBitmapByteOrderMask;
    return order == kCGBitmapByteOrderDefault || order == kCGBitmapByteOrder32Big ||
           order == kCGBitmapByteOrder32Little;
}

// Rows of `pixels` 32-bit pixels from `from` to `to` (which do not overlap), each or'ed with
// `mask`: as they are, or byte-swapped.
PIXEL_ROW_CLONES void orPixelRow(const uint8_t* __restrict from, uint8_t* __restrict to,
                                 size_t pixels, uint32_t mask) {
    const auto one = [&](size_t x) {
        storePixelWord(to + 4 * x, loadPixelWord(from + 4 * x) | mask);
    };
    size_t x = 0;
    for (; x + kPixelBlock <= pixels; x += kPixelBlock) {
        for (size_t i = 0; i < kPixelBlock; ++i) one(x + i);
    }
    for (; x < pixels; ++x) one(x);
}

PIXEL_ROW_CLONES void swapPixelRow(const uint8_t* __restrict from, uint8_t* __restrict to,
                                   size_t pixels, uint32_t mask) {
    const auto one = [&](size_t x) {
        storePixelWord(to + 4 * x, __builtin_bswap32(loadPixelWord(from + 4 * x) | mask));
    };
    size_t x = 0;
    for (; x + kPixelBlock <= pixels; x += kPixelBlock) {
        for (size_t i = 0; i < kPixelBlock; ++i) one(x + i);
    }
    for (; x < pixels; ++x) one(x);
}

void copyPixelRow(const uint8_t* from, uint8_t* to, size_t pixels, bool swap, uint32_t mask) {
    if (swap) {
        swapPixelRow(from, to, pixels, mask);
    } else if (mask) {
        orPixelRow(from, to, pixels, mask);
    } else {
        std::memcpy(to, from, pixels * 4);
    }
}

}  // namespace

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, const CGColorSpaceRef& space,
                                   CGBitmapInfo bitmapInfo) {
    if (width == 0 || height == 0 || bitsPerComponent != 8 || !space ||
        space->model() != CGColorSpace::Model::RGB || !supportedAlpha(bitmapInfo) ||
        !supportedByteOrder(bitmapInfo)) {
        return nullptr;
    }
    // cairo counts pixels and strides in int.
    if (width > INT_MAX / 4 || height > INT_MAX)
        return nullptr;
    if (!data && bytesPerRow == 0)
        bytesPerRow = width * 4;
    if (bytesPerRow < width * 4 || bytesPerRow > INT_MAX)
        return nullptr;

    CGContextRef context(new (std::nothrow) CGContext());
    if (!context)
        return nullptr;
    if (data) {
        context->data_ = static_cast<uint8_t*>(data);
    } else {
        context->data_ = static_cast<uint8_t*>(std::calloc(height, bytesPerRow));
        context->ownsData_ = true;
        if (!context->data_)
            return nullptr;
    }
    context->width_ = width;
    context->height_ = height;
    context->bytesPerRow_ = bytesPerRow;
    context->info_ = bitmapInfo;
    context->space_ = space;
    // cairo draws in the buffer itself when its words are cairo's own; else in a copy.
    context->direct_ = !context->swapsWords() && bytesPerRow % 4 == 0;
    return context;
}

bool CGContext::littleEndianPixels() const {
    return (info_ & kCGBitmapByteOrderMask) == kCGBitmapByteOrder32Little;
}

bool CGContext::swapsWords() const {
    return littleEndianPixels() != (std::endian::native == std::endian::little);
}

bool CGContext::opaque() const {
    return (info_ & kCGBitmapAlphaInfoMask) == kCGImageAlphaNoneSkipFirst;
}

cairo_t* CGContext::cairo() {
    if (cr_)
        return cr_;
    const cairo_format_t format = opaque() ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
    const int w = static_cast<int>(width_);
    const int h = static_cast<int>(height_);
    // The copy's pixels need no clearing: every drawing loads them first.
    surface_ = direct_ ? cairo_image_surface_create_for_data(data_, format, w, h,
                                                             static_cast<int>(bytesPerRow_))
                       : CGImage::newSurface(opaque(), w, h);
    cairo_t* cr = surface_ ? cairo_create(surface_) : nullptr;
    if (!cr || cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        if (cr)
            cairo_destroy(cr);
        if (surface_)
            cairo_surface_destroy(surface_);
        surface_ = nullptr;
        return nullptr;
    }
    cr_ = cr;
    // User space: origin at the bottom left, y up.
    cairo_translate(cr_, 0, static_cast<double>(height_));
    cairo_scale(cr_, 1, -1);
    return cr_;
}

CGContext::~CGContext() {
    if (cr_)
        cairo_destroy(cr_);
    if (surface_)
        cairo_surface_destroy(surface_);
    if (ownsData_)
        std::free(data_);
}

void CGContext::toNative(uint8_t* rows, size_t stride) const {
    const bool swap = swapsWords();
    // The skipped byte is set in the cairo word, so before the swap it lies at the other end.
    const uint32_t skipped = opaque() ? 0xFF000000u : 0;
    const uint32_t mask = swap ? __builtin_bswap32(skipped) : skipped;
    for (size_t y = 0; y < height_; ++y) {
        copyPixelRow(data_ + y * bytesPerRow_, rows + y * stride, width_, swap, mask);
    }
}

void CGContext::load() {
    if (direct_)
        return;
    cairo_surface_flush(surface_);
    toNative(cairo_image_surface_get_data(surface_),
             static_cast<size_t>(cairo_image_surface_get_stride(surface_)));
    cairo_surface_mark_dirty(surface_);
}

void CGContext::store() {
    cairo_surface_flush(surface_);
    if (direct_)
        return;
    fromNative(cairo_image_surface_get_data(surface_),
               static_cast<size_t>(cairo_image_surface_get_stride(surface_)), opaque());
}

void CGContext::fromNative(const uint8_t* rows, size_t stride, bool opaqueWords) {
    const uint32_t skipped = opaqueWords ? 0xFF000000u : 0;
    for (size_t y = 0; y < height_; ++y) {
        copyPixelRow(rows + y * stride, data_ + y * bytesPerRow_, width_, swapsWords(), skipped);
    }
}

void CGContext::draw(const std::function<void(cairo_t*)>& draw) {
    cairo_t* cr = cairo();
    if (!cr)
        return;
    load();
    draw(cr);
    store();
}

void CGContext::saveGState() {
    if (cairo_t* cr = cairo())
        cairo_save(cr);
}
void CGContext::restoreGState() {
    if (cairo_t* cr = cairo())
        cairo_restore(cr);
}
void CGContext::translateCTM(CGFloat tx, CGFloat ty) {
    if (cairo_t* cr = cairo())
        cairo_translate(cr, tx, ty);
}

void CGContext::drawImage(CGRect rect, const CGImage& image) {
    rect = CGRectStandardize(rect);
    if (CGRectIsEmpty(rect) || image.width() == 0 || image.height() == 0)
        return;
    if (coversWholly(rect, image)) {
        // The common case of a frame grab: one pass, no cairo.
        if (surface_)
            cairo_surface_flush(surface_);
        fromNative(image.data(), image.bytesPerRow(), true);
        if (surface_)
            cairo_surface_mark_dirty(surface_);
        return;
    }
    const double iw = static_cast<double>(image.width());
    const double ih = static_cast<double>(image.height());
    draw([&](cairo_t* cr) {
        cairo_save(cr);
        // The image's top row goes to the rect's top edge (its larger y).
        cairo_translate(cr, rect.origin.x, rect.origin.y + rect.size.height);
        cairo_scale(cr, rect.size.width / iw, -rect.size.height / ih);
        cairo_set_source_surface(cr, image.surface(), 0, 0);
        // A scaled image keeps solid edges: samples past its border repeat the border.
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_rectangle(cr, 0, 0, iw, ih);
        cairo_fill(cr);
        cairo_restore(cr);
    });
}

bool CGContext::coversWholly(CGRect rect, const CGImage& image) const {
    // Without cairo's state nothing has moved the CTM yet.
    cairo_matrix_t m{1, 0, 0, -1, 0, static_cast<double>(height_)};
    if (cr_)
        cairo_get_matrix(cr_, &m);
    const bool baseTransform = m.xx == 1 && m.yx == 0 && m.xy == 0 && m.yy == -1 && m.x0 == 0 &&
                               m.y0 == static_cast<double>(height_);
    return baseTransform && image.isOpaque() && image.width() == width_ &&
           image.height() == height_ &&
           rect == CGRectMake(0, 0, static_cast<CGFloat>(width_), static_cast<CGFloat>(height_));
}

void CGContext::setFillColorSpace(const CGColorSpaceRef& space) {
    // Every space is device RGB: the components keep their meaning.
    (void)space;
}

void CGContext::setRGBFillColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    // cairo's source is saved and restored with its state, as CG's fill colour is.
    if (cairo_t* cr = cairo())
        cairo_set_source_rgba(cr, red, green, blue, alpha);
}

void CGContext::addPath(const CGPath& path) {
    if (cairo_t* cr = cairo())
        path.addToCairo(cr);
}

void CGContext::fillPath() {
    draw([](cairo_t* cr) {
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
        cairo_fill(cr);
    });
}

CGImageRef CGContext::makeImage() const {
    return CGImage::make(static_cast<int>(width_), static_cast<int>(height_), opaque(),
                         [this](uint8_t* rows, size_t stride) { toNative(rows, stride); });
}

void* CGBitmapContextGetData(const CGContextRef& context) {
    return context ? context->data() : nullptr;
}

size_t CGBitmapContextGetWidth(const CGContextRef& context) {
    return context ? context->width() : 0;
}

size_t CGBitmapContextGetHeight(const CGContextRef& context) {
    return context ? context->height() : 0;
}

size_t CGBitmapContextGetBytesPerRow(const CGContextRef& context) {
    return context ? context->bytesPerRow() : 0;
}

CGImageRef CGBitmapContextCreateImage(const CGContextRef& context) {
    return context ? context->makeImage() : nullptr;
}

void CGContextRelease(CGContextRef& context) {
    context.reset();
}

void CGContextSaveGState(const CGContextRef& context) {
    if (context)
        context->saveGState();
}

void CGContextRestoreGState(const CGContextRef& context) {
    if (context)
        context->restoreGState();
}

void CGContextTranslateCTM(const CGContextRef& context, CGFloat tx, CGFloat ty) {
    if (context)
        context->translateCTM(tx, ty);
}

void CGContextDrawImage(const CGContextRef& context, CGRect rect, const CGImageRef& image) {
    if (context && image)
        context->drawImage(rect, *image);
}

void CGContextSetFillColorSpace(const CGContextRef& context, const CGColorSpaceRef& space) {
    if (context && space)
        context->setFillColorSpace(space);
}

void CGContextSetRGBFillColor(const CGContextRef& context, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha) {
    if (context)
        context->setRGBFillColor(red, green, blue, alpha);
}

void CGContextAddPath(const CGContextRef& context, const CGPathRef& path) {
    if (context && path)
        context->addPath(*path);
}

void CGContextFillPath(const CGContextRef& context) {
    if (context)
        context->fillPath();
}
