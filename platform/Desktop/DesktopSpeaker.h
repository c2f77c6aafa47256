#pragma once
// The machine's audio output as the phone's speaker (Speaker::Output): SDL audio at 44100 Hz,
// 16-bit stereo, which mixes the voices that play; silence when none does. SDL_AUDIODRIVER picks
// the driver as SDL documents (the "disk" driver writes what it plays to a file).
//
// Threads: start and stop from any thread; the mixing runs on SDL's audio thread. Destroying the
// speaker closes the device; once it returns, nothing is mixed any more.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Device/Speaker.h"
#include "platform/Foundation/NSError.h"

class DesktopSpeaker : public Speaker::Output {
  public:
    // Opens the default audio device and starts it; null with `*error` (when given) when there
    // is none.
    static std::shared_ptr<DesktopSpeaker> open(NSErrorPtr* error);
    ~DesktopSpeaker() override;
    DesktopSpeaker(const DesktopSpeaker&) = delete;
    DesktopSpeaker& operator=(const DesktopSpeaker&) = delete;

    uint64_t start(std::shared_ptr<const Speaker::Samples> samples, size_t from) override;
    void stop(uint64_t voice) override;

  private:
    DesktopSpeaker() = default;
    static void fill(void* speaker, uint8_t* stream, int length);
    void mix(int16_t* out, size_t values);

    struct Voice {
        uint64_t id;
        std::shared_ptr<const Speaker::Samples> samples;
        size_t next;  // index of the next sample value
    };
    uint32_t device_ = 0;
    std::mutex mutex_;  // guards the voices and the numbers
    std::vector<Voice> voices_;
    uint64_t lastId_ = 0;
};
