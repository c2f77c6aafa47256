#pragma once
// The phone's microphone: an FFmpeg input (see MediaInput) decoded on a thread of its own and
// delivered as interleaved 16-bit stereo PCM at 44100 Hz to a consumer, from the moment it is
// started until it is destroyed or its input ends (fails, or falls silent: see MediaInput).
//
// Threads: the consumer runs on the microphone's thread. Destruction stops and joins that
// thread, within MediaInput's bound on a read; once it returns the consumer is not called again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/Device/MediaInput.h"
#include "platform/Foundation/NSError.h"

class Microphone {
  public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    // `samples` holds `frames` × kChannels values, valid during the call only.
    using Consumer = std::function<void(const int16_t* samples, size_t frames)>;

    // `input` is "FORMAT:INPUT" or a file path (a file plays in a loop). Returns nullptr with
    // `*error` set for "none" or an input that cannot be opened. Nothing is delivered yet.
    static std::unique_ptr<Microphone> open(const std::string& input, NSErrorPtr* error = nullptr);
    // Starts delivering to `consumer`. False, with `*error` set, when the microphone's thread
    // cannot start (the process is out of threads or address space); then nothing is delivered.
    // Once started, a second call does nothing and returns true.
    bool start(Consumer consumer, NSErrorPtr* error = nullptr);
    ~Microphone();
    Microphone(const Microphone&) = delete;
    Microphone& operator=(const Microphone&) = delete;

    // The phone's microphone input, as the audio recorder opens it. Start-up sets it from the
    // settings; until then it is a sine tone. Safe from any thread.
    static void setDeviceInput(std::string input);
    static std::string deviceInput();

  private:
    Microphone(std::string input, std::unique_ptr<MediaInput> media)
        : input_(std::move(input)), media_(std::move(media)) {}
    void capture();

    const std::string input_;
    std::unique_ptr<MediaInput> media_;
    Consumer consumer_;
    struct SwrContext* resampler_ = nullptr;  // used by the microphone thread only
    std::thread thread_;
};
