#include "platform/AVFoundation/AVAudioPlayer.h"

#include <algorithm>
#include <cmath>

#include "platform/AVFoundation/AVAudioSession.h"
#include "platform/Foundation/NSRunLoop.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace {
std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The number of sample frames of the file's sound: counted in the data of plain PCM (whose
// header length the demuxer only estimates), else from the header when it says.
int64_t countSampleFrames(AVFormatContext* format, int stream) {
    AVStream* st = format->streams[stream];
    const int rate = st->codecpar->sample_rate;
    // 64 bits: a damaged header may claim any channel count.
    const int64_t frameBytes = int64_t{av_get_bits_per_sample(st->codecpar->codec_id)} / 8 *
                               st->codecpar->ch_layout.nb_channels;
    if (frameBytes <= 0 && st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
    int64_t frames = 0;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream)
            frames += frameBytes > 0
                          ? packet->size / frameBytes
                          : av_rescale_q(packet->duration, st->time_base, AVRational{1, rate});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return frames;
}

// The sound's length in seconds, or a negative value with `*reason` set.
double soundDuration(const std::string& path, std::string* reason) {
    AVFormatContext* format = nullptr;
    int r = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (r < 0) {
        *reason = ffmpegError(r);
        return -1;
    }
    double seconds = -1;
    int stream = -1;
    if ((r = avformat_find_stream_info(format, nullptr)) < 0)
        *reason = ffmpegError(r);
    else if ((stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)) < 0 ||
             format->streams[stream]->codecpar->sample_rate <= 0)
        *reason = "it holds no sound";
    else
        seconds = static_cast<double>(countSampleFrames(format, stream)) /
                  format->streams[stream]->codecpar->sample_rate;
    avformat_close_input(&format);
    return seconds;
}
}  // namespace

std::shared_ptr<AVAudioPlayer> AVAudioPlayer::initWithContentsOfURL(const std::string& path,
                                                                    NSErrorPtr* error) {
    std::string reason;
    double duration = soundDuration(path, &reason);
    if (duration < 0) {
        if (error)
            *error = NSError::make(AVFoundationErrorDomain, 3,
                                   "The sound file " + path + " cannot be played: " + reason);
        return nullptr;
    }
    return std::shared_ptr<AVAudioPlayer>(new AVAudioPlayer(path, duration));
}

AVAudioPlayer::~AVAudioPlayer() {
    cancelEnd();
    silence();
}

bool AVAudioPlayer::prepareToPlay() {
    prepared_ = true;
    return true;
}

bool AVAudioPlayer::play() {
    if (playing_)
        return true;
    prepareToPlay();
    playing_ = true;
    startedAt_ = Clock::current().monotonic();
    scheduleEnd();
    sound();
    return true;
}

void AVAudioPlayer::pause() {
    if (!playing_)
        return;
    position_ = currentTime();
    playing_ = false;
    cancelEnd();
    silence();
}

void AVAudioPlayer::stop() {
    pause();
    prepared_ = false;
}

NSTimeInterval AVAudioPlayer::currentTime() const {
    if (!playing_)
        return position_;
    return std::min(position_ + (Clock::current().monotonic() - startedAt_), duration_);
}

void AVAudioPlayer::setCurrentTime(NSTimeInterval time) {
    position_ = std::clamp(time, 0.0, duration_);
    if (!playing_)
        return;
    startedAt_ = Clock::current().monotonic();
    cancelEnd();
    scheduleEnd();
    silence();
    sound();
}

void AVAudioPlayer::scheduleEnd() {
    const NSTimeInterval end = startedAt_ + (duration_ - position_);
    std::weak_ptr<AVAudioPlayer> weak = retained(this);
    end_ = NSTimer::timerWithTimeInterval(
        end - Clock::current().monotonic(),
        [weak](NSTimer&) {
            if (auto player = weak.lock())
                player->finish();
        },
        Value(), false);
    NSRunLoop::mainRunLoop()->addTimer(end_);
}

void AVAudioPlayer::cancelEnd() {
    if (end_)
        end_->invalidate();
    end_.reset();
}

void AVAudioPlayer::finish() {
    auto keep = retained(this);  // the delegate may release the player
    end_.reset();
    playing_ = false;
    position_ = 0;
    silence();
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToAudioPlayerDidFinishPlaying())
        delegate->audioPlayerDidFinishPlaying(*this, true);
}

void AVAudioPlayer::sound() {
    auto output = Speaker::output();
    if (!output)
        return;
    if (!samples_)
        samples_ = Speaker::decode(path_, nullptr);
    if (!samples_)
        return;
    output_ = std::move(output);
    voice_ = output_->start(samples_,
                            static_cast<size_t>(std::llround(position_ * Speaker::kSampleRate)));
}

void AVAudioPlayer::silence() {
    if (output_)
        output_->stop(voice_);
    output_.reset();
    voice_ = 0;
}
