#include "platform/Device/MediaInput.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Device/SystemCallDeadline.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSLog.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/error.h>
}

namespace {
// A paced source that falls further behind the clock than this (the clock jumped, or the
// machine stalled) starts again from now instead of decoding the gap as fast as it can; one
// that runs ahead by more (the clock went back) does the same.
constexpr double kResyncSeconds = 1.0;
// Under a manual clock nothing signals that time moved: look again this often.
constexpr double kManualClockPollSeconds = 0.002;

// Set once the process ends: nothing waits for a device any more.
std::atomic<bool> gOpeningAbandoned{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void registerDevices() {
    static std::once_flag once;
    std::call_once(once, [] { avdevice_register_all(); });
}
}  // namespace

std::unique_ptr<MediaInput> MediaInput::open(const std::string& input, AVMediaType type,
                                             const char* device, NSErrorPtr* error) {
    std::string reason;
    std::unique_ptr<MediaInput> media;
    if (input == "none") {
        reason = std::string("The phone has no ") + device + ".";
    } else {
        media.reset(new MediaInput(input, device));
        if (!media->openInput(input, type, &reason)) {
            reason = std::string("The ") + device + " input \"" + input +
                     "\" cannot be opened: " + reason;
            media.reset();
        }
    }
    if (!media && error)
        *error = NSError::make(MediaInputErrorDomain, 1, reason);
    return media;
}

void MediaInput::abandonOpening() {
    gOpeningAbandoned.store(true);
}

bool MediaInput::openInput(const std::string& input, AVMediaType type, std::string* reason) {
    if (gOpeningAbandoned.load()) {
        *reason = "the program is ending";
        return false;
    }
    openDeadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(kOpenTimeoutSeconds);
    opening_ = true;
    bool opened;
    {
        SystemCallDeadline deadline(kOpenTimeoutSeconds);
        opened = openStream(input, type, reason);
    }
    opening_ = false;
    if (!opened && gOpeningAbandoned.load())
        *reason = "the program is ending";
    else if (!opened && std::chrono::steady_clock::now() >= openDeadline_)
        *reason = "it did not answer within " + std::to_string(kOpenTimeoutSeconds) + " s";
    return opened;
}

bool MediaInput::openStream(const std::string& input, AVMediaType type, std::string* reason) {
    registerDevices();
    // "FORMAT:INPUT" when the part before the colon names an input format; else a file path.
    const AVInputFormat* inputFormat = nullptr;
    std::string url = input;
    auto colon = input.find(':');
    if (colon != std::string::npos && colon > 0 && input.find('/') > colon) {
        inputFormat = av_find_input_format(input.substr(0, colon).c_str());
        if (inputFormat)
            url = input.substr(colon + 1);
    }
    paced_ = !inputFormat || std::strcmp(inputFormat->name, "lavfi") == 0;
    loops_ = !inputFormat;

    format_ = avformat_alloc_context();
    format_->interrupt_callback = {&MediaInput::interrupted, this};
    int r = avformat_open_input(&format_, url.c_str(), inputFormat, nullptr);
    if (r < 0) {  // the context is freed on failure
        *reason = ffmpegError(r);
        return false;
    }
    if ((r = avformat_find_stream_info(format_, nullptr)) < 0) {
        *reason = ffmpegError(r);
        return false;
    }
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_, type, -1, -1, &codec, 0);
    if (stream_ < 0) {
        *reason = type == AVMEDIA_TYPE_VIDEO ? "it has no picture" : "it has no sound";
        return false;
    }
    AVStream* stream = format_->streams[stream_];
    timeBase_ = stream->time_base;
    decoder_ = avcodec_alloc_context3(codec);
    if ((r = avcodec_parameters_to_context(decoder_, stream->codecpar)) < 0 ||
        (r = avcodec_open2(decoder_, codec, nullptr)) < 0) {
        *reason = ffmpegError(r);
        return false;
    }
    packet_ = av_packet_alloc();
    anchor_ = Clock::current().monotonic();  // the source starts when it is opened
    return true;
}

NSErrorPtr MediaInput::threadCannotStart(const char* device, const std::string& input,
                                         const std::system_error& failure) {
    return NSError::make(MediaInputErrorDomain, 3,
                         std::string("The ") + device + " input \"" + input +
                             "\" cannot be read: no thread can start for it (" + failure.what() +
                             ").");
}

MediaInput::~MediaInput() {
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
}

int MediaInput::interrupted(void* self) {
    auto* media = static_cast<MediaInput*>(self);
    if (media->stop_.load())
        return 1;
    if (media->reading_) {
        if (std::chrono::steady_clock::now() >= media->readDeadline_)
            media->silent_ = true;
        return media->silent_;
    }
    if (!media->opening_)
        return 0;
    return gOpeningAbandoned.load() || std::chrono::steady_clock::now() >= media->openDeadline_;
}

void MediaInput::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_all();
}

bool MediaInput::nextFrame(AVFrame* frame) {
    if (!decodeNext(frame))
        return false;
    double time = frameTime(frame);
    if (paced_)
        waitUntilDue(time);
    return !stop_.load();
}

bool MediaInput::decodeNext(AVFrame* frame) {
    bool rewound = false;  // a file that yields nothing after a rewind would loop forever
    while (!stop_.load()) {
        int r = avcodec_receive_frame(decoder_, frame);
        if (r == 0)
            return true;
        if (r == AVERROR_EOF) {
            if (!loops_ || rewound || !rewind())
                return false;
            rewound = true;
            continue;
        }
        if (r != AVERROR(EAGAIN))
            return false;
        r = readPacket();
        if (r == AVERROR_EXIT)  // stopped, or silent
            return false;
        if (r == AVERROR(EAGAIN)) {  // a non-blocking device with nothing yet
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (r < 0) {
            avcodec_send_packet(decoder_, nullptr);  // drain; then the decoder reports the end
            continue;
        }
        if (packet_->stream_index == stream_) {
            rewound = false;
            avcodec_send_packet(decoder_, packet_);
        }
        av_packet_unref(packet_);
    }
    return false;
}

int MediaInput::readPacket() {
    if (!silent_) {
        readDeadline_ =
            std::chrono::steady_clock::now() + std::chrono::seconds(kSilenceTimeoutSeconds);
        reading_ = true;
        int r;
        {
            SystemCallDeadline interrupter(SystemCallDeadline::kRepeatSeconds);
            r = av_read_frame(format_, packet_);
        }
        reading_ = false;
        if (r >= 0 || !silent_)  // what came before the silence still counts
            return r;
    }
    NSLog("The %s stopped answering: its input \"%s\" gave nothing within %d s", device_,
          input_.c_str(), kSilenceTimeoutSeconds);
    return AVERROR_EXIT;
}

bool MediaInput::rewind() {
    if (avformat_seek_file(format_, stream_, INT64_MIN, 0, 0, 0) < 0 &&
        av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(decoder_);
    passOffset_ = passEnd_;
    nextTime_ = passEnd_;
    return true;
}

double MediaInput::frameTime(const AVFrame* frame) {
    double time = nextTime_;
    int64_t pts = frame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) {
        if (firstPts_ == AV_NOPTS_VALUE)
            firstPts_ = pts;
        time = passOffset_ + static_cast<double>(pts - firstPts_) * av_q2d(timeBase_);
    }
    nextTime_ = time + frameDuration(frame);
    passEnd_ = std::max(passEnd_, nextTime_);
    return time;
}

double MediaInput::frameDuration(const AVFrame* frame) const {
    if (decoder_->codec_type == AVMEDIA_TYPE_AUDIO)
        return frame->sample_rate > 0 ? static_cast<double>(frame->nb_samples) / frame->sample_rate
                                      : 0.0;
    if (frame->pkt_duration > 0)
        return static_cast<double>(frame->pkt_duration) * av_q2d(timeBase_);
    AVRational rate = format_->streams[stream_]->avg_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 1.0 / 25;
}

void MediaInput::waitUntilDue(double time) {
    double lag = Clock::current().monotonic() - (anchor_ + time);
    if (lag > kResyncSeconds || lag < -kResyncSeconds) {
        anchor_ = Clock::current().monotonic() - time;
        return;
    }
    std::unique_lock lock(mutex_);
    while (!stop_.load()) {
        Clock& clock = Clock::current();  // read each time: a test may install another clock
        double left = anchor_ + time - clock.monotonic();
        if (left <= 0)
            return;
        double slice = clock.isManual() ? std::min(left, kManualClockPollSeconds) : left;
        stopped_.wait_for(lock, std::chrono::duration<double>(slice));
    }
}
