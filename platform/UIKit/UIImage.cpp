#include "platform/UIKit/UIImage.h"

#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

// cairo's 32-bit native words seen as bytes.
constexpr int kCairoPixelFormat =
    std::endian::native == std::endian::little ? TJPF_BGRX : TJPF_XRGB;

bool isPNG(const Data& data) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data.size() >= 8 && std::memcmp(data.data(), kSignature, 8) == 0;
}

// One decompressor per thread, made at its first JPEG: making one costs a tenth of a decode. A
// decode that fails can leave it inside the picture it gave up on (TurboJPEG does not always
// abort it), which would refuse every later picture; so a failure throws it away, and the next
// JPEG on the thread gets a fresh one.
class Decompressor {
  public:
    Decompressor() = default;
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    ~Decompressor() { discard(); }

    tjhandle handle() {
        if (!handle_)
            handle_ = tjInitDecompress();
        return handle_;
    }
    void discard() {
        if (handle_)
            tjDestroy(handle_);
        handle_ = nullptr;
    }

  private:
    tjhandle handle_ = nullptr;
};

thread_local Decompressor decompressor;

CGImageRef decodeJPEG(const Data& data, tjhandle handle) {
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, data.data(), static_cast<unsigned long>(data.size()), &width,
                            &height, &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0)
        return nullptr;
    bool decoded = false;
    CGImageRef image = CGImage::make(width, height, true, [&](uint8_t* rows, size_t stride) {
        decoded = tjDecompress2(handle, data.data(), static_cast<unsigned long>(data.size()), rows,
                                width, static_cast<int>(stride), height, kCairoPixelFormat, 0) == 0;
    });
    return decoded ? image : nullptr;
}

CGImageRef decodeJPEG(const Data& data) {
    tjhandle handle = decompressor.handle();
    if (!handle)
        return nullptr;
    CGImageRef image = decodeJPEG(data, handle);
    if (!image)
        decompressor.discard();
    return image;
}

struct PNGReader {
    const Data* data;
    size_t offset;
};

cairo_status_t readPNG(void* closure, unsigned char* into, unsigned int length) {
    auto* reader = static_cast<PNGReader*>(closure);
    if (reader->data->size() - reader->offset < length)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(into, reader->data->data() + reader->offset, length);
    reader->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

CGImageRef decodePNG(const Data& data) {
    PNGReader reader{&data, 0};
    return CGImage::adoptSurface(cairo_image_surface_create_from_png_stream(readPNG, &reader));
}

}  // namespace

std::shared_ptr<UIImage> UIImage::initWithData(const Data& data) {
    if (data.empty())
        return nullptr;
    return imageWithCGImage(isPNG(data) ? decodePNG(data) : decodeJPEG(data));
}

std::shared_ptr<UIImage> UIImage::imageWithCGImage(CGImageRef image) {
    if (!image)
        return nullptr;
    return std::make_shared<UIImage>(std::move(image));
}

CGSize UIImage::size() const {
    return CGSizeMake(static_cast<CGFloat>(image_->width()),
                      static_cast<CGFloat>(image_->height()));
}

Data UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, CGFloat quality) {
    if (!image)
        return {};
    const CGImageRef& picture = image->CGImage();
    if (picture->width() == 0 || picture->height() == 0)
        return {};
    const int jpegQuality = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
    tjhandle handle = tjInitCompress();
    if (!handle)
        return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    // Premultiplied colour bytes are the picture over black.
    const int status =
        tjCompress2(handle, picture->data(), static_cast<int>(picture->width()),
                    static_cast<int>(picture->bytesPerRow()), static_cast<int>(picture->height()),
                    kCairoPixelFormat, &jpeg, &size, TJSAMP_420, jpegQuality, 0);
    Data result;
    if (status == 0)
        result.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    return result;
}
