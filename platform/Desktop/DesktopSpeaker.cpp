#include "platform/Desktop/DesktopSpeaker.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>

std::shared_ptr<DesktopSpeaker> DesktopSpeaker::open(NSErrorPtr* error) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        if (error)
            *error = NSError::make("DesktopErrorDomain", 2,
                                   std::string("There is no audio output: ") + SDL_GetError());
        return nullptr;
    }
    std::shared_ptr<DesktopSpeaker> speaker(new DesktopSpeaker());
    SDL_AudioSpec want{};
    want.freq = Speaker::kSampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = Speaker::kChannels;
    want.samples = 1024;
    want.callback = &DesktopSpeaker::fill;
    want.userdata = speaker.get();
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to what the device takes.
    speaker->device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (speaker->device_ == 0) {
        if (error)
            *error = NSError::make("DesktopErrorDomain", 2,
                                   std::string("There is no audio output: ") + SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    SDL_PauseAudioDevice(speaker->device_, 0);
    return speaker;
}

DesktopSpeaker::~DesktopSpeaker() {
    if (device_ == 0)
        return;
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

uint64_t DesktopSpeaker::start(std::shared_ptr<const Speaker::Samples> samples, size_t from) {
    std::lock_guard lock(mutex_);
    voices_.push_back({++lastId_, std::move(samples), from * Speaker::kChannels});
    return lastId_;
}

void DesktopSpeaker::stop(uint64_t voice) {
    std::lock_guard lock(mutex_);
    std::erase_if(voices_, [voice](const Voice& v) { return v.id == voice; });
}

void DesktopSpeaker::fill(void* speaker, uint8_t* stream, int length) {
    std::memset(stream, 0, static_cast<size_t>(length));
    static_cast<DesktopSpeaker*>(speaker)->mix(reinterpret_cast<int16_t*>(stream),
                                               static_cast<size_t>(length) / sizeof(int16_t));
}

void DesktopSpeaker::mix(int16_t* out, size_t values) {
    std::lock_guard lock(mutex_);
    for (Voice& voice : voices_) {
        const Speaker::Samples& samples = *voice.samples;
        const size_t count =
            voice.next < samples.size() ? std::min(values, samples.size() - voice.next) : 0;
        for (size_t i = 0; i < count; ++i) {
            const int sum = out[i] + samples[voice.next + i];
            out[i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
        }
        voice.next += count;
    }
    std::erase_if(voices_, [](const Voice& v) { return v.next >= v.samples->size(); });
}
