// CTest labels: threads

#include "app/Classes/output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/CoreGraphics/CGImage.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIImage.h"
#include "tests/support/NamedPipe.h"

namespace fs = std::filesystem;

namespace {

struct RGB {
    int r, g, b;
};

constexpr std::array<RGB, 3> kPalette{{{220, 30, 30}, {30, 200, 40}, {40, 50, 210}}};
constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 480;
constexpr int kMovieHeight = 426;
constexpr size_t kCafHeader = 4096;

// A 320x480 screen grab as JPEG (quality 0.5): `top` over the movie's rows, white below them.
Data screenJPEG(RGB top, int width = kScreenWidth, int height = kScreenHeight) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, top.r / 255.0, top.g / 255.0, top.b / 255.0);
    cairo_rectangle(cr, 0, 0, width, std::min(height, kMovieHeight));
    cairo_fill(cr);
    cairo_destroy(cr);
    return UIImageJPEGRepresentation(UIImage::imageWithCGImage(CGImage::adoptSurface(s)), 0.5);
}

// `count` frames cycling through the palette: frame k shows kPalette[k % 3].
ValueArray paletteFrames(int count) {
    std::array<Data, 3> jpegs{screenJPEG(kPalette[0]), screenJPEG(kPalette[1]),
                              screenJPEG(kPalette[2])};
    ValueArray frames;
    for (int k = 0; k < count; ++k) frames.emplace_back(jpegs[static_cast<size_t>(k) % 3]);
    return frames;
}

void putBE(std::string& out, uint64_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

// A recorder's sound file: CAF header padded to 4096 bytes with a 'free' chunk, then
// `sampleFrames` stereo 16-bit little-endian frames of a recognisable pattern.
std::string cafFile(int64_t sampleFrames) {
    std::string caf = "caff";
    putBE(caf, 1, 2);
    putBE(caf, 0, 2);
    caf += "desc";
    putBE(caf, 32, 8);
    double rate = 44100;
    uint64_t rateBits;
    std::memcpy(&rateBits, &rate, 8);
    putBE(caf, rateBits, 8);
    caf += "lpcm";
    putBE(caf, 2, 4);  // little-endian integer
    putBE(caf, 4, 4);  // bytes per packet
    putBE(caf, 1, 4);  // frames per packet
    putBE(caf, 2, 4);  // channels
    putBE(caf, 16, 4);
    const size_t freeBody = kCafHeader - caf.size() - 12 - 12 - 4;
    caf += "free";
    putBE(caf, freeBody, 8);
    caf.append(freeBody, '\0');
    caf += "data";
    putBE(caf, static_cast<uint64_t>(sampleFrames * 4 + 4), 8);
    putBE(caf, 0, 4);  // edit count
    for (int64_t i = 0; i < sampleFrames * 2; ++i) {
        const auto sample = static_cast<uint16_t>(i * 37 + 11);
        caf.push_back(static_cast<char>(sample & 0xFF));
        caf.push_back(static_cast<char>(sample >> 8));
    }
    return caf;
}

struct Packet {
    int stream;
    int64_t pos;
    int size;
    int64_t pts;
    int64_t duration;
};

// What libavformat reads back from a movie.
struct Movie {
    std::string formatName;
    AVCodecParameters* video = nullptr;
    AVCodecParameters* audio = nullptr;
    AVRational videoTimeBase{};
    AVRational audioTimeBase{};
    int64_t audioDuration = 0;
    std::vector<Packet> packets;  // in reading order
    std::string audioBytes;
    std::vector<RGB> pictureColours;  // centre and bottom-row colour of each decoded picture
    std::vector<RGB> bottomColours;

    ~Movie() {
        avcodec_parameters_free(&video);
        avcodec_parameters_free(&audio);
    }
    std::vector<Packet> videoPackets() const {
        std::vector<Packet> v;
        std::copy_if(packets.begin(), packets.end(), std::back_inserter(v),
                     [](const Packet& p) { return p.stream == 0; });
        return v;
    }
};

RGB pixelOf(const AVFrame* rgb, int x, int y) {
    const uint8_t* p = rgb->data[0] + y * rgb->linesize[0] + 3 * x;
    return {p[0], p[1], p[2]};
}

void readMovie(const std::string& path, Movie& movie) {
    AVFormatContext* in = nullptr;
    ASSERT_EQ(avformat_open_input(&in, path.c_str(), nullptr, nullptr), 0) << path;
    ASSERT_GE(avformat_find_stream_info(in, nullptr), 0);
    ASSERT_EQ(in->nb_streams, 2u);
    movie.formatName = in->iformat->name;
    AVStream* v = in->streams[0];
    AVStream* a = in->streams[1];
    movie.video = avcodec_parameters_alloc();
    movie.audio = avcodec_parameters_alloc();
    avcodec_parameters_copy(movie.video, v->codecpar);
    avcodec_parameters_copy(movie.audio, a->codecpar);
    movie.videoTimeBase = v->time_base;
    movie.audioTimeBase = a->time_base;
    movie.audioDuration = a->duration;

    const AVCodec* decoder = avcodec_find_decoder(v->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(dec, v->codecpar);
    ASSERT_EQ(avcodec_open2(dec, decoder, nullptr), 0);
    AVFrame* picture = av_frame_alloc();
    AVFrame* rgb = av_frame_alloc();
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = v->codecpar->width;
    rgb->height = v->codecpar->height;
    av_frame_get_buffer(rgb, 0);
    SwsContext* toRGB =
        sws_getContext(rgb->width, rgb->height, AV_PIX_FMT_YUV420P, rgb->width, rgb->height,
                       AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    auto takePictures = [&] {
        while (avcodec_receive_frame(dec, picture) == 0) {
            sws_scale(toRGB, picture->data, picture->linesize, 0, rgb->height, rgb->data,
                      rgb->linesize);
            movie.pictureColours.push_back(pixelOf(rgb, rgb->width / 2, rgb->height / 2));
            movie.bottomColours.push_back(pixelOf(rgb, rgb->width / 2, rgb->height - 3));
        }
    };
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(in, pkt) == 0) {
        movie.packets.push_back({pkt->stream_index, pkt->pos, pkt->size, pkt->pts, pkt->duration});
        if (pkt->stream_index == 1) {
            movie.audioBytes.append(reinterpret_cast<const char*>(pkt->data),
                                    static_cast<size_t>(pkt->size));
        } else {
            avcodec_send_packet(dec, pkt);
            takePictures();
        }
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    takePictures();
    av_packet_free(&pkt);
    sws_freeContext(toRGB);
    av_frame_free(&rgb);
    av_frame_free(&picture);
    avcodec_free_context(&dec);
    avformat_close_input(&in);
}

// Audio bytes in file order, as runs of adjacent audio packets: (video packets before, bytes).
std::vector<std::pair<int, int64_t>> audioRuns(std::vector<Packet> packets) {
    std::sort(packets.begin(), packets.end(),
              [](const Packet& x, const Packet& y) { return x.pos < y.pos; });
    std::vector<std::pair<int, int64_t>> runs;
    int videoBefore = 0;
    int64_t runEnd = -1;
    for (const Packet& p : packets) {
        if (p.stream == 0) {
            ++videoBefore;
            runEnd = -1;
        } else if (p.pos == runEnd) {
            runs.back().second += p.size;
            runEnd += p.size;
        } else {
            runs.emplace_back(videoBefore, p.size);
            runEnd = p.pos + p.size;
        }
    }
    return runs;
}

bool near(RGB x, RGB y, int tolerance = 40) {
    return std::abs(x.r - y.r) <= tolerance && std::abs(x.g - y.g) <= tolerance &&
           std::abs(x.b - y.b) <= tolerance;
}

std::string describe(RGB c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        av_log_set_level(AV_LOG_ERROR);
        dir_ = fs::temp_directory_path() /
               ("tilvex-output-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        moviePath_ = (dir_ / "temp.mov").string();
        NSNotificationCenter::defaultCenter().addObserver(
            this, "progress", nullptr, [this](const NSNotification& n) {
                EXPECT_EQ(n.object(), nullptr);
                progress_.push_back(static_cast<float>(n.userInfo()["progress"].doubleValue()));
            });
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter().removeObserver(this);
        fs::remove_all(dir_);
    }

    // A sound file whose samples play for `seconds`; returns its path.
    std::string writeSound(double seconds, const std::string& name = "Audio_0001.caf") {
        const std::string path = (dir_ / name).string();
        soundBytes_ = cafFile(std::llround(seconds * 44100));
        std::ofstream(path, std::ios::binary) << soundBytes_;
        return path;
    }

    int run(const ValueArray& frames, float duration, const std::string& sound, int argc = 2) {
        const char* argv[] = {"tilvex", moviePath_.c_str(), nullptr};
        progress_.clear();
        return output(argc, argv, frames, duration, sound, nullptr);
    }

    fs::path dir_;
    std::string moviePath_;
    std::string soundBytes_;
    std::vector<float> progress_;
};

struct WorkedCase {
    float duration;
    int images;
    int timeBaseNum;
    int timeBaseDen;
    int pictures;
    int picturesBeforeSoundFile;
    int progressDivisor;  // N - r; N under one second
    const char* name;
};

class OutputWorkedTest : public OutputTest, public ::testing::WithParamInterface<WorkedCase> {};

TEST_P(OutputWorkedTest, WritesTheMovieTheTimingRulesGive) {
    const WorkedCase c = GetParam();
    const std::string sound = writeSound(c.duration);
    ASSERT_EQ(run(paletteFrames(c.images), c.duration, sound), 0);

    Movie movie;
    ASSERT_NO_FATAL_FAILURE(readMovie(moviePath_, movie));
    EXPECT_NE(movie.formatName.find("mov"), std::string::npos);
    EXPECT_EQ(movie.video->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(movie.video->width, 320);
    EXPECT_EQ(movie.video->height, 426);
    EXPECT_EQ(movie.video->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(movie.audio->codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(movie.audio->sample_rate, 44100);
    EXPECT_EQ(movie.audio->ch_layout.nb_channels, 2);

    // Every picture lasts i / (N - r) and stands at its index times that.
    const AVRational picture{c.timeBaseNum, c.timeBaseDen};
    const std::vector<Packet> video = movie.videoPackets();
    ASSERT_EQ(static_cast<int>(video.size()), c.pictures);
    for (size_t j = 0; j < video.size(); ++j) {
        EXPECT_EQ(av_cmp_q(av_mul_q({static_cast<int>(video[j].duration), 1}, movie.videoTimeBase),
                           picture),
                  0)
            << "picture " << j;
        EXPECT_EQ(av_cmp_q(av_mul_q({static_cast<int>(video[j].pts), 1}, movie.videoTimeBase),
                           av_mul_q({static_cast<int>(j), 1}, picture)),
                  0)
            << "picture " << j;
    }

    // Silence after the first picture, then the file's samples past its first 4500 bytes.
    const int64_t rest = static_cast<int64_t>(soundBytes_.size()) - 4500;
    std::vector<std::pair<int, int64_t>> expectedRuns;
    if (c.picturesBeforeSoundFile == 1) {
        expectedRuns = {{1, 4500 + rest}};
    } else {
        expectedRuns = {{1, 4500}, {c.picturesBeforeSoundFile, rest}};
    }
    EXPECT_EQ(audioRuns(movie.packets), expectedRuns);
    ASSERT_EQ(static_cast<int64_t>(movie.audioBytes.size()), 4500 + rest);
    EXPECT_EQ(movie.audioBytes.substr(0, 4500), std::string(4500, '\0'));
    EXPECT_TRUE(movie.audioBytes.substr(4500) == soundBytes_.substr(4500));
    const int64_t sampleFrames = (4500 + rest) / 4;
    EXPECT_EQ(av_cmp_q(av_mul_q({static_cast<int>(movie.audioDuration), 1}, movie.audioTimeBase),
                       {static_cast<int>(sampleFrames), 44100}),
              0);

    // One notification per video step; the value stops growing at N.
    ASSERT_EQ(static_cast<int>(progress_.size()), c.pictures);
    for (int j = 0; j < c.pictures; ++j) {
        EXPECT_EQ(progress_[static_cast<size_t>(j)], static_cast<float>(std::min(j + 1, c.images)) /
                                                         static_cast<float>(c.progressDivisor))
            << "step " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, OutputWorkedTest,
    ::testing::Values(WorkedCase{10.5f, 105, 10, 100, 105, 1, 100, "TenAndAHalfSeconds"},
                      WorkedCase{2.3f, 50, 2, 44, 51, 1, 44, "LastImageTwice"},
                      WorkedCase{1.5f, 45, 1, 31, 47, 1, 31, "FloatRateJustUnderThirty"},
                      WorkedCase{10.0f, 300, 10, 300, 300, 1, 300, "WholeSeconds"},
                      WorkedCase{2.0f, 120, 2, 120, 120, 2, 120, "PicturesFasterThanSilence"},
                      WorkedCase{1.0f, 30, 1, 30, 30, 1, 30, "OneSecond"},
                      // Under one second the frames share the duration, each shown once.
                      WorkedCase{0.6f, 36, 1, 60, 36, 2, 36, "UnderOneSecond"},
                      WorkedCase{0.25f, 5, 1, 20, 5, 1, 5, "AQuarterOfASecond"},
                      WorkedCase{0.7f, 1, 7, 10, 1, 1, 1, "OneFrame"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutputTest, PicturesAreTheTopRowsOfTheFramesInOrderAndTheLastRepeats) {
    const std::string sound = writeSound(1.5);
    ASSERT_EQ(run(paletteFrames(45), 1.5f, sound), 0);
    Movie movie;
    ASSERT_NO_FATAL_FAILURE(readMovie(moviePath_, movie));
    ASSERT_EQ(movie.pictureColours.size(), 47u);
    for (size_t j = 0; j < 47; ++j) {
        const RGB expected = kPalette[std::min<size_t>(j, 44) % 3];
        EXPECT_TRUE(near(movie.pictureColours[j], expected))
            << "picture " << j << ": " << describe(movie.pictureColours[j]);
        // The white rows below the movie's 426 are cut off, not squeezed in.
        EXPECT_TRUE(near(movie.bottomColours[j], expected))
            << "picture " << j << " bottom: " << describe(movie.bottomColours[j]);
    }
}

TEST_F(OutputTest, ASecondExportReplacesTheFileAndCountsAfresh) {
    ASSERT_EQ(run(paletteFrames(50), 2.3f, writeSound(2.3, "first.caf")), 0);
    ASSERT_EQ(progress_.size(), 51u);
    ASSERT_EQ(run(paletteFrames(45), 1.5f, writeSound(1.5, "second.caf")), 0);

    Movie movie;
    ASSERT_NO_FATAL_FAILURE(readMovie(moviePath_, movie));
    EXPECT_EQ(movie.videoPackets().size(), 47u);
    EXPECT_EQ(static_cast<int64_t>(movie.audioBytes.size()),
              static_cast<int64_t>(soundBytes_.size()));
    ASSERT_EQ(progress_.size(), 47u);
    EXPECT_FLOAT_EQ(progress_.front(), 1.0f / 31);
    EXPECT_FLOAT_EQ(progress_.back(), 45.0f / 31);
}

TEST_F(OutputTest, FramesThatDoNotDecodeKeepThePreviousPicture) {
    const std::string sound = writeSound(2.0);
    ValueArray frames = paletteFrames(40);
    frames[0] = Value(Data{'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    frames[10] = Value("a string, not data");
    frames[20] = Value(screenJPEG(kPalette[2], 100, 100));  // too small for the movie
    ASSERT_EQ(run(frames, 2.0f, sound), 0);

    Movie movie;
    ASSERT_NO_FATAL_FAILURE(readMovie(moviePath_, movie));
    ASSERT_EQ(movie.pictureColours.size(), 40u);
    EXPECT_TRUE(near(movie.pictureColours[0], {0, 0, 0})) << describe(movie.pictureColours[0]);
    EXPECT_TRUE(near(movie.pictureColours[10], kPalette[9 % 3]));
    EXPECT_TRUE(near(movie.pictureColours[20], kPalette[19 % 3]));
    EXPECT_TRUE(near(movie.pictureColours[21], kPalette[21 % 3]));
}

// Exports started together on several threads. The driver's state is file-scope, so calls must
// take turns: each movie, and the progress its thread hears, must be what its call makes alone.
class OutputThreadsTest : public OutputTest {
  protected:
    struct Job {
        ValueArray frames;
        float duration;
        std::string sound;
        std::string movie;
        Data solo;                        // the movie its call writes alone
        std::vector<float> soloProgress;  // the values its call posts alone
    };

    void SetUp() override {
        OutputTest::SetUp();
        // The progress values heard on each thread, in order.
        NSNotificationCenter::defaultCenter().removeObserver(this);
        NSNotificationCenter::defaultCenter().addObserver(
            this, "progress", nullptr, [this](const NSNotification& n) {
                const float value = static_cast<float>(n.userInfo()["progress"].doubleValue());
                const std::lock_guard<std::mutex> lock(heardLock_);
                heard_[std::this_thread::get_id()].push_back(value);
            });
    }

    Job job(int frames, float duration, const std::string& name) {
        return {paletteFrames(frames),
                duration,
                writeSound(duration, name + ".caf"),
                (dir_ / (name + ".mov")).string(),
                Data(),
                {}};
    }
    // Runs the export of `j` on the calling thread; its status.
    static int exportOf(const Job& j) {
        const char* argv[] = {"tilvex", j.movie.c_str()};
        return output(2, argv, j.frames, j.duration, j.sound, nullptr);
    }
    std::vector<float> heardOnThisThread() {
        const std::lock_guard<std::mutex> lock(heardLock_);
        return std::move(heard_[std::this_thread::get_id()]);
    }

    std::mutex heardLock_;
    std::map<std::thread::id, std::vector<float>> heard_;
};

TEST_F(OutputThreadsTest, ExportsStartedTogetherEachWriteTheMovieTheyWriteAlone) {
    // Different lengths, frame counts and timing rules, so that state carried from one call
    // into another shows in the movie.
    std::vector<Job> jobs;
    jobs.push_back(job(50, 2.3f, "a"));
    jobs.push_back(job(45, 1.5f, "b"));
    jobs.push_back(job(36, 0.6f, "c"));
    jobs.push_back(job(60, 2.0f, "d"));
    for (Job& j : jobs) {
        ASSERT_EQ(exportOf(j), 0) << j.movie;
        j.solo = NSData::dataWithContentsOfFile(j.movie).value_or(Data());
        ASSERT_GT(j.solo.size(), 1000u);
        j.soloProgress = heardOnThisThread();
        ASSERT_FALSE(j.soloProgress.empty());
        fs::remove(j.movie);
    }

    // Rounds of every export at once, each on a thread of its own, released together.
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        std::latch start(static_cast<std::ptrdiff_t>(jobs.size()));
        std::vector<int> status(jobs.size(), -1);
        std::vector<std::vector<float>> progress(jobs.size());
        std::vector<std::shared_ptr<NSThread>> threads;
        for (size_t k = 0; k < jobs.size(); ++k) {
            threads.push_back(NSThread::detachNewThread([&, k] {
                start.arrive_and_wait();
                status[k] = exportOf(jobs[k]);
                progress[k] = heardOnThisThread();
            }));
        }
        for (auto& thread : threads) thread->join();
        for (size_t k = 0; k < jobs.size(); ++k) {
            const Job& j = jobs[k];
            ASSERT_EQ(status[k], 0) << "round " << round << ", " << j.movie;
            EXPECT_TRUE(NSData::dataWithContentsOfFile(j.movie).value_or(Data()) == j.solo)
                << "round " << round << ", " << j.movie << " differs from its solo run";
            EXPECT_EQ(progress[k], j.soloProgress) << "round " << round << ", " << j.movie;
            fs::remove(j.movie);
        }
    }
}

struct FailureCase {
    const char* name;
    float duration;
    int images;
    int argc;
    bool soundExists;
    bool unwritablePath;
    const char* stderrText;
    const char* stdoutText;
};

class OutputFailureTest : public OutputTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(OutputFailureTest, ReportsReturnsAndLeavesNoMovie) {
    const FailureCase c = GetParam();
    const std::string sound =
        c.soundExists ? writeSound(std::max(c.duration, 1.0f)) : (dir_ / "missing.caf").string();
    if (c.unwritablePath)
        moviePath_ = (dir_ / "no-such-folder" / "temp.mov").string();

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = run(paletteFrames(c.images), c.duration, sound, c.argc);
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_NE(status, 0);
    const std::string expectedError =
        c.unwritablePath ? "Could not open '" + moviePath_ + "'\n" : c.stderrText;
    EXPECT_NE(err.find(expectedError), std::string::npos) << err;
    EXPECT_NE(out.find(c.stdoutText), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(moviePath_));
    EXPECT_TRUE(progress_.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, OutputFailureTest,
    ::testing::Values(
        FailureCase{"NoLength", 0.0f, 27, 2, true, false, "could not open codec\n", ""},
        FailureCase{"NoImages", 2.0f, 0, 2, true, false, "could not open codec\n", ""},
        FailureCase{"UnwritablePath", 2.0f, 60, 2, true, true, "", ""},
        FailureCase{"NoSoundFile", 2.0f, 60, 2, false, false, "Could not read sound file", ""},
        FailureCase{"Usage", 2.0f, 60, 1, true, false, "",
                    "usage: tilvex output_file\nAPI example program to output a media file "
                    "with libavformat.\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A sound file other than the recorder's is no sound to encode, whatever its header claims: the
// export fails as for an unreadable one, leaves no movie, and never waits on the file.
TEST_F(OutputTest, ASoundFileOtherThanTheRecordersIsNotEncoded) {
    struct Case {
        const char* what;
        std::function<void(std::string& caf)> damage;  // null: a named pipe in its place
    };
    auto field = [](std::string& caf, size_t at, uint64_t value, int bytes) {
        std::string be;
        putBE(be, value, bytes);
        caf.replace(at, be.size(), be);
    };
    const Case cases[] = {
        {"a header that claims 100 Hz",
         [&](std::string& caf) {
             const double rate = 100;
             uint64_t bits;
             std::memcpy(&bits, &rate, 8);
             field(caf, 20, bits, 8);
         }},
        {"a header that claims one channel", [&](std::string& caf) { field(caf, 44, 1, 4); }},
        {"a header that claims more sound than the file holds",
         [](std::string& caf) { caf.resize(caf.size() - 4000); }},
        {"a named pipe", nullptr},
    };
    for (const Case& c : cases) {
        const std::string path = (dir_ / "Audio_0001.caf").string();
        fs::remove(path);
        std::optional<NamedPipe> pipe;
        if (c.damage) {
            std::string caf = cafFile(2 * 44100);
            c.damage(caf);
            std::ofstream(path, std::ios::binary) << caf;
        } else {
            ASSERT_TRUE(static_cast<bool>(pipe.emplace(path)));
        }
        WaitAlarm alarm;
        EXPECT_EQ(run(paletteFrames(60), 2.0f, path), 1) << c.what;
        EXPECT_FALSE(alarm.rang()) << c.what << ": the encoder waited on the sound file";
        EXPECT_EQ(output_error(), "Could not read sound file\n") << c.what;
        EXPECT_FALSE(fs::exists(moviePath_)) << c.what;
    }
}

}  // namespace
