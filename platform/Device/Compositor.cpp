#include "platform/Device/Compositor.h"

#include <algorithm>
#include <cstring>

Compositor::Compositor(Screen& screen)
    : screen_(screen),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, Screen::kWidth, Screen::kHeight)) {}

Compositor::~Compositor() {
    cairo_surface_destroy(surface_);
}

CGImageRef Compositor::compose(const Draw& draw) {
    cairo_t* cr = cairo_create(surface_);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    if (draw)
        draw(cr);
    cairo_destroy(cr);
    auto image = snapshot();
    screen_.setLastComposed(image);
    return image;
}

void Compositor::drawPreview(cairo_t* cr, const CameraPicture* picture, double width,
                             double height) {
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_clip(cr);
    if (!picture || picture->bytes.empty() || picture->width <= 0 || picture->height <= 0) {
        cairo_set_source_rgb(cr, kNoPreviewGrey, kNoPreviewGrey, kNoPreviewGrey);
        cairo_paint(cr);
        cairo_restore(cr);
        return;
    }
    // RGB24 ignores the alpha byte; cairo only reads the bytes.
    cairo_surface_t* source = cairo_image_surface_create_for_data(
        const_cast<unsigned char*>(picture->bytes.data()), CAIRO_FORMAT_RGB24, picture->width,
        picture->height, picture->stride);
    // Scale to fill: the larger ratio covers the rectangle, the overflow is cut evenly.
    double scale = std::max(width / picture->width, height / picture->height);
    cairo_translate(cr, (width - picture->width * scale) / 2,
                    (height - picture->height * scale) / 2);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr),
                             scale == 1.0 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(source);
}

CGImageRef Compositor::snapshot() {
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface_));
    return CGImage::make(
        Screen::kWidth, Screen::kHeight, true, [&](unsigned char* rows, size_t rowBytes) {
            for (int y = 0; y < Screen::kHeight; ++y)
                std::memcpy(rows + y * rowBytes, data + y * stride, Screen::kWidth * 4);
        });
}
