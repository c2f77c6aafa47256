#include "platform/UIKit/UISaveVideoAtPathToSavedPhotosAlbum.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

#include "platform/Device/DeviceHome.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIImage.h"
#include "tests/support/AddressSpaceCap.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// Drains the encoder into the file; false on a write error.
bool drain(AVCodecContext* codec, AVFormatContext* out, AVStream* stream, AVPacket* packet) {
    while (avcodec_receive_packet(codec, packet) == 0) {
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(out, packet) < 0)
            return false;
    }
    return true;
}

// A small QuickTime movie: `frames` grey pictures of 64 x 48 in MPEG-4 Part 2 at 10 per second.
bool writeMovie(const std::string& path, int frames = 5) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "mov", path.c_str()) < 0)
        return false;
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream* stream = avformat_new_stream(out, nullptr);
    AVCodecContext* codec = avcodec_alloc_context3(encoder);
    codec->width = 64;
    codec->height = 48;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = AVRational{1, 10};
    stream->time_base = codec->time_base;
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = avcodec_open2(codec, encoder, nullptr) == 0 &&
              avcodec_parameters_from_context(stream->codecpar, codec) >= 0 &&
              avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
              avformat_write_header(out, nullptr) >= 0;
    frame->format = codec->pix_fmt;
    frame->width = codec->width;
    frame->height = codec->height;
    ok = ok && av_frame_get_buffer(frame, 0) == 0;
    for (int i = 0; ok && i < frames; ++i) {
        ok = av_frame_make_writable(frame) == 0;
        for (int plane = 0; ok && plane < 3; ++plane) {
            const int rows = plane == 0 ? codec->height : codec->height / 2;
            for (int y = 0; y < rows; ++y)
                std::memset(frame->data[plane] + y * frame->linesize[plane],
                            plane == 0 ? 40 * i : 128, static_cast<size_t>(frame->linesize[plane]));
        }
        frame->pts = i;
        ok = ok && avcodec_send_frame(codec, frame) == 0 && drain(codec, out, stream, packet);
    }
    ok = ok && avcodec_send_frame(codec, nullptr) == 0 && drain(codec, out, stream, packet) &&
         av_write_trailer(out) == 0;
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

struct Completion {
    std::string path;
    NSErrorPtr error;
};

class PhotoAlbumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DeviceHome::prepare(dir / "home"));
        movie = dir / "temp.mov";
        ASSERT_TRUE(writeMovie(movie));
    }
    void TearDown() override { NSSetHomeDirectory(""); }

    // Saves `path` and runs the main loop's pending work; the completion, if it came.
    std::optional<Completion> save(const std::string& path) {
        std::optional<Completion> heard;
        UISaveVideoAtPathToSavedPhotosAlbum(path, [&](const std::string& p, const NSErrorPtr& e) {
            heard = Completion{p, e};
        });
        EXPECT_FALSE(heard) << "the completion ran inside the call";
        clock.runDue();
        return heard;
    }
    std::vector<std::string> album() const {
        return NSFileManager::defaultManager()
            .contentsOfDirectoryAtPath(DeviceHome::photoAlbum())
            .value_or(std::vector<std::string>{});
    }

    ManualClockScope clock;
    TemporaryFolder dir;
    std::string movie;
};

TEST_F(PhotoAlbumTest, CopiesTheMovieUnderTheNextNumberAndCompletesOnTheMainLoop) {
    ASSERT_TRUE(UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(movie));
    for (const char* expected : {"IMG_0001.MOV", "IMG_0002.MOV"}) {
        auto heard = save(movie);
        ASSERT_TRUE(heard);
        EXPECT_EQ(heard->path, movie);
        EXPECT_FALSE(heard->error) << heard->error->description();
        EXPECT_EQ(NSData::dataWithContentsOfFile(DeviceHome::photoAlbum() + "/" + expected),
                  NSData::dataWithContentsOfFile(movie))
            << expected;
    }
    EXPECT_EQ(album(), (std::vector<std::string>{"IMG_0001.MOV", "IMG_0002.MOV"}));
}

struct NumberingCase {
    std::vector<std::string> present;
    std::string expected;
    friend std::ostream& operator<<(std::ostream& out, const NumberingCase& c) {
        return out << c.expected;
    }
};

class PhotoAlbumNumberingTest : public PhotoAlbumTest,
                                public ::testing::WithParamInterface<NumberingCase> {};

TEST_P(PhotoAlbumNumberingTest, TakesOnePastTheHighestPictureNumber) {
    for (const auto& name : GetParam().present)
        ASSERT_TRUE(NSData::writeToFile(Data{1}, DeviceHome::photoAlbum() + "/" + name, false));
    auto heard = save(movie);
    ASSERT_TRUE(heard && !heard->error);
    EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(DeviceHome::photoAlbum() + "/" +
                                                                 GetParam().expected));
    EXPECT_EQ(album().size(), GetParam().present.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PhotoAlbumNumberingTest,
    ::testing::Values(NumberingCase{{}, "IMG_0001.MOV"},
                      NumberingCase{{"IMG_0001.MOV", "IMG_0003.JPG"}, "IMG_0004.MOV"},
                      NumberingCase{{"img_0009.mov", "notes.txt", "IMG_12.MOV", "IMG_0002.MOV"},
                                    "IMG_0010.MOV"}));

struct RefusedCase {
    std::string name;
    std::function<Data(const Data& movie)> contents;  // nullptr: no file at all
    friend std::ostream& operator<<(std::ostream& out, const RefusedCase& c) {
        return out << c.name;
    }
};

class PhotoAlbumRefusalTest : public PhotoAlbumTest,
                              public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(PhotoAlbumRefusalTest, AFileThatIsNoMovieIsRefusedAndNothingIsCopied) {
    const std::string path = dir / GetParam().name;
    if (GetParam().contents) {
        Data bytes = GetParam().contents(*NSData::dataWithContentsOfFile(movie));
        ASSERT_TRUE(NSData::writeToFile(bytes, path, false));
    }
    EXPECT_FALSE(UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(path));
    auto heard = save(path);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->path, path);
    ASSERT_TRUE(heard->error);
    EXPECT_EQ(heard->error->domain(), ALAssetsLibraryErrorDomain);
    EXPECT_EQ(heard->error->code(), ALAssetsLibraryWriteDataEncodingError);
    EXPECT_FALSE(heard->error->localizedDescription().empty());
    EXPECT_TRUE(album().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, PhotoAlbumRefusalTest,
    ::testing::Values(RefusedCase{"missing.mov", nullptr},
                      RefusedCase{"notes.mov",
                                  [](const Data&) {
                                      return Data{'h', 'e', 'l', 'l', 'o'};
                                  }},
                      RefusedCase{"picture.jpg",
                                  [](const Data&) {
                                      auto image = UIImage::imageWithCGImage(CGImage::make(
                                          16, 16, true, [](uint8_t* rows, size_t stride) {
                                              std::memset(rows, 0x80, stride * 16);
                                          }));
                                      return UIImageJPEGRepresentation(image, 0.8);
                                  }},
                      RefusedCase{"truncated.mov", [](const Data& movie) {
                                      return Data(movie.begin(), movie.begin() + 40);
                                  }}));

// A named pipe in place of the movie is no movie, refused without waiting for a writer.
TEST_F(PhotoAlbumTest, ANamedPipeIsRefusedWithoutWaiting) {
    NamedPipe pipe(dir / "pipe.mov");
    ASSERT_TRUE(pipe);
    WaitAlarm alarm;
    EXPECT_FALSE(UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(pipe.path()));
    auto heard = save(pipe.path());
    EXPECT_FALSE(alarm.rang()) << "the album waited on the pipe";
    ASSERT_TRUE(heard && heard->error);
    EXPECT_EQ(heard->error->code(), ALAssetsLibraryWriteDataEncodingError);
    EXPECT_TRUE(album().empty());
}

// A movie far larger than the memory the save may use is still copied whole: it is never held
// in memory whole.
TEST_F(PhotoAlbumTest, AMovieLargerThanTheMemoryAtHandIsCopiedWhole) {
    constexpr uintmax_t kMovie = uintmax_t{128} << 20;
    std::filesystem::resize_file(movie, kMovie);  // zeros after the movie, which it ignores
    if (!kAddressSpaceCapTells)
        GTEST_SKIP() << "a sanitizer's reservations make an address-space cap meaningless";
    EXPECT_EXIT(
        {
            const bool capped = capAddressSpace(size_t{48} << 20);
            auto heard = save(movie);
            std::error_code ec;
            const bool copied = heard && !heard->error &&
                                std::filesystem::file_size(
                                    DeviceHome::photoAlbum() + "/IMG_0001.MOV", ec) == kMovie;
            std::exit(capped && copied ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PhotoAlbumTest, AnAlbumThatCannotBeWrittenReportsAWriteFailure) {
    ASSERT_TRUE(NSFileManager::defaultManager().removeItemAtPath(DeviceHome::photoAlbum()));
    ASSERT_TRUE(
        NSFileManager::defaultManager().createFileAtPath(DeviceHome::photoAlbum(), nullptr));
    auto heard = save(movie);
    ASSERT_TRUE(heard && heard->error);
    EXPECT_NE(heard->error->code(), ALAssetsLibraryWriteDataEncodingError);
}

struct Saver : NSObject {
    void videoDidFinishSavingWithError(const std::string& path, const NSErrorPtr& error,
                                       void* contextInfo) {
        heard.push_back({path, error});
        context = contextInfo;
    }
    std::vector<Completion> heard;
    void* context = nullptr;
};

TEST_F(PhotoAlbumTest, TheTargetHearsItsCompletionOnlyWhileItLives) {
    auto saver = std::make_shared<Saver>();
    int context = 0;
    UISaveVideoAtPathToSavedPhotosAlbum(movie, saver, &Saver::videoDidFinishSavingWithError,
                                        &context);
    EXPECT_TRUE(saver->heard.empty());
    clock.runDue();
    ASSERT_EQ(saver->heard.size(), 1u);
    EXPECT_FALSE(saver->heard[0].error);
    EXPECT_EQ(saver->context, &context);

    // A target that goes before the completion is not called, and is not kept alive for it.
    std::weak_ptr<Saver> gone;
    {
        auto leaving = std::make_shared<Saver>();
        gone = leaving;
        UISaveVideoAtPathToSavedPhotosAlbum(movie, leaving, &Saver::videoDidFinishSavingWithError,
                                            nullptr);
    }
    EXPECT_TRUE(gone.expired());
    clock.runDue();
    EXPECT_EQ(album().size(), 2u);
}

}  // namespace
