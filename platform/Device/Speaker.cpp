#include "platform/Device/Speaker.h"

#include <algorithm>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {

std::mutex outputMutex;
std::shared_ptr<Speaker::Output> attached;

// The FFmpeg objects of one decoding, freed together.
struct Decoding {
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    ~Decoding() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }
};

// Opens the file's best sound stream with its decoder and a converter to the speaker's format.
bool open(Decoding& d, const std::string& path, int* stream) {
    if (avformat_open_input(&d.format, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(d.format, nullptr) < 0)
        return false;
    const AVCodec* codec = nullptr;
    *stream = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (*stream < 0 || !(d.decoder = avcodec_alloc_context3(codec)) ||
        avcodec_parameters_to_context(d.decoder, d.format->streams[*stream]->codecpar) < 0 ||
        avcodec_open2(d.decoder, codec, nullptr) < 0)
        return false;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout source{};
    if (d.decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&source, d.decoder->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&source, &d.decoder->ch_layout);
    int r = swr_alloc_set_opts2(&d.resampler, &stereo, AV_SAMPLE_FMT_S16, Speaker::kSampleRate,
                                &source, d.decoder->sample_fmt, d.decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&source);
    return r >= 0 && swr_init(d.resampler) >= 0;
}

// Converts the decoder's frames that are ready (all of them, flushing, for a null frame).
bool convert(Decoding& d, Speaker::Samples& out, const AVFrame* frame) {
    const int in = frame ? frame->nb_samples : 0;
    const int capacity = swr_get_out_samples(d.resampler, in);
    if (capacity <= 0)
        return capacity == 0;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(capacity) * Speaker::kChannels);
    auto* target = reinterpret_cast<uint8_t*>(out.data() + at);
    const int frames =
        swr_convert(d.resampler, &target, capacity,
                    frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, in);
    out.resize(at + static_cast<size_t>(std::max(frames, 0)) * Speaker::kChannels);
    return frames >= 0;
}

bool receiveAll(Decoding& d, Speaker::Samples& out) {
    while (avcodec_receive_frame(d.decoder, d.frame) >= 0) {
        const bool converted = convert(d, out, d.frame);
        av_frame_unref(d.frame);
        if (!converted)
            return false;
    }
    return true;
}

}  // namespace

void Speaker::attach(std::shared_ptr<Output> output) {
    std::lock_guard lock(outputMutex);
    attached = std::move(output);
}

std::shared_ptr<Speaker::Output> Speaker::output() {
    std::lock_guard lock(outputMutex);
    return attached;
}

std::shared_ptr<const Speaker::Samples> Speaker::decode(const std::string& path,
                                                        NSErrorPtr* error) {
    Decoding d;
    int stream = -1;
    auto samples = std::make_shared<Samples>();
    bool ok = d.packet && d.frame && open(d, path, &stream);
    while (ok && av_read_frame(d.format, d.packet) >= 0) {
        if (d.packet->stream_index == stream)
            ok = avcodec_send_packet(d.decoder, d.packet) >= 0 && receiveAll(d, *samples);
        av_packet_unref(d.packet);
    }
    ok = ok && avcodec_send_packet(d.decoder, nullptr) >= 0 && receiveAll(d, *samples) &&
         convert(d, *samples, nullptr);
    if (!ok) {
        if (error)
            *error = NSError::make("SpeakerErrorDomain", 1,
                                   "The sound file " + path + " cannot be played.");
        return nullptr;
    }
    return samples;
}
