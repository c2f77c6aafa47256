#include "app/Classes/ImageHelper.h"

#include <cmath>
#include <cstdio>

namespace {

// A float size as a whole count: truncated, and 0 for a negative or non-finite value.
size_t wholeCount(float value) {
    return std::isfinite(value) && value > 0 ? static_cast<size_t>(value) : 0;
}

}  // namespace

CGContextRef CreateARGBBitmapContext(float width, float height) {
    CGColorSpaceRef colorSpace = CGColorSpaceCreateDeviceRGB();
    if (!colorSpace) {
        std::fputs("Error allocating color space\n", stderr);
        return nullptr;
    }
    const float bytesPerRow = width * 4;
    void* bitmapData = std::malloc(wholeCount(bytesPerRow * height));
    if (!bitmapData) {
        std::fputs("Error: Memory not allocated!", stderr);
        return nullptr;
    }
    CGContextRef context =
        CGBitmapContextCreate(bitmapData, wholeCount(width), wholeCount(height), 8,
                              wholeCount(bytesPerRow), colorSpace, kCGImageAlphaPremultipliedFirst);
    if (!context) {
        std::fputs("Error: Context not created!", stderr);
        std::free(bitmapData);
        return nullptr;
    }
    return context;
}

ARGBBitmap ImageHelper::bitmapFromImage(const std::shared_ptr<UIImage>& image) {
    const CGSize size = image ? image->size() : CGSize{};
    CGContextRef context =
        CreateARGBBitmapContext(static_cast<float>(size.width), static_cast<float>(size.height));
    if (!context)
        return nullptr;
    CGContextDrawImage(context, CGRectMake(0, 0, size.width, size.height), image->CGImage());
    ARGBBitmap bitmap(static_cast<uint8_t*>(CGBitmapContextGetData(context)));
    CGContextRelease(context);
    return bitmap;
}
