#include "platform/UIKit/UIImageDrawing.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSData.h"
#include "platform/UIKit/UIStretchableImage.h"

std::shared_ptr<UIImage> imageNamed(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<UIImage>> cache;
    std::lock_guard lock(mutex);
    if (auto it = cache.find(name); it != cache.end())
        return it->second;
    auto path = NSBundle::mainBundle()->pathForResource(name, "");
    auto bytes = path ? NSData::dataWithContentsOfFile(*path) : std::nullopt;
    auto image = bytes ? UIImage::initWithData(*bytes) : nullptr;
    if (image)
        cache[name] = image;
    return image;
}

namespace {

// Draws the source rectangle (sx, sy, sw, sh) of `surface` into (dx, dy, dw, dh).
void drawPart(cairo_t* cr, cairo_surface_t* surface, double sx, double sy, double sw, double sh,
              double dx, double dy, double dw, double dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    cairo_set_source_surface(cr, surface, -sx, -sy);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_restore(cr);
}

// Splits a length into the kept start, the stretched middle and the kept end, for the source
// (image) and the destination; a cap of 0 stretches everything.
struct Span {
    double source[3];
    double destination[3];
};

Span span(double imageLength, double drawnLength, int cap) {
    if (cap <= 0 || cap + 1 > imageLength)
        return {{0, imageLength, 0}, {0, drawnLength, 0}};
    double end = imageLength - cap - 1;
    double middle = std::max(0.0, drawnLength - cap - end);
    return {{double(cap), 1, end}, {double(cap), middle, end}};
}

}  // namespace

void drawImageInRect(cairo_t* cr, const UIImage& image, CGRect rect) {
    const CGImageRef& cg = image.CGImage();
    if (!cg)
        return;
    double width = double(cg->width());
    double height = double(cg->height());
    auto* stretchable = dynamic_cast<const UIStretchableImage*>(&image);
    Span across = span(width, rect.size.width, stretchable ? stretchable->leftCapWidth() : 0);
    Span down = span(height, rect.size.height, stretchable ? stretchable->topCapHeight() : 0);
    double sy = 0;
    double dy = rect.origin.y;
    for (int row = 0; row < 3; ++row) {
        double sx = 0;
        double dx = rect.origin.x;
        for (int column = 0; column < 3; ++column) {
            drawPart(cr, cg->surface(), sx, sy, across.source[column], down.source[row], dx, dy,
                     across.destination[column], down.destination[row]);
            sx += across.source[column];
            dx += across.destination[column];
        }
        sy += down.source[row];
        dy += down.destination[row];
    }
}
