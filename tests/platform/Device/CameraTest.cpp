// CTest labels: threads

#include "platform/Device/Camera.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include "tests/support/TemporaryFolder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

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

// Pictures of a few pixels, of widths that are not a multiple of the blocks the scaler writes
// in: each is converted whole, and nothing past it is written.
struct TinySize {
    int width;
    int height;
};
constexpr TinySize kTinySizes[] = {{1, 1},  {2, 2}, {4, 2},  {3, 5},  {17, 1},
                                   {1, 17}, {5, 3}, {24, 4}, {31, 2}, {33, 2}};

// In blue, green, red.
constexpr std::array<int, 3> kRed = {0, 0, 255};
constexpr std::array<int, 3> kRedAsGrey = {76, 76, 76};

// Every pixel opaque and near `bgr` (a conversion from YUV is off by a few steps).
void expectEveryPixel(const CameraPicture& picture, std::array<int, 3> bgr,
                      const std::string& input) {
    ASSERT_EQ(picture.bytes.size(), size_t(picture.stride) * picture.height) << input;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* pixel = &picture.bytes[size_t(y) * picture.stride + size_t(x) * 4];
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(pixel[c], bgr[c], 6) << input << " pixel " << x << "," << y;
            ASSERT_EQ(pixel[3], 255) << input << " pixel " << x << "," << y;
        }
}

// Opens `input`, a source of pictures of `size`, and checks a picture past the first few: its
// size and, when `bgr` is given, its colour.
void expectTinyPictures(const std::string& input, TinySize size,
                        std::optional<std::array<int, 3>> bgr) {
    NSErrorPtr error;
    auto camera = Camera::open(input, &error);
    ASSERT_NE(camera, nullptr) << input << ": " << error->localizedDescription();
    auto picture = camera->waitForPicture(2, kPatience);  // more than one through the scaler
    ASSERT_NE(picture, nullptr) << input;
    EXPECT_EQ(picture->width, size.width) << input;
    EXPECT_EQ(picture->height, size.height) << input;
    EXPECT_EQ(picture->stride, size.width * 4) << input;
    if (bgr)
        expectEveryPixel(*picture, *bgr, input);
}

std::string sizeText(TinySize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

TEST(CameraTinyPictureTest, GeneratedPicturesOfAFewPixelsConvertWhole) {
    // The format filter keeps odd sizes (a 4:2:0 source would round them down) and picks the
    // scaler's source format.
    struct Source {
        const char* filter;
        std::optional<std::array<int, 3>> bgr;
    };
    const Source sources[] = {{"color=c=red:size=%s:rate=30,format=rgb24", kRed},
                              {"color=c=red:size=%s:rate=30,format=yuv444p", kRed},
                              {"color=c=red:size=%s:rate=30,format=gray", kRedAsGrey},
                              {"testsrc2=size=%s:rate=30,format=rgba", std::nullopt}};
    for (TinySize size : kTinySizes)
        for (const Source& source : sources) {
            std::string input = std::string("lavfi:") + source.filter;
            input.replace(input.find("%s"), 2, sizeText(size));
            expectTinyPictures(input, size, source.bgr);
        }
    // As a phone's camera delivers it, and as it was first seen to fail.
    expectTinyPictures("lavfi:testsrc2=size=4x2:rate=30", {4, 2}, std::nullopt);
}

TEST_F(CameraFileTest, Yuv4mpegPicturesOfAFewPixelsConvertWhole) {
    for (TinySize size : kTinySizes) {
        // Red in full-range 4:2:0: each chroma plane covers the odd row and column too.
        const size_t luma = size_t(size.width) * size.height;
        const size_t chroma = size_t((size.width + 1) / 2) * ((size.height + 1) / 2);
        const std::string picture = std::string(luma, char(76)) + std::string(chroma, char(85)) +
                                    std::string(chroma, char(255));
        const std::string path = dir + "/" + sizeText(size) + ".y4m";
        std::ofstream out(path, std::ios::binary);
        out << "YUV4MPEG2 W" << size.width << " H" << size.height << " F30:1 Ip A1:1 C420jpeg\n";
        for (int i = 0; i < 3; ++i) out << "FRAME\n" << picture;
        out.close();
        expectTinyPictures(path, size, kRed);
    }
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

TEST(CameraPauseTest, APausedCameraTakesNoPicturesAndGoesOnWhenResumed) {
    auto camera = Camera::open("lavfi:testsrc2=size=32x24:rate=30");
    ASSERT_NE(camera, nullptr);
    auto first = camera->waitForPicture(0, kPatience);
    ASSERT_NE(first, nullptr);
    camera->setPaused(true);
    EXPECT_TRUE(camera->isPaused());
    // The picture under way when it paused may still come; then no more.
    uint64_t paused = camera->newestPicture()->number;
    int more = 0;
    while (auto later = camera->waitForPicture(paused, 0.5)) {
        paused = later->number;
        if (++more > 3)
            break;
    }
    EXPECT_LE(more, 1);
    camera->setPaused(false);
    EXPECT_NE(camera->waitForPicture(paused, kPatience), nullptr);

    // A camera destroyed while paused ends at once.
    camera->setPaused(true);
    camera.reset();
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

// A camera source that sends a few pictures as a yuv4mpeg stream and then stalls with its end
// held open: a named pipe, or a loopback TCP connection. Its destruction closes its end, which
// ends any read that still waits for it.
class StallingSource {
  public:
    static constexpr int kPictures = 3;

    StallingSource(bool network, const std::string& dir) {
        if (!network) {
            const std::string fifo = dir + "/camera.fifo";
            EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
            // Read and write: the open does not wait for the camera, and the pipe has a writer.
            end_ = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
            send();
            input_ = "yuv4mpegpipe:" + fifo;
            return;
        }
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener_, 1), 0);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        input_ = "yuv4mpegpipe:tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        accepter_ = std::thread([this] {
            pollfd waiting = {listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 20000) == 1) {
                end_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                send();
            }
        });
    }
    ~StallingSource() {
        if (accepter_.joinable())
            accepter_.join();
        ::close(end_);
        ::close(listener_);
    }
    const std::string& input() const { return input_; }

  private:
    void send() {
        // 64 x 48 in 4:2:0, a grey of its own for each picture.
        std::string stream = "YUV4MPEG2 W64 H48 F30:1 Ip A1:1 C420jpeg\n";
        for (int i = 0; i < kPictures; ++i)
            stream += "FRAME\n" + std::string(64 * 48 * 3 / 2, char(16 + 32 * i));
        EXPECT_EQ(::write(end_, stream.data(), stream.size()), ssize_t(stream.size()));
    }

    int listener_ = -1;
    int end_ = -1;
    std::thread accepter_;
    std::string input_;
};

class StallingCameraTest : public ::testing::TestWithParam<bool> {
  protected:
    TemporaryFolder folder;
};

// Closing the camera while its read waits for a picture that never comes returns at once.
TEST_P(StallingCameraTest, ClosingItDoesNotWaitForTheDevice) {
    std::future<void> closed;
    StallingSource source(GetParam(), folder.path());  // goes first: its end closes, freeing a hang
    NSErrorPtr error;
    std::unique_ptr<Camera> camera = Camera::open(source.input(), &error);
    ASSERT_NE(camera, nullptr) << error->localizedDescription();
    ASSERT_NE(camera->waitForPicture(StallingSource::kPictures - 1, kPatience), nullptr);
    closed = std::async(std::launch::async, [&camera] { camera.reset(); });
    EXPECT_EQ(closed.wait_for(std::chrono::seconds(MediaInput::kSilenceTimeoutSeconds - 2)),
              std::future_status::ready)
        << "the close waited for the device";
}

// A camera silent past its bound ends, says so, and keeps its newest picture.
TEST_P(StallingCameraTest, ItEndsOnceSilentPastTheBoundAndSaysSo) {
    StallingSource source(GetParam(), folder.path());
    NSErrorPtr error;
    std::unique_ptr<Camera> camera = Camera::open(source.input(), &error);
    ASSERT_NE(camera, nullptr) << error->localizedDescription();
    testing::internal::CaptureStderr();
    EXPECT_EQ(camera->waitForPicture(StallingSource::kPictures, kPatience), nullptr);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("The camera stopped answering: its input \"" + source.input() +
                       "\" gave nothing within 5 s"),
              std::string::npos)
        << log;
    ASSERT_NE(camera->newestPicture(), nullptr);
    EXPECT_EQ(camera->newestPicture()->number, uint64_t{StallingSource::kPictures});
}

INSTANTIATE_TEST_SUITE_P(Sources, StallingCameraTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Loopback" : "NamedPipe"; });

}  // namespace
