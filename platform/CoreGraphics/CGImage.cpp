#include "platform/CoreGraphics/CGImage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

const cairo_user_data_key_t kPixelsKey{};

// A block of pixels with its byte count in front, so that it can be recycled by size.
constexpr size_t kBlockHeader = 64;  // keeps the pixels as aligned as malloc's block

size_t blockBytes(void* block) {
    size_t bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    return bytes;
}

uint8_t* blockPixels(void* block) {
    return static_cast<uint8_t*>(block) + kBlockHeader;
}

// Pictures of one size come and go at the frame rate while a movie is exported or played. Each
// thread keeps the last block it let go for the next picture of the same size, so that the heap
// does not shrink and grow again at every frame: its pages faulted in anew cost more than the
// decode. Plain thread-locals, so that a picture let go while the thread ends (after the keeper
// is gone) is simply freed.
thread_local void* tKeptBlock = nullptr;
thread_local bool tThreadEnding = false;

struct KeptBlockRelease {
    ~KeptBlockRelease() {
        std::free(std::exchange(tKeptBlock, nullptr));
        tThreadEnding = true;
    }
};

// The thread's kept block, its release at the thread's end registered by the first use.
void*& keptBlock() {
    thread_local KeptBlockRelease release;
    (void)release;
    return tKeptBlock;
}

void* takeBlock(size_t bytes) {
    void*& kept = keptBlock();
    if (kept && blockBytes(kept) == bytes)
        return std::exchange(kept, nullptr);
    void* block = std::malloc(kBlockHeader + bytes);
    if (block)
        std::memcpy(block, &bytes, sizeof bytes);
    return block;
}

void giveBack(void* block) {
    if (tThreadEnding) {
        std::free(block);
    } else {
        std::free(std::exchange(keptBlock(), block));
    }
}

}  // namespace

cairo_surface_t* CGImage::newSurface(bool opaque, int width, int height) {
    const cairo_format_t format = opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
    const int stride = cairo_format_stride_for_width(format, width);
    if (stride < 0 || height < 0)
        return nullptr;
    // Not cairo_image_surface_create: it clears pixels that the caller overwrites at once.
    void* block = takeBlock(static_cast<size_t>(stride) * static_cast<size_t>(height));
    if (!block)
        return nullptr;
    cairo_surface_t* s =
        cairo_image_surface_create_for_data(blockPixels(block), format, width, height, stride);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_set_user_data(s, &kPixelsKey, block, giveBack) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        giveBack(block);
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
