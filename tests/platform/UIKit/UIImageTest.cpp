// CTest labels: threads

#include "platform/UIKit/UIImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

// An opaque picture of `width` x `height` whose pixel (x, y) is (x, y, 128), or a noisy one.
CGImageRef picture(int width, int height, bool noisy = false) {
    return CGImage::make(width, height, true, [&](uint8_t* rows, size_t stride) {
        uint32_t seed = 12345;
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * stride);
            for (int x = 0; x < width; ++x) {
                seed = seed * 1103515245u + 12345u;
                row[x] = noisy ? 0xFF000000u | (seed >> 8)
                               : 0xFF000080u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8;
            }
        }
    });
}

uint32_t pixel(const CGImageRef& image, size_t x, size_t y) {
    return reinterpret_cast<const uint32_t*>(image->data() + y * image->bytesPerRow())[x];
}

int channel(uint32_t word, int shift) {
    return static_cast<int>((word >> shift) & 0xFF);
}

TEST(UIImage, AJPEGRoundTripKeepsSizeAndColours) {
    auto original = UIImage::imageWithCGImage(picture(320, 480));
    Data jpeg = UIImageJPEGRepresentation(original, 0.9);
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);

    auto decoded = UIImage::initWithData(jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), CGSizeMake(320, 480));
    const uint32_t p = pixel(decoded->CGImage(), 200, 100);
    EXPECT_NEAR(channel(p, 16), 200, 8);
    EXPECT_NEAR(channel(p, 8), 100, 8);
    EXPECT_NEAR(channel(p, 0), 128, 8);
}

cairo_status_t appendPNG(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<Data*>(closure)->insert(static_cast<Data*>(closure)->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

TEST(UIImage, DecodesPNGWithItsAlpha) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 3, 2);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgba(cr, 1, 0, 0, 0.5);
    cairo_paint(cr);
    cairo_destroy(cr);
    Data png;
    ASSERT_EQ(cairo_surface_write_to_png_stream(s, appendPNG, &png), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);

    auto image = UIImage::initWithData(png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), CGSizeMake(3, 2));
    EXPECT_FALSE(image->CGImage()->isOpaque());
    const uint32_t p = pixel(image->CGImage(), 2, 1);
    EXPECT_NEAR(channel(p, 24), 128, 1);
    EXPECT_NEAR(channel(p, 16), 128, 1);  // premultiplied red
    EXPECT_EQ(channel(p, 8), 0);

    // JPEG has no alpha: the picture comes out over black.
    auto flattened = UIImage::initWithData(UIImageJPEGRepresentation(image, 1.0));
    ASSERT_TRUE(flattened);
    EXPECT_NEAR(channel(pixel(flattened->CGImage(), 1, 1), 16), 128, 10);
}

TEST(UIImage, DataThatIsNoPictureGivesNoImage) {
    Data truncated = UIImageJPEGRepresentation(UIImage::imageWithCGImage(picture(64, 64)), 0.5);
    truncated.resize(truncated.size() / 3);
    const Data cases[] = {{},
                          {'h', 'e', 'l', 'l', 'o'},
                          {0xFF, 0xD8, 0xFF},
                          truncated,
                          {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}};
    for (const Data& data : cases) EXPECT_EQ(UIImage::initWithData(data), nullptr) << data.size();
    EXPECT_EQ(UIImage::imageWithCGImage(nullptr), nullptr);
    EXPECT_TRUE(UIImageJPEGRepresentation(nullptr, 0.5).empty());
}

// A picture that fails to decode leaves nothing behind for the next one on the same thread:
// pictures cut short (in their tables, in their scan) and whole ones of several sizes in turn, on
// a thread of their own so that its decompressor sees only these.
TEST(UIImage, AFailedDecodeLeavesTheNextPictureOnTheThreadWhole) {
    struct Case {
        int width, height;
        double kept;  // the share of the file kept; 1 for all of it
    };
    const Case cases[] = {{64, 64, 0.33},  {96, 96, 1}, {120, 40, 0.1}, {33, 17, 1}, {64, 64, 1},
                          {200, 150, 0.8}, {17, 33, 1}, {96, 96, 0.5},  {96, 96, 1}};
    std::thread([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                         std::to_string(static_cast<int>(c.kept * 100)) + "% kept");
            Data jpeg = UIImageJPEGRepresentation(
                UIImage::imageWithCGImage(picture(c.width, c.height)), 0.9);
            if (c.kept < 1) {
                jpeg.resize(static_cast<size_t>(static_cast<double>(jpeg.size()) * c.kept));
                EXPECT_EQ(UIImage::initWithData(jpeg), nullptr);
                continue;
            }
            auto decoded = UIImage::initWithData(jpeg);
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->size(), CGSizeMake(c.width, c.height));
            const uint32_t p = pixel(decoded->CGImage(), c.width - 1, c.height - 1);
            EXPECT_NEAR(channel(p, 16), c.width - 1, 8);
            EXPECT_NEAR(channel(p, 8), c.height - 1, 8);
        }
    }).join();
}

TEST(UIImageJPEG, QualityIsRoundedToAPercentOfAtLeastOne) {
    auto image = UIImage::imageWithCGImage(picture(96, 96, true));
    // Same percent, same file.
    EXPECT_EQ(UIImageJPEGRepresentation(image, 0.0), UIImageJPEGRepresentation(image, 0.01));
    EXPECT_EQ(UIImageJPEGRepresentation(image, -1.0), UIImageJPEGRepresentation(image, 0.004));
    EXPECT_EQ(UIImageJPEGRepresentation(image, 0.5), UIImageJPEGRepresentation(image, 0.504));
    EXPECT_EQ(UIImageJPEGRepresentation(image, 1.0), UIImageJPEGRepresentation(image, 7.0));
    EXPECT_NE(UIImageJPEGRepresentation(image, 0.5), UIImageJPEGRepresentation(image, 0.506));
    // More quality, more bytes, and the lowest still decodes.
    const Data low = UIImageJPEGRepresentation(image, 0.0);
    EXPECT_LT(low.size(), UIImageJPEGRepresentation(image, 0.5).size());
    EXPECT_LT(UIImageJPEGRepresentation(image, 0.5).size(),
              UIImageJPEGRepresentation(image, 1.0).size());
    ASSERT_TRUE(UIImage::initWithData(low));
    EXPECT_EQ(UIImage::initWithData(low)->size(), CGSizeMake(96, 96));
}

}  // namespace
