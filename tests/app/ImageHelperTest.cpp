#include "app/Classes/ImageHelper.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct OffsetCase {
    int x, y, width;
    int red, green, blue;
};

TEST(ImageHelperOffsets, NameTheColourBytesOfAPixel) {
    const OffsetCase cases[] = {
        {0, 0, 320, 1, 2, 3},
        {5, 2, 320, 2581, 2582, 2583},
        {319, 479, 320, 614397, 614398, 614399},
        {3, 1, 4, 29, 30, 31},
    };
    for (const OffsetCase& c : cases) {
        EXPECT_EQ(redOffset(c.x, c.y, c.width), c.red) << c.x << "," << c.y;
        EXPECT_EQ(greenOffset(c.x, c.y, c.width), c.green) << c.x << "," << c.y;
        EXPECT_EQ(blueOffset(c.x, c.y, c.width), c.blue) << c.x << "," << c.y;
    }
}

// A 320x480 opaque picture whose every pixel has its own colour: red x, green y, blue x + y.
std::shared_ptr<UIImage> gradientImage(int width, int height) {
    return UIImage::imageWithCGImage(
        CGImage::make(width, height, true, [&](uint8_t* rows, size_t stride) {
            for (int y = 0; y < height; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(rows + static_cast<size_t>(y) * stride);
                for (int x = 0; x < width; ++x) {
                    row[x] = 0xFF000000u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 |
                             uint32_t((x + y) & 0xFF);
                }
            }
        }));
}

TEST(ImageHelperBitmap, HoldsTheWholeImageUprightAsARGBBytes) {
    const int width = 320, height = 480;
    ARGBBitmap bitmap = ImageHelper::bitmapFromImage(gradientImage(width, height));
    ASSERT_TRUE(bitmap);
    // The last byte of a 320 x 480 x 4 buffer is the blue of (319, 479).
    EXPECT_EQ(bitmap[blueOffset(319, 479, width)], (319 + 479) & 0xFF);
    EXPECT_EQ(blueOffset(319, 479, width), 320 * 480 * 4 - 1);
    for (int y : {0, 1, 53, 425, 479}) {
        for (int x : {0, 7, 200, 319}) {
            EXPECT_EQ(bitmap[4 * (x + y * width)], 255) << x << "," << y;
            EXPECT_EQ(bitmap[redOffset(x, y, width)], x & 0xFF) << x << "," << y;
            EXPECT_EQ(bitmap[greenOffset(x, y, width)], y & 0xFF) << x << "," << y;
            EXPECT_EQ(bitmap[blueOffset(x, y, width)], (x + y) & 0xFF) << x << "," << y;
        }
    }
}

TEST(ImageHelperBitmap, ADecodedJPEGKeepsItsColours) {
    auto image = gradientImage(320, 480);
    auto decoded = UIImage::initWithData(UIImageJPEGRepresentation(image, 1.0));
    ASSERT_TRUE(decoded);
    ARGBBitmap bitmap = ImageHelper::bitmapFromImage(decoded);
    ASSERT_TRUE(bitmap);
    EXPECT_NEAR(bitmap[redOffset(100, 30, 320)], 100, 12);
    EXPECT_NEAR(bitmap[greenOffset(100, 30, 320)], 30, 12);
    EXPECT_NEAR(bitmap[blueOffset(100, 30, 320)], 130, 12);
}

struct EmptyCase {
    float width, height;
};

TEST(ImageHelperContext, AnEmptySizeGivesNoContextAndSaysSo) {
    const EmptyCase cases[] = {{0, 480}, {320, 0}, {0, 0}, {-4, -3}, {0.5f, 100}};
    for (const EmptyCase& c : cases) {
        ::testing::internal::CaptureStderr();
        CGContextRef context = CreateARGBBitmapContext(c.width, c.height);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(context, nullptr) << c.width << "x" << c.height;
        EXPECT_NE(err.find("Error: Context not created!"), std::string::npos) << err;
    }
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(ImageHelper::bitmapFromImage(nullptr));
    EXPECT_FALSE(ImageHelper::bitmapFromImage(gradientImage(0, 10)));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error: Context not created!Error: Context not created!");
}

TEST(ImageHelperContext, AFractionalSizeIsTruncatedAndTheBufferIsLargeEnough) {
    const EmptyCase cases[] = {{10.5f, 3.5f}, {10.9f, 1.0f}, {320.0f, 480.0f}, {1.75f, 7.25f}};
    for (const EmptyCase& c : cases) {
        CGContextRef context = CreateARGBBitmapContext(c.width, c.height);
        ASSERT_TRUE(context) << c.width << "x" << c.height;
        EXPECT_EQ(CGBitmapContextGetWidth(context), static_cast<size_t>(c.width));
        EXPECT_EQ(CGBitmapContextGetHeight(context), static_cast<size_t>(c.height));
        EXPECT_EQ(CGBitmapContextGetBytesPerRow(context), static_cast<size_t>(c.width * 4));
        void* data = CGBitmapContextGetData(context);
        EXPECT_GE(static_cast<size_t>(c.width * c.height * 4),
                  CGBitmapContextGetBytesPerRow(context) * CGBitmapContextGetHeight(context));
        // Drawing fills what the context covers and stays inside the buffer.
        CGContextDrawImage(context, CGRectMake(0, 0, c.width, c.height),
                           gradientImage(2, 2)->CGImage());
        EXPECT_EQ(static_cast<uint8_t*>(data)[0], 255);
        CGContextRelease(context);
        std::free(data);
    }
}

}  // namespace
