// CTest labels: threads

#include "platform/Device/Compositor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

// The screen pixel at (x, y) as 0xRRGGBB.
uint32_t rgbAt(const CGImageRef& image, int x, int y) {
    uint32_t pixel;
    std::memcpy(&pixel, image->data() + static_cast<size_t>(y) * image->bytesPerRow() + x * 4, 4);
    return pixel & 0xffffff;
}

// A camera picture whose blue byte is the column and whose green byte is the row (mod 256), so
// that a screen pixel tells which picture pixel it shows.
CameraPicture coordinatePicture(int width, int height) {
    CameraPicture picture;
    picture.width = width;
    picture.height = height;
    picture.stride = width * 4;
    picture.bytes.resize(static_cast<size_t>(picture.stride) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = picture.bytes.data() + y * picture.stride + x * 4;
            p[0] = static_cast<uint8_t>(x);  // blue
            p[1] = static_cast<uint8_t>(y);  // green
            p[2] = 0x80;                     // red
            p[3] = 0xff;
        }
    }
    return picture;
}

CGImageRef composePreview(Screen& screen, const CameraPicture* picture) {
    Compositor compositor(screen);
    return compositor.compose([&](cairo_t* cr) {
        Compositor::drawPreview(cr, picture, Screen::kWidth, Screen::kHeight);
    });
}

}  // namespace

// Pictures at the screen's scale: the crop keeps the centre, one picture pixel per point.
struct CropCase {
    int width;
    int height;
    int firstColumn;  // picture column shown at screen x 0
    int firstRow;     // picture row shown at screen y 0
};

class PreviewCropTest : public ::testing::TestWithParam<CropCase> {};

TEST_P(PreviewCropTest, ShowsTheCentreOfThePictureUnscaled) {
    const CropCase c = GetParam();
    Screen screen;
    CameraPicture picture = coordinatePicture(c.width, c.height);
    CGImageRef image = composePreview(screen, &picture);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width(), 320u);
    ASSERT_EQ(image->height(), 480u);
    for (auto [x, y] : {std::pair{0, 0}, {319, 0}, {0, 479}, {319, 479}, {160, 240}}) {
        uint32_t expected = 0x800000 | ((c.firstRow + y) % 256) << 8 | ((c.firstColumn + x) % 256);
        EXPECT_EQ(rgbAt(image, x, y), expected) << "at " << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Pictures, PreviewCropTest,
                         ::testing::Values(CropCase{320, 480, 0, 0},    // exact fit
                                           CropCase{640, 480, 160, 0},  // wider: sides cut
                                           CropCase{320, 600, 0, 60},  // taller: top and bottom cut
                                           CropCase{400, 480, 40, 0}));

TEST(CompositorTest, ScalesASmallPictureUpToFillTheScreen) {
    // 160 x 120 needs a scale of 4 for the height; the width then spans 640, cut 160 each side.
    Screen screen;
    CameraPicture picture = coordinatePicture(160, 120);
    CGImageRef image = composePreview(screen, &picture);
    // Screen x 160 is picture column (160 + 160) / 4 = 80; y 240 is row 60. Bilinear scaling
    // blends neighbours, so allow one step.
    uint32_t centre = rgbAt(image, 162, 242);
    EXPECT_NEAR(static_cast<int>(centre & 0xff), 80, 1);
    EXPECT_NEAR(static_cast<int>((centre >> 8) & 0xff), 60, 1);
    // The left edge shows column 40, the top edge row 0.
    EXPECT_NEAR(static_cast<int>(rgbAt(image, 1, 1) & 0xff), 40, 1);
    EXPECT_NEAR(static_cast<int>((rgbAt(image, 1, 1) >> 8) & 0xff), 0, 1);
}

TEST(CompositorTest, NoPictureIsGreyAndDrawingGoesAboveThePreview) {
    Screen screen;
    Compositor compositor(screen);
    CGImageRef image = compositor.compose([](cairo_t* cr) {
        Compositor::drawPreview(cr, nullptr, Screen::kWidth, Screen::kHeight);
        cairo_set_source_rgb(cr, 1, 0, 0);
        cairo_rectangle(cr, 20, 433, 130, 40);
        cairo_fill(cr);
    });
    EXPECT_EQ(rgbAt(image, 0, 0), 0x808080u);
    EXPECT_EQ(rgbAt(image, 20, 433), 0xff0000u);
    EXPECT_EQ(rgbAt(image, 149, 472), 0xff0000u);
    EXPECT_EQ(rgbAt(image, 150, 472), 0x808080u);
    EXPECT_EQ(rgbAt(image, 19, 433), 0x808080u);
    EXPECT_EQ(rgbAt(image, 20, 432), 0x808080u);
    EXPECT_EQ(screen.lastComposed(), image);
}

TEST(CompositorTest, EachCompositionStartsFromBlack) {
    Screen screen;
    Compositor compositor(screen);
    compositor.compose([](cairo_t* cr) {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
    });
    CGImageRef second = compositor.compose({});
    EXPECT_EQ(rgbAt(second, 100, 100), 0x000000u);
}

TEST(CompositorTest, APublishedPictureNeverChangesAfterwards) {
    Screen screen;
    Compositor compositor(screen);
    CGImageRef white = compositor.compose([](cairo_t* cr) {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
    });
    compositor.compose({});
    EXPECT_EQ(rgbAt(white, 10, 10), 0xffffffu);
    EXPECT_NE(screen.lastComposed(), white);
}

TEST(CompositorTest, ReadersOnAnotherThreadAlwaysSeeWholePictures) {
    Screen screen;
    Compositor compositor(screen);
    compositor.compose({});
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            CGImageRef image = screen.lastComposed();
            // Every composition paints the whole screen in one colour.
            if (rgbAt(image, 0, 0) != rgbAt(image, 319, 479))
                ++torn;
        }
    });
    for (int i = 0; i < 200; ++i) {
        double level = (i % 2) ? 1.0 : 0.0;
        compositor.compose([&](cairo_t* cr) {
            cairo_set_source_rgb(cr, level, level, level);
            cairo_paint(cr);
        });
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST(ScreenTest, WritesTheLastPictureAsPNG) {
    Screen screen;
    auto path = std::filesystem::temp_directory_path() /
                ("tilvex-screen-" + std::to_string(getpid()) + ".png");
    EXPECT_NE(screen.writePNG(path), nullptr);  // nothing composed yet
    EXPECT_FALSE(std::filesystem::exists(path));

    Compositor compositor(screen);
    compositor.compose([](cairo_t* cr) {
        cairo_set_source_rgb(cr, 0, 0, 1);
        cairo_rectangle(cr, 10, 20, 5, 5);
        cairo_fill(cr);
    });
    ASSERT_EQ(screen.writePNG(path), nullptr);
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 320);
    EXPECT_EQ(cairo_image_surface_get_height(png), 480);
    const unsigned char* data = cairo_image_surface_get_data(png);
    int stride = cairo_image_surface_get_stride(png);
    uint32_t pixel;
    std::memcpy(&pixel, data + 20 * stride + 10 * 4, 4);
    EXPECT_EQ(pixel & 0xffffff, 0x0000ffu);
    std::memcpy(&pixel, data + 19 * stride + 10 * 4, 4);
    EXPECT_EQ(pixel & 0xffffff, 0x000000u);
    cairo_surface_destroy(png);
    std::filesystem::remove(path);

    EXPECT_NE(screen.writePNG("/nonexistent-folder/screen.png"), nullptr);
}
