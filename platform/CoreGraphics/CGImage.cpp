#include "platform/CoreGraphics/CGImage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const cairo_user_data_key_t kPixelsKey{};

}  // namespace

cairo_surface_t* CGImage::newSurface(bool opaque, int width, int height) {
    const cairo_format_t format = opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
    const int stride = cairo_format_stride_for_width(format, width);
    if (stride < 0 || height < 0)
        return nullptr;
    // Not cairo_image_surface_create: it clears pixels that the caller overwrites at once.
    void* pixels = std::malloc(std::max<size_t>(1, static_cast<size_t>(stride) * height));
    if (!pixels)
        return nullptr;
    cairo_surface_t* s = cairo_image_surface_create_for_data(static_cast<unsigned char*>(pixels),
                                                             format, width, height, stride);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_set_user_data(s, &kPixelsKey, pixels, std::free) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        std::free(pixels);
        return nullptr;
    }
    return s;
}

CGImageRef CGImage::adoptSurface(cairo_surface_t* surface) {
    if (!surface)
        return nullptr;
    bool usable = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
                  cairo_surface_get_type(surface) == CAIRO_SURFACE_TYPE_IMAGE &&
                  (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32 ||
                   cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24);
    CGImage* image = usable ? new (std::nothrow) CGImage(surface) : nullptr;
    if (!image) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return CGImageRef(image);
}

CGImage::~CGImage() {
    cairo_surface_destroy(surface_);
}

size_t CGImage::width() const {
    return static_cast<size_t>(cairo_image_surface_get_width(surface_));
}

size_t CGImage::height() const {
    return static_cast<size_t>(cairo_image_surface_get_height(surface_));
}

bool CGImage::isOpaque() const {
    return cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_RGB24;
}

const uint8_t* CGImage::data() const {
    return cairo_image_surface_get_data(surface_);
}

size_t CGImage::bytesPerRow() const {
    return static_cast<size_t>(cairo_image_surface_get_stride(surface_));
}

CGImageRef CGImageCreateWithImageInRect(const CGImageRef& image, CGRect rect) {
    if (!image)
        return nullptr;
    CGRect bounds = CGRectMake(0, 0, static_cast<CGFloat>(image->width()),
                               static_cast<CGFloat>(image->height()));
    CGRect cut = CGRectIntersection(CGRectIntegral(rect), bounds);
    if (CGRectIsEmpty(cut))
        return nullptr;
    const size_t x = static_cast<size_t>(cut.origin.x);
    const size_t y = static_cast<size_t>(cut.origin.y);
    const int w = static_cast<int>(cut.size.width);
    const int h = static_cast<int>(cut.size.height);
    return CGImage::make(w, h, image->isOpaque(), [&](uint8_t* rows, size_t stride) {
        const uint8_t* from = image->data() + y * image->bytesPerRow() + x * 4;
        for (int row = 0; row < h; ++row) {
            std::memcpy(rows + row * stride, from + row * image->bytesPerRow(),
                        static_cast<size_t>(w) * 4);
        }
    });
}
