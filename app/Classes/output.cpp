#include "app/Classes/output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "app/Classes/ImageHelper.h"
#include "platform/AVFoundation/RecordedSoundFile.h"
#include "platform/CoreGraphics/PixelRows.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSString.h"
#include "platform/UIKit/UIImage.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 426;
constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBytesPerSampleFrame = 2 * kChannels;
// The video encoder's time resolution: 16 bits, for either term of the time base.
constexpr int kMaxTimeBase = 65535;
// The sound file's header is skipped unread: this many bytes, whatever it holds.
constexpr size_t kSoundSkip = 4500;

const char* const kUsage =
    "usage: %s output_file\n"
    "API example program to output a media file with libavformat.\n"
    "The output format is automatically guessed according to the file extension.\n"
    "Raw images can also be output by using '%%d' in the filename\n"
    "\n";

// A failure of the running call: its message for standard error.
struct Failure {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw Failure{std::move(message)};
}

// Truncates toward zero; 0 for a value that no int holds (NaN, infinity).
int truncated(float value) {
    if (!std::isfinite(value) || value >= static_cast<float>(INT_MAX) ||
        value <= static_cast<float>(INT_MIN)) {
        return 0;
    }
    return static_cast<int>(value);
}

// One row of `pixels` ARGB bitmap pixels into packed BGR24 (the alpha byte dropped).
PIXEL_ROW_CLONES void bgrFromARGB(const uint8_t* __restrict argb, uint8_t* __restrict bgr,
                                  size_t pixels) {
    size_t x = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Four pixels at a time as three words: a pixel's bytes A R G B swapped are B G R A.
        const auto bgrOf = [&](size_t i) {
            return __builtin_bswap32(loadPixelWord(argb + 4 * i)) & 0xFFFFFFu;
        };
        for (; x + kPixelBlock <= pixels; x += kPixelBlock) {
            for (size_t j = 0; j < kPixelBlock; j += 4) {
                const size_t i = x + j;
                const uint32_t p0 = bgrOf(i), p1 = bgrOf(i + 1), p2 = bgrOf(i + 2),
                               p3 = bgrOf(i + 3);
                storePixelWord(bgr + 3 * i, p0 | p1 << 24);
                storePixelWord(bgr + 3 * i + 4, p1 >> 8 | p2 << 16);
                storePixelWord(bgr + 3 * i + 8, p2 >> 16 | p3 << 8);
            }
        }
    }
    for (; x < pixels; ++x) {
        const int at = static_cast<int>(x);
        bgr[3 * x] = argb[blueOffset(at, 0, 0)];
        bgr[3 * x + 1] = argb[greenOffset(at, 0, 0)];
        bgr[3 * x + 2] = argb[redOffset(at, 0, 0)];
    }
}

std::string pathOfURL(const std::string& url) {
    constexpr std::string_view kScheme = "file://";
    return url.starts_with(kScheme) ? url.substr(kScheme.size()) : url;
}

}  // namespace

// Timing of the running call, in single precision as the frame spacing is defined.
static float STREAM_DURATION;
static float STREAM_FRAME_RATE;
static float STREAM_NB_FRAMES;   // N - r once the video stream is set up; the progress divisor
static int whole_seconds;        // i
static AVRational picture_time;  // how long one picture lasts: the video time base
static double video_end;         // the video's length: steps go on until it is reached

static const ValueArray* images;  // the running call's frame list, kept alive by the caller
static int frame_count;           // index of the next image to encode; stops at N
static int frame;                 // audio steps taken
static Data audio;                // the whole sound file

static AVFrame* picture;      // YUV 4:2:0 picture handed to the video encoder
static AVFrame* tmp_picture;  // BGR24 picture filled from one image
static AVFrame* samples;      // the silence of the first audio packet
static int audio_input_frame_size;
// Made at the first conversion in the process and kept: the sizes and formats never change.
static SwsContext* img_convert_ctx;

static AVFormatContext* oc;
static AVStream* video_st;
static AVStream* audio_st;
static AVCodecContext* video_enc;
static AVCodecContext* audio_enc;
static AVPacket* pkt;
static bool file_open;
static int64_t pictures_sent;  // pictures handed to the encoder, their time stamps
static int64_t video_packets;  // video packets written
static int64_t audio_written;  // audio sample frames written

AVFrame* alloc_picture(AVPixelFormat pix_fmt, int width, int height) {
    AVFrame* pict = av_frame_alloc();
    if (!pict)
        return nullptr;
    pict->format = pix_fmt;
    pict->width = width;
    pict->height = height;
    if (av_frame_get_buffer(pict, 0) < 0)
        av_frame_free(&pict);
    return pict;
}

void fill_yuv_image(AVFrame* pict, int frame_index, int width, int height) {
    if (!fill_bgr_picture(pict, (*images)[static_cast<size_t>(frame_index)].data(), width,
                          height)) {
        NSLog("frame %d is not a picture of at least %dx%d", frame_index, width, height);
    }
}

bool fill_bgr_picture(AVFrame* pict, const Data& image, int width, int height) {
    std::shared_ptr<UIImage> picture = UIImage::initWithData(image);
    const CGSize size = picture ? picture->size() : CGSize{};
    if (size.width < width || size.height < height)
        return false;
    const int rowWidth = static_cast<int>(size.width);
    ARGBBitmap bitmap = ImageHelper::bitmapFromImage(picture);
    picture.reset();
    if (!bitmap)
        return false;
    for (int y = 0; y < height; ++y) {
        // The row starts at the alpha byte of its pixel 0, just before that pixel's red.
        bgrFromARGB(&bitmap[redOffset(0, y, rowWidth) - 1], pict->data[0] + y * pict->linesize[0],
                    static_cast<size_t>(width));
    }
    return true;
}

namespace {

void reset(const ValueArray& frames, float duration, const std::string& soundURL) {
    frame = 0;
    frame_count = 0;
    images = &frames;
    pictures_sent = 0;
    video_packets = 0;
    audio_written = 0;
    const float n = static_cast<float>(frames.size());
    STREAM_DURATION = duration;
    STREAM_FRAME_RATE = 1.0f / (STREAM_DURATION / n);
    STREAM_NB_FRAMES = n;
    // Only a sound file as the recorder writes it: any other holds no sound to encode, and its
    // header's length is never believed.
    const auto sound = RecordedSoundFile::open(pathOfURL(soundURL));
    audio = sound ? sound->contents().value_or(Data{}) : Data{};
    NSLog("%d", static_cast<int>(audio.size()));
}

void releaseAll() {
    av_frame_free(&picture);
    av_frame_free(&tmp_picture);
    av_frame_free(&samples);
    avcodec_free_context(&video_enc);
    avcodec_free_context(&audio_enc);
    av_packet_free(&pkt);
    if (oc) {
        if (file_open)
            avio_closep(&oc->pb);
        avformat_free_context(oc);
        oc = nullptr;
    }
    file_open = false;
    video_st = nullptr;
    audio_st = nullptr;
    audio = Data{};
    images = nullptr;
}

void openFormat(const char* path) {
    const AVOutputFormat* format = av_guess_format("mov", nullptr, nullptr);
    if (!format)
        fail("Could not find suitable output format\n");
    oc = avformat_alloc_context();
    if (!oc)
        fail("Memory error\n");
    oc->oformat = format;
    oc->url = av_strdup(path);
    pkt = av_packet_alloc();
    if (!oc->url || !pkt)
        fail("Memory error\n");
}

AVCodecContext* addStream(AVStream** stream, int id, AVCodecID codecId) {
    *stream = avformat_new_stream(oc, nullptr);
    if (!*stream)
        fail("Could not alloc stream\n");
    (*stream)->id = id;
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec)
        fail("codec not found\n");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c)
        fail("Could not alloc stream\n");
    if (oc->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return c;
}

// Seconds of video once `pictures` pictures are written.
double videoTimeAfter(int64_t pictures) {
    return static_cast<double>(pictures) * picture_time.num / picture_time.den;
}

void addVideoStream() {
    // MPEG-4 Part 2, named: this muxer's default became H.264 where x264 is built in.
    video_enc = addStream(&video_st, 0, AV_CODEC_ID_MPEG4);
    const int n = static_cast<int>(images->size());
    whole_seconds = truncated(STREAM_DURATION);
    NSLog("%d", whole_seconds);
    if (whole_seconds > 0) {
        const int r =
            truncated((STREAM_DURATION - static_cast<float>(whole_seconds)) * STREAM_FRAME_RATE);
        STREAM_NB_FRAMES = static_cast<float>(n - r);
        picture_time = AVRational{whole_seconds, truncated(STREAM_NB_FRAMES)};
        video_end = STREAM_DURATION;
    } else {
        // No whole second to spread the frames over: the N frames share D, and the video ends
        // with the last of them (the nearest fraction may fall a hair short of D).
        STREAM_NB_FRAMES = static_cast<float>(n);
        picture_time = av_d2q(static_cast<double>(STREAM_DURATION) / n, kMaxTimeBase);
        video_end = videoTimeAfter(n);
    }
    video_enc->bit_rate = 400000;
    video_enc->width = kWidth;
    video_enc->height = kHeight;
    video_enc->time_base = picture_time;
    video_enc->gop_size = n;
    video_enc->max_b_frames = 0;
    video_enc->pix_fmt = AV_PIX_FMT_YUV420P;
    // Measured: one thread is faster than several at this picture size.
    video_enc->thread_count = 1;
}

void addAudioStream() {
    audio_enc = addStream(&audio_st, 1, AV_CODEC_ID_PCM_S16LE);
    audio_enc->sample_fmt = AV_SAMPLE_FMT_S16;
    audio_enc->bit_rate = 64000;
    audio_enc->sample_rate = kSampleRate;
    audio_enc->time_base = AVRational{1, kSampleRate};
    av_channel_layout_default(&audio_enc->ch_layout, kChannels);
}

void openVideo() {
    if (avcodec_open2(video_enc, nullptr, nullptr) < 0)
        fail("could not open codec\n");
    picture = alloc_picture(AV_PIX_FMT_YUV420P, kWidth, kHeight);
    if (!picture)
        fail("Could not allocate picture\n");
    tmp_picture = alloc_picture(AV_PIX_FMT_BGR24, kWidth, kHeight);
    if (!tmp_picture)
        fail("Could not allocate temporary picture\n");
    // Black, for a first frame that does not decode.
    for (int y = 0; y < kHeight; ++y) {
        std::fill_n(tmp_picture->data[0] + y * tmp_picture->linesize[0], 3 * kWidth, 0);
    }
    if (avcodec_parameters_from_context(video_st->codecpar, video_enc) < 0) {
        fail("Invalid output format parameters\n");
    }
    video_st->time_base = video_enc->time_base;
}

void openAudio() {
    if (avcodec_open2(audio_enc, nullptr, nullptr) < 0)
        fail("could not open codec\n");
    if (audio_enc->frame_size > 1) {
        audio_input_frame_size = audio_enc->frame_size;
    } else {
        // PCM encoders take any count: 4500 bytes' worth of 16-bit stereo frames.
        audio_input_frame_size = 4500 / kChannels / 2;
    }
    samples = av_frame_alloc();
    if (!samples)
        fail("Memory error\n");
    samples->format = audio_enc->sample_fmt;
    samples->nb_samples = audio_input_frame_size;
    samples->sample_rate = kSampleRate;
    if (av_channel_layout_copy(&samples->ch_layout, &audio_enc->ch_layout) < 0 ||
        av_frame_get_buffer(samples, 0) < 0) {
        fail("Memory error\n");
    }
    av_samples_set_silence(samples->data, 0, samples->nb_samples, kChannels, audio_enc->sample_fmt);
    if (avcodec_parameters_from_context(audio_st->codecpar, audio_enc) < 0) {
        fail("Invalid output format parameters\n");
    }
    audio_st->time_base = audio_enc->time_base;
}

void openFile(const char* path) {
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        if (avio_open(&oc->pb, path, AVIO_FLAG_WRITE) < 0) {
            fail(stringWithFormat("Could not open '%s'\n", path));
        }
        file_open = true;
    }
    if (avformat_write_header(oc, nullptr) < 0)
        fail("Invalid output format parameters\n");
}

void writeAudioPacket(int64_t sampleFrames) {
    pkt->stream_index = audio_st->index;
    pkt->flags |= AV_PKT_FLAG_KEY;
    pkt->pts = pkt->dts = audio_written;
    pkt->duration = sampleFrames;
    av_packet_rescale_ts(pkt, audio_enc->time_base, audio_st->time_base);
    const int status = av_write_frame(oc, pkt);
    av_packet_unref(pkt);
    if (status != 0)
        fail("Error while writing audio frame\n");
    audio_written += sampleFrames;
}

void writeAudioFrame(double audioTime) {
    NSLog("%f", audioTime);
    if (frame == 0) {
        samples->pts = 0;
        if (avcodec_send_frame(audio_enc, samples) < 0)
            fail("Error while writing audio frame\n");
        while (avcodec_receive_packet(audio_enc, pkt) == 0) {
            writeAudioPacket(pkt->size / kBytesPerSampleFrame);
        }
    } else {
        // The file's samples go in as they are, in one packet, without the encoder.
        const int64_t sampleFrames =
            static_cast<int64_t>((audio.size() - kSoundSkip) / kBytesPerSampleFrame);
        pkt->data = audio.data() + kSoundSkip;
        pkt->size = static_cast<int>(sampleFrames * kBytesPerSampleFrame);
        writeAudioPacket(sampleFrames);
    }
    frame = frame + 1;
}

void writeVideoPackets() {
    while (avcodec_receive_packet(video_enc, pkt) == 0) {
        pkt->stream_index = video_st->index;
        // Without its duration the movie's edit list would end at the last picture's start.
        if (pkt->duration == 0)
            pkt->duration = 1;
        av_packet_rescale_ts(pkt, video_enc->time_base, video_st->time_base);
        const int status = av_write_frame(oc, pkt);
        av_packet_unref(pkt);
        if (status != 0)
            fail("Error while writing video frame\n");
        ++video_packets;
    }
}

void postProgress() {
    ValueDictionary info;
    info.set("progress", Value(static_cast<float>(frame_count) / STREAM_NB_FRAMES));
    NSNotificationCenter::defaultCenter().postNotificationName("progress", nullptr,
                                                               Value(std::move(info)));
}

void writeVideoFrame() {
    if (frame_count < static_cast<int>(images->size())) {
        fill_yuv_image(tmp_picture, frame_count, kWidth, kHeight);
        if (!img_convert_ctx) {
            img_convert_ctx =
                sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight,
                               AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (!img_convert_ctx)
                fail("Cannot initialize the conversion context\n");
        }
        // The encoder may still hold the previous picture.
        if (av_frame_make_writable(picture) < 0)
            fail("Could not allocate picture\n");
        sws_scale(img_convert_ctx, tmp_picture->data, tmp_picture->linesize, 0, kHeight,
                  picture->data, picture->linesize);
        frame_count = frame_count + 1;
    }
    picture->pts = pictures_sent++;
    if (avcodec_send_frame(video_enc, picture) < 0)
        fail("Error while writing video frame\n");
    writeVideoPackets();
    postProgress();
}

void interleave() {
    const double duration = STREAM_DURATION;
    for (;;) {
        const double audioTime = static_cast<double>(audio_written) / kSampleRate;
        const double videoTime = videoTimeAfter(video_packets);
        if (audioTime >= duration && videoTime >= video_end)
            break;
        if (audioTime < videoTime) {
            writeAudioFrame(audioTime);
        } else {
            writeVideoFrame();
        }
    }
}

void finish() {
    // No B-frames, so nothing should be left; whatever is, belongs to the movie.
    if (avcodec_send_frame(video_enc, nullptr) == 0)
        writeVideoPackets();
    if (av_write_trailer(oc) < 0)
        fail("Error while writing video frame\n");
    if (file_open) {
        file_open = false;
        if (avio_closep(&oc->pb) < 0)
            fail("Error while writing video frame\n");
    }
}

void encode(const char* path) {
    // Without one whole sample frame past the skipped header the audio could never catch up.
    if (audio.size() < kSoundSkip + kBytesPerSampleFrame) {
        fail("Could not read sound file\n");
    }
    openFormat(path);
    addVideoStream();
    addAudioStream();
    openVideo();
    openAudio();
    av_dump_format(oc, 0, path, 1);
    openFile(path);
    interleave();
    finish();
}

}  // namespace

namespace {
thread_local std::string lastError;
}

const std::string& output_error() {
    return lastError;
}

int output(int argc, const char* const argv[], const ValueArray& images, float duration,
           const std::string& soundURL, const std::shared_ptr<UIProgressView>& progressView) {
    (void)progressView;
    // The module's state is file-scope: calls from different threads take turns.
    static std::mutex running;
    const std::lock_guard<std::mutex> lock(running);
    lastError.clear();
    reset(images, duration, soundURL);
    if (argc != 2) {
        const char* name = argc > 0 && argv[0] ? argv[0] : "output";
        std::printf(kUsage, name);
        lastError.resize(static_cast<size_t>(std::snprintf(nullptr, 0, kUsage, name)));
        std::snprintf(lastError.data(), lastError.size() + 1, kUsage, name);
        releaseAll();
        return 1;
    }
    const char* path = argv[1];
    // Written under a name of its own, then renamed over `path`: whatever stands there (a link
    // too) is replaced, never written through, and a movie cut off halfway never has the name.
    const std::string partial = NSData::writeToTemporaryFile(Data{}, path);
    try {
        if (partial.empty())
            fail(stringWithFormat("Could not open '%s'\n", path));
        encode(partial.c_str());
        if (std::rename(partial.c_str(), path) != 0)
            fail(stringWithFormat("Could not open '%s'\n", path));
    } catch (const Failure& failure) {
        std::fputs(failure.message.c_str(), stderr);
        lastError = failure.message;
        releaseAll();
        if (!partial.empty())
            std::remove(partial.c_str());
        return 1;
    }
    releaseAll();
    return 0;
}
