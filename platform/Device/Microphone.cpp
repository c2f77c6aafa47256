#include "platform/Device/Microphone.h"

#include <mutex>
#include <system_error>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {
std::mutex gInputMutex;
std::string gDeviceInput = "lavfi:sine=frequency=440:sample_rate=44100";
}  // namespace

void Microphone::setDeviceInput(std::string input) {
    std::lock_guard lock(gInputMutex);
    gDeviceInput = std::move(input);
}

std::string Microphone::deviceInput() {
    std::lock_guard lock(gInputMutex);
    return gDeviceInput;
}

std::unique_ptr<Microphone> Microphone::open(const std::string& input, NSErrorPtr* error) {
    auto media = MediaInput::open(input, AVMEDIA_TYPE_AUDIO, "microphone", error);
    if (!media)
        return nullptr;
    const AVCodecContext& decoder = media->decoder();
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout source{};
    if (decoder.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)  // a device that names no layout
        av_channel_layout_default(&source, decoder.ch_layout.nb_channels);
    else
        av_channel_layout_copy(&source, &decoder.ch_layout);
    SwrContext* resampler = nullptr;
    int r = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, kSampleRate, &source,
                                decoder.sample_fmt, decoder.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&source);
    if (r < 0 || swr_init(resampler) < 0) {
        swr_free(&resampler);
        if (error)
            *error = NSError::make(
                MediaInputErrorDomain, 2,
                "The microphone input \"" + input + "\" cannot be converted to 44100 Hz stereo.");
        return nullptr;
    }
    auto microphone = std::unique_ptr<Microphone>(new Microphone(input, std::move(media)));
    microphone->resampler_ = resampler;
    return microphone;
}

bool Microphone::start(Consumer consumer, NSErrorPtr* error) {
    if (thread_.joinable())
        return true;
    consumer_ = std::move(consumer);
    try {
        thread_ = std::thread([this] { capture(); });
    } catch (const std::system_error& failure) {
        consumer_ = nullptr;
        if (error)
            *error = MediaInput::threadCannotStart("microphone", input_, failure);
        return false;
    }
    return true;
}

Microphone::~Microphone() {
    media_->requestStop();
    if (thread_.joinable())
        thread_.join();
    swr_free(&resampler_);
}

void Microphone::capture() {
    AVFrame* frame = av_frame_alloc();
    std::vector<int16_t> samples;
    while (media_->nextFrame(frame)) {
        int capacity = swr_get_out_samples(resampler_, frame->nb_samples);
        samples.resize(static_cast<size_t>(std::max(capacity, 0)) * kChannels);
        auto* out = reinterpret_cast<uint8_t*>(samples.data());
        int frames =
            swr_convert(resampler_, &out, capacity,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        av_frame_unref(frame);
        if (frames < 0)
            break;
        if (frames > 0)
            consumer_(samples.data(), static_cast<size_t>(frames));
    }
    av_frame_free(&frame);
}
