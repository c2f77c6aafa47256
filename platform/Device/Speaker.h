#pragma once
// The phone's speaker. It is silent unless an output is attached to it (the desktop attaches
// the machine's audio output when it opens its window); then the sounds that audio players play
// are heard there, mixed. The players keep their time by the Clock either way.
//
// Threads: any. An output's own threads are its business.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class Speaker {
  public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    // A whole sound: interleaved 16-bit stereo samples at kSampleRate.
    using Samples = std::vector<int16_t>;

    // The machine's side of the speaker.
    class Output {
      public:
        virtual ~Output() = default;
        // Plays `samples` from sample frame `from` on until their end, mixed with the other
        // voices; returns the voice's number (never 0).
        virtual uint64_t start(std::shared_ptr<const Samples> samples, size_t from) = 0;
        // Silences the voice; a voice that ended, or an unknown one, is nothing.
        virtual void stop(uint64_t voice) = 0;
    };

    // Attaches `output`; null detaches it (the speaker is silent again).
    static void attach(std::shared_ptr<Output> output);
    static std::shared_ptr<Output> output();
};
