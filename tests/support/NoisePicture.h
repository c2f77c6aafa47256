#pragma once
// A picture of noise for tests of pixel roads: every byte drawn from a generator seeded by the
// size, the skipped byte of an opaque picture's words included, so that a swapped, shifted or
// dropped byte anywhere shows. `opaque` false gives the same colours as premultiplied words of
// alpha 255: a picture not known to be opaque.

#include <cstddef>
#include <cstdint>

#include "platform/CoreGraphics/CGImage.h"

inline CGImageRef noisePicture(int width, int height, bool opaque = true) {
    return CGImage::make(width, height, opaque, [&](uint8_t* rows, size_t stride) {
        uint32_t seed = static_cast<uint32_t>(width * 7919 + height);
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * stride);
            for (int x = 0; x < width; ++x) {
                seed = seed * 1103515245u + 12345u;
                const uint32_t word = seed ^ seed >> 16;
                row[x] = opaque ? word : word | 0xFF000000u;
            }
        }
    });
}
