// The export's road from a frame to the encoder's BGR24 picture, on a table of pictures: each
// frame's data decoded into an image, the bitmap helper's ARGB bitmap, then the picture. Each
// step has a fast road; each is held to the pixels of the plain road it stands in for.

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <turbojpeg.h>

#include <cairo.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/Classes/ImageHelper.h"
#include "app/Classes/output.h"
#include "platform/CoreGraphics/CGImage.h"
#include "platform/Device/Compositor.h"
#include "platform/Device/Screen.h"
#include "platform/UIKit/UIImage.h"
#include "tests/support/NoisePicture.h"

namespace {

constexpr int kMovieWidth = 320;
constexpr int kMovieHeight = 426;

// A grab of the phone's screen as the capture keeps it (JPEG, quality 0.5): the preview under a
// bar with a caption and a button, composed by the phone's own compositor.
Data screenGrab(double shade) {
    Screen screen;
    Compositor compositor(screen);
    CGImageRef grab = compositor.compose([&](cairo_t* cr) {
        cairo_pattern_t* preview = cairo_pattern_create_linear(0, 0, 320, 480);
        cairo_pattern_add_color_stop_rgb(preview, 0, shade, 0.3, 0.8);
        cairo_pattern_add_color_stop_rgb(preview, 1, 0.9, 0.6, shade);
        cairo_set_source(cr, preview);
        cairo_paint(cr);
        cairo_pattern_destroy(preview);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_rectangle(cr, 0, 436, 320, 44);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_move_to(cr, 12, 462);
        cairo_set_font_size(cr, 15);
        cairo_show_text(cr, "Record 0:03");
        cairo_arc(cr, 280, 458, 14, 0, 6.3);
        cairo_fill(cr);
    });
    return UIImageJPEGRepresentation(UIImage::imageWithCGImage(grab), 0.5);
}

Data noiseJPEG(int width, int height) {
    return UIImageJPEGRepresentation(UIImage::imageWithCGImage(noisePicture(width, height)), 0.9);
}

Data noisePNG(int width, int height) {
    CGImageRef image = noisePicture(width, height);
    Data png;
    cairo_surface_write_to_png_stream(
        image->surface(),
        [](void* closure, const unsigned char* bytes, unsigned int length) {
            auto* out = static_cast<Data*>(closure);
            out->insert(out->end(), bytes, bytes + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    return png;
}

struct PictureCase {
    const char* what;
    Data data;
    bool jpeg;
    bool fillsTheMovie;  // at least 320 x 426
};

// Sizes change from one case to the next, so a decoder kept between pictures is tried too.
std::vector<PictureCase> pictureTable() {
    return {
        {"screen grab", screenGrab(0.1), true, true},
        {"tiny", noiseJPEG(1, 1), true, false},
        {"another screen grab", screenGrab(0.7), true, true},
        {"the movie's size", noiseJPEG(320, 426), true, true},
        {"odd, one larger each way", noiseJPEG(321, 427), true, true},
        {"smaller", noiseJPEG(100, 100), true, false},
        {"one row short", noiseJPEG(320, 425), true, false},
        {"one column short", noiseJPEG(319, 480), true, false},
        {"twice the screen", noiseJPEG(640, 960), true, true},
        {"odd width under a block", noiseJPEG(13, 7), true, false},
        {"a PNG larger than the screen", noisePNG(333, 500), false, true},
    };
}

// The bitmap of a JPEG is what the decoder itself gives when asked for ARGB bytes: the decode
// into an image of cairo words and the copy into the bitmap lose nothing and add nothing.
TEST(ExportPicture, TheBitmapOfAJPEGIsTheDecodersOwnARGB) {
    tjhandle decoder = tjInitDecompress();
    ASSERT_NE(decoder, nullptr);
    for (const PictureCase& c : pictureTable()) {
        if (!c.jpeg)
            continue;
        SCOPED_TRACE(c.what);
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        ASSERT_EQ(tjDecompressHeader3(decoder, c.data.data(), c.data.size(), &width, &height,
                                      &subsampling, &colorspace),
                  0);
        std::vector<uint8_t> argb(static_cast<size_t>(width) * height * 4);
        ASSERT_EQ(tjDecompress2(decoder, c.data.data(), c.data.size(), argb.data(), width, 0,
                                height, TJPF_ARGB, 0),
                  0);
        ARGBBitmap bitmap = ImageHelper::bitmapFromImage(UIImage::initWithData(c.data));
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(std::memcmp(bitmap.get(), argb.data(), argb.size()), 0);
    }
    tjDestroy(decoder);
}

// The BGR24 picture holds, byte for byte, what reading the bitmap pixel by pixel through the
// helper's offsets gives; a picture too small for the movie leaves it as it was.
TEST(ExportPicture, TheBGRPictureIsTheBitmapReadPixelByPixel) {
    AVFrame* picture = alloc_picture(AV_PIX_FMT_BGR24, kMovieWidth, kMovieHeight);
    ASSERT_NE(picture, nullptr);
    const size_t pictureBytes = static_cast<size_t>(picture->linesize[0]) * kMovieHeight;
    for (const PictureCase& c : pictureTable()) {
        SCOPED_TRACE(c.what);
        // Row padding included: nothing past a row's 320 pixels is written.
        std::memset(picture->data[0], 0x5A, pictureBytes);
        std::vector<uint8_t> expected(picture->data[0], picture->data[0] + pictureBytes);
        if (c.fillsTheMovie) {
            auto image = UIImage::initWithData(c.data);
            ASSERT_TRUE(image);
            const int rowWidth = static_cast<int>(image->size().width);
            ARGBBitmap bitmap = ImageHelper::bitmapFromImage(image);
            ASSERT_TRUE(bitmap);
            for (int y = 0; y < kMovieHeight; ++y) {
                uint8_t* row = expected.data() + y * picture->linesize[0];
                for (int x = 0; x < kMovieWidth; ++x) {
                    row[3 * x] = bitmap[blueOffset(x, y, rowWidth)];
                    row[3 * x + 1] = bitmap[greenOffset(x, y, rowWidth)];
                    row[3 * x + 2] = bitmap[redOffset(x, y, rowWidth)];
                }
            }
        }
        EXPECT_EQ(fill_bgr_picture(picture, c.data, kMovieWidth, kMovieHeight), c.fillsTheMovie);
        EXPECT_EQ(std::memcmp(picture->data[0], expected.data(), pictureBytes), 0);
    }
    av_frame_free(&picture);
}

}  // namespace
