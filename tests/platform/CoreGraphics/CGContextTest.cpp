// CTest labels: threads

#include "platform/CoreGraphics/CGContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "tests/support/NoisePicture.h"

namespace {

// An opaque image: the top `topRows` rows `top`, the rest `bottom` (0xRRGGBB each).
CGImageRef twoBandImage(int width, int height, int topRows, uint32_t top, uint32_t bottom) {
    return CGImage::make(width, height, true, [&](uint8_t* rows, size_t stride) {
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * stride);
            for (int x = 0; x < width; ++x) row[x] = 0xFF000000u | (y < topRows ? top : bottom);
        }
    });
}

using Bytes = std::array<uint8_t, 4>;

Bytes pixelAt(const std::vector<uint8_t>& buffer, size_t bytesPerRow, size_t x, size_t y) {
    const uint8_t* p = buffer.data() + y * bytesPerRow + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

struct ByteOrderCase {
    CGBitmapInfo info;
    Bytes expected;  // the pixel 0x102030 as it lies in memory
};

TEST(CGBitmapContext, StoresPixelsInTheByteOrderItsInfoNames) {
    const ByteOrderCase cases[] = {
        {kCGImageAlphaPremultipliedFirst, {255, 0x10, 0x20, 0x30}},
        {kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Big, {255, 0x10, 0x20, 0x30}},
        {kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little, {0x30, 0x20, 0x10, 255}},
        {kCGImageAlphaNoneSkipFirst, {255, 0x10, 0x20, 0x30}},
    };
    for (const ByteOrderCase& c : cases) {
        std::vector<uint8_t> buffer(8 * 4 * 4);
        CGContextRef context = CGBitmapContextCreate(buffer.data(), 8, 4, 8, 32,
                                                     CGColorSpaceCreateDeviceRGB(), c.info);
        ASSERT_TRUE(context) << c.info;
        CGContextDrawImage(context, CGRectMake(0, 0, 8, 4),
                           twoBandImage(8, 4, 4, 0x102030, 0x102030));
        EXPECT_EQ(pixelAt(buffer, 32, 3, 2), c.expected) << c.info;
        // The same through cairo: a scaled image.
        std::fill(buffer.begin(), buffer.end(), 0);
        CGContextDrawImage(context, CGRectMake(0, 0, 8, 4), twoBandImage(1, 1, 1, 0x102030, 0));
        EXPECT_EQ(pixelAt(buffer, 32, 3, 2), c.expected) << c.info << " scaled";
    }
}

TEST(CGBitmapContext, DrawsImagesUprightWithTheOriginAtTheBottomLeft) {
    const size_t width = 6, height = 8, bytesPerRow = 26;  // padded rows, not a multiple of 4
    std::vector<uint8_t> buffer(bytesPerRow * height, 0x77);
    CGContextRef context =
        CGBitmapContextCreate(buffer.data(), width, height, 8, bytesPerRow,
                              CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(context);
    CGImageRef redOverBlue = twoBandImage(6, 8, 4, 0xFF0000, 0x0000FF);

    CGContextDrawImage(context, CGRectMake(0, 0, 6, 8), redOverBlue);
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 0, 0), (Bytes{255, 255, 0, 0}));  // top row red
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 5, 7), (Bytes{255, 0, 0, 255}));  // bottom row blue
    EXPECT_EQ(buffer[24], 0x77) << "row padding is not drawn over";

    // A rect at the origin lands at the bottom left, still upright: rows 4-5 red, 6-7 blue.
    std::fill(buffer.begin(), buffer.end(), 0);
    CGContextDrawImage(context, CGRectMake(0, 0, 3, 4), redOverBlue);
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 0, 3), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 1, 4), (Bytes{255, 255, 0, 0}));
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 2, 7), (Bytes{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 3, 7), (Bytes{0, 0, 0, 0}));

    // The transform moves later drawing.
    std::fill(buffer.begin(), buffer.end(), 0);
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, 3, 4);
    CGContextDrawImage(context, CGRectMake(0, 0, 3, 4), redOverBlue);
    CGContextRestoreGState(context);
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 4, 0), (Bytes{255, 255, 0, 0}));
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 4, 3), (Bytes{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(buffer, bytesPerRow, 1, 1), (Bytes{0, 0, 0, 0}));
}

TEST(CGBitmapContext, KeepsWhatTheCallerWroteBetweenDrawings) {
    std::vector<uint8_t> buffer(4 * 4 * 4, 0);
    CGContextRef context = CGBitmapContextCreate(
        buffer.data(), 4, 4, 8, 16, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(context);
    const Bytes mine{255, 1, 2, 3};
    std::copy(mine.begin(), mine.end(), buffer.begin());  // pixel (0, 0), the top left
    CGContextDrawImage(context, CGRectMake(2, 0, 2, 2), twoBandImage(1, 1, 1, 0xABCDEF, 0));
    EXPECT_EQ(pixelAt(buffer, 16, 0, 0), mine);
    EXPECT_EQ(pixelAt(buffer, 16, 3, 3), (Bytes{255, 0xAB, 0xCD, 0xEF}));

    CGImageRef snapshot = CGBitmapContextCreateImage(context);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->width(), 4u);
    const auto* words = reinterpret_cast<const uint32_t*>(snapshot->data());
    EXPECT_EQ(words[0], 0xFF010203u);
}

TEST(CGBitmapContext, AllocatesAZeroedBufferOfItsOwnWithoutData) {
    CGContextRef context = CGBitmapContextCreate(
        nullptr, 100, 100, 8, 0, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(context);
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(context), 400u);
    const auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(context));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::count(bytes, bytes + 400 * 100, 0), 400 * 100);
}

struct RefusedCase {
    const char* what;
    size_t width, height, bits, bytesPerRow;
    bool space;
    CGBitmapInfo info;
};

TEST(CGBitmapContext, RefusesWhatItCannotDraw) {
    const RefusedCase cases[] = {
        {"zero width", 0, 4, 8, 16, true, kCGImageAlphaPremultipliedFirst},
        {"zero height", 4, 0, 8, 16, true, kCGImageAlphaPremultipliedFirst},
        {"16 bits", 4, 4, 16, 32, true, kCGImageAlphaPremultipliedFirst},
        {"short rows", 4, 4, 8, 15, true, kCGImageAlphaPremultipliedFirst},
        {"no colour space", 4, 4, 8, 16, false, kCGImageAlphaPremultipliedFirst},
        {"alpha last", 4, 4, 8, 16, true, kCGImageAlphaPremultipliedLast},
        {"16-bit order", 4, 4, 8, 16, true, kCGImageAlphaPremultipliedFirst | (1 << 12)},
    };
    std::vector<uint8_t> buffer(256);
    for (const RefusedCase& c : cases) {
        EXPECT_EQ(CGBitmapContextCreate(buffer.data(), c.width, c.height, c.bits, c.bytesPerRow,
                                        c.space ? CGColorSpaceCreateDeviceRGB() : nullptr, c.info),
                  nullptr)
            << c.what;
    }
}

uint32_t wordAt(const CGImageRef& image, size_t x, size_t y) {
    return reinterpret_cast<const uint32_t*>(image->data() + y * image->bytesPerRow())[x];
}

struct CopyCase {
    const char* what;
    size_t width, height;
    CGBitmapInfo info;
    size_t rowPadding;  // bytes past width x 4 in each row, left as they were
};

// An opaque image drawn whole into a context of its own size is copied, not composited: the
// copy must give every byte that cairo's composite of the same colours gives.
TEST(CGBitmapContext, CopiesAWholeOpaqueImageByteForByteAsCairoWouldComposite) {
    const CopyCase cases[] = {
        {"screen grab", 320, 480, kCGImageAlphaPremultipliedFirst, 0},
        {"movie picture", 320, 426, kCGImageAlphaPremultipliedFirst, 0},
        {"one pixel", 1, 1, kCGImageAlphaPremultipliedFirst, 0},
        {"under one block of pixels", 15, 3, kCGImageAlphaNoneSkipFirst, 4},
        {"one block and one", 17, 5, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Big, 2},
        {"smaller, padded", 100, 100, kCGImageAlphaPremultipliedFirst, 8},
        {"odd, larger", 321, 427, kCGImageAlphaPremultipliedFirst, 0},
        {"twice the screen", 640, 960, kCGImageAlphaNoneSkipFirst, 0},
        {"cairo's own words", 333, 7, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little,
         0},
        {"cairo's words, odd rows", 19, 4,
         kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little, 3},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.what);
        const int w = static_cast<int>(c.width), h = static_cast<int>(c.height);
        const size_t bytesPerRow = c.width * 4 + c.rowPadding;
        CGImageRef opaque = noisePicture(w, h, true);
        CGImageRef composited = noisePicture(w, h, false);
        std::vector<uint8_t> copy(bytesPerRow * c.height, 0x5A), general = copy;
        CGContextRef copying = CGBitmapContextCreate(copy.data(), c.width, c.height, 8, bytesPerRow,
                                                     CGColorSpaceCreateDeviceRGB(), c.info);
        CGContextRef compositing =
            CGBitmapContextCreate(general.data(), c.width, c.height, 8, bytesPerRow,
                                  CGColorSpaceCreateDeviceRGB(), c.info);
        ASSERT_TRUE(copying && compositing);
        CGContextDrawImage(copying, CGRectMake(0, 0, w, h), opaque);
        CGContextDrawImage(compositing, CGRectMake(0, 0, w, h), composited);
        EXPECT_TRUE(copy == general);

        // Both against the byte order the info names, pixel by pixel.
        const bool little = (c.info & kCGBitmapByteOrderMask) == kCGBitmapByteOrder32Little;
        size_t wrong = 0;
        for (size_t y = 0; y < c.height; ++y) {
            for (size_t x = 0; x < c.width; ++x) {
                const uint32_t word = wordAt(composited, x, y);
                const Bytes expected =
                    little ? Bytes{uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), 255}
                           : Bytes{255, uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
                wrong += pixelAt(copy, bytesPerRow, x, y) != expected;
            }
        }
        EXPECT_EQ(wrong, 0u);

        // And back: an image of the context holds the picture's words, alpha 255.
        CGImageRef snapshot = CGBitmapContextCreateImage(copying);
        ASSERT_TRUE(snapshot);
        wrong = 0;
        for (size_t y = 0; y < c.height; ++y) {
            for (size_t x = 0; x < c.width; ++x) {
                wrong += (wordAt(snapshot, x, y) | 0xFF000000u) != wordAt(composited, x, y);
            }
        }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(CGImage, CropsARectangleCountedFromTheTop) {
    // Row y has the colour y: the thumbnail's square starts at row 53.
    CGImageRef screen = CGImage::make(320, 480, true, [](uint8_t* rows, size_t stride) {
        for (size_t y = 0; y < 480; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(rows + y * stride);
            std::fill(row, row + 320, 0xFF000000u | static_cast<uint32_t>(y));
        }
    });
    CGImageRef square = CGImageCreateWithImageInRect(screen, CGRectMake(0, 53, 320, 320));
    ASSERT_TRUE(square);
    EXPECT_EQ(square->width(), 320u);
    EXPECT_EQ(square->height(), 320u);
    EXPECT_TRUE(square->isOpaque());
    auto rowColour = [&](const CGImageRef& image, size_t y) {
        return reinterpret_cast<const uint32_t*>(image->data() + y * image->bytesPerRow())[5] &
               0xFFFFFF;
    };
    EXPECT_EQ(rowColour(square, 0), 53u);
    EXPECT_EQ(rowColour(square, 319), 372u & 0xFFFFFF);

    CGImageRef corner = CGImageCreateWithImageInRect(screen, CGRectMake(300, 470, 50, 50));
    ASSERT_TRUE(corner);
    EXPECT_EQ(corner->width(), 20u);
    EXPECT_EQ(corner->height(), 10u);
    EXPECT_EQ(CGImageCreateWithImageInRect(screen, CGRectMake(320, 0, 10, 10)), nullptr);
    EXPECT_EQ(CGImageCreateWithImageInRect(nullptr, CGRectMake(0, 0, 10, 10)), nullptr);
}

// Pixel memory is handed on from a picture let go to the next one of its size: each picture
// must still hold only its own pixels, whichever thread made or let go of the one before.
TEST(CGImage, PicturesOfOneSizeInTurnEachKeepTheirOwnPixels) {
    const auto filled = [](int size, uint32_t word) {
        return CGImage::make(size, size, true, [&](uint8_t* rows, size_t stride) {
            for (int y = 0; y < size; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * stride);
                std::fill(row, row + size, word);
            }
        });
    };
    const auto holdsOnly = [](const CGImageRef& image, uint32_t word) {
        for (size_t y = 0; y < image->height(); ++y) {
            const auto* row =
                reinterpret_cast<const uint32_t*>(image->data() + y * image->bytesPerRow());
            if (std::count(row, row + image->width(), word) != static_cast<long>(image->width()))
                return false;
        }
        return true;
    };
    std::vector<CGImageRef> kept;
    for (uint32_t i = 0; i < 12; ++i) {
        const int size = i % 3 == 2 ? 17 : 64;
        CGImageRef passing = filled(size, 0xFF000000u | i);
        kept.push_back(filled(size, 0xFF100000u | i));
        // Every other one is let go on a thread of its own, the thread ending right after.
        if (i % 2)
            std::thread([gone = std::move(passing)]() mutable { gone.reset(); }).join();
    }
    for (uint32_t i = 0; i < kept.size(); ++i)
        EXPECT_TRUE(holdsOnly(kept[i], 0xFF100000u | i)) << i;
}

TEST(CGGeometry, RectanglesAndTransforms) {
    EXPECT_EQ(CGRectIntersection(CGRectMake(0, 0, 10, 10), CGRectMake(5, -5, 10, 10)),
              CGRectMake(5, 0, 5, 5));
    EXPECT_TRUE(CGRectIsEmpty(CGRectIntersection(CGRectMake(0, 0, 1, 1), CGRectMake(2, 2, 1, 1))));
    EXPECT_EQ(CGRectIntegral(CGRectMake(0.5, 1.2, 2.0, 2.0)), CGRectMake(0, 1, 3, 3));
    EXPECT_EQ(CGRectStandardize(CGRectMake(10, 10, -4, -2)), CGRectMake(6, 8, 4, 2));
    // Scale first, then translate.
    const CGAffineTransform t = CGAffineTransformConcat(CGAffineTransformMakeScale(2, 3),
                                                        CGAffineTransformMakeTranslation(1, 1));
    EXPECT_EQ(CGPointApplyAffineTransform(CGPointMake(1, 1), t), CGPointMake(3, 4));
}

}  // namespace
