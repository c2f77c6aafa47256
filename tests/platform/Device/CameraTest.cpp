#include "platform/Device/Camera.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include "tests/support/TemporaryFolder.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/NoNewThreads.h"
#include "tests/support/RunLoopTesting.h"

namespace {

// Generous: only a machine that has stopped would miss it.
constexpr NSTimeInterval kPatience = 20.0;

TEST(CameraTest, GeneratedSourceGivesBgraPicturesOfItsSizeThatMove) {
    NSErrorPtr error;
    auto camera = Camera::open("lavfi:testsrc2=size=64x48:rate=30", &error);
    ASSERT_NE(camera, nullptr) << error->localizedDescription();
    auto first = camera->waitForPicture(0, kPatience);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 64);
    EXPECT_EQ(first->height, 48);
    EXPECT_EQ(first->stride, 64 * 4);
    ASSERT_EQ(first->bytes.size(), 64u * 4 * 48);
    for (size_t i = 3; i < first->bytes.size(); i += 4) ASSERT_EQ(first->bytes[i], 255) << i;

    auto later = camera->waitForPicture(first->number + 5, kPatience);
    ASSERT_NE(later, nullptr);
    EXPECT_GT(later->number, first->number);
    EXPECT_NE(later->bytes, first->bytes);  // the test pattern moves
}

class CameraFileTest : public ::testing::Test {
  protected:
    // A 2 x 1 picture: a red pixel, then a blue one.
    std::string writeRedBluePicture() {
        std::string path = dir + "/picture.ppm";
        std::ofstream out(path, std::ios::binary);
        out << "P6\n2 1\n255\n";
        const unsigned char pixels[] = {255, 0, 0, 0, 0, 255};
        out.write(reinterpret_cast<const char*>(pixels), sizeof pixels);
        return path;
    }
    TemporaryFolder folder;
    const std::string& dir = folder.path();
};

TEST_F(CameraFileTest, PixelsComeInCairoByteOrder) {
    auto camera = Camera::open(writeRedBluePicture());
    ASSERT_NE(camera, nullptr);
    auto picture = camera->waitForPicture(0, kPatience);
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->width, 2);
    ASSERT_EQ(picture->height, 1);
    // Blue, green, red, alpha in memory: cairo's ARGB32 on a little-endian machine.
    EXPECT_EQ(picture->bytes, (std::vector<uint8_t>{0, 0, 255, 255, 255, 0, 0, 255}));
}

TEST_F(CameraFileTest, AFileStartsAgainWhenItEnds) {
    auto camera = Camera::open(writeRedBluePicture());
    ASSERT_NE(camera, nullptr);
    // The file holds one picture; a camera goes on delivering it.
    auto picture = camera->waitForPicture(3, kPatience);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->bytes, (std::vector<uint8_t>{0, 0, 255, 255, 255, 0, 0, 255}));
}

TEST(CameraPacingTest, GeneratedPicturesComeAtTheirTimeOnTheClock) {
    ManualClockScope time;
    auto camera = Camera::open("lavfi:testsrc2=size=32x24:rate=10");
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(camera->waitForPicture(0, kPatience), nullptr);
    // The clock stands still: a source that decodes ahead of it would deliver more.
    EXPECT_EQ(camera->waitForPicture(1, 0.2), nullptr);
    time.clock().advance(0.5);  // pictures 2 to 6 fall due (times 0.1 ... 0.5)
    auto caughtUp = camera->waitForPicture(5, kPatience);
    ASSERT_NE(caughtUp, nullptr);
    EXPECT_EQ(camera->waitForPicture(6, 0.2), nullptr);
    EXPECT_EQ(camera->newestPicture()->number, 6u);
}

TEST(CameraOpenTest, InputsWithoutAPictureFailWithAReason) {
    struct Case {
        const char* input;
        const char* reason;
    };
    for (Case c : {Case{"none", "The phone has no camera."},
                   Case{"/nonexistent/movie.mp4", "No such file or directory"},
                   Case{"lavfi:nosuchfilter", "cannot be opened"},
                   Case{"lavfi:sine", "it has no picture"}}) {
        NSErrorPtr error;
        EXPECT_EQ(Camera::open(c.input, &error), nullptr) << c.input;
        ASSERT_NE(error, nullptr) << c.input;
        EXPECT_NE(error->localizedDescription().find(c.reason), std::string::npos)
            << c.input << ": " << error->localizedDescription();
    }
}

TEST(CameraOpenTest, ACameraWhoseThreadCannotStartIsNotOpened) {
    NoNewThreads noThreads;
    NSErrorPtr error;
    EXPECT_EQ(Camera::open("lavfi:testsrc2=size=32x24:rate=10", &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->localizedDescription().find("no thread can start"), std::string::npos)
        << error->localizedDescription();
}

}  // namespace
