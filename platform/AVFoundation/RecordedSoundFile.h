#pragma once
// A sound file as AVAudioRecorder writes it, opened (as a RegularFile: never waiting on a named
// pipe, never through a link) and checked before anything believes it: a CAF file whose
// description says linear PCM, 16-bit little-endian integers, 2 channels, 44100 Hz, and whose
// data chunk the file holds exactly (its size, when set, is the rest of the file; -1, as a
// recording cut off before its stop leaves it, runs to the end) in whole sample frames. Any
// other file is a damaged recording, whatever its header claims: its length is never taken
// from it.
//
// Threads: a value; any thread may read it, several at once.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/RegularFile.h"
#include "platform/Foundation/Value.h"

class RecordedSoundFile {
  public:
    // nullopt, with *error (AVFoundationErrorDomain) saying why, for any other file.
    static std::optional<RecordedSoundFile> open(const std::string& path,
                                                 NSErrorPtr* error = nullptr);

    uint64_t sampleFrames() const { return frames_; }
    // sampleFrames at 44100 Hz, in seconds.
    double duration() const;
    // The interleaved samples (left, right, ...); nullopt when the file cannot be read.
    std::optional<std::vector<int16_t>> samples() const;
    // The whole file's bytes, header included; nullopt when it cannot be read.
    std::optional<Data> contents() const;

  private:
    RecordedSoundFile(RegularFile file, uint64_t samplesAt, uint64_t frames)
        : file_(std::move(file)), samplesAt_(samplesAt), frames_(frames) {}

    RegularFile file_;
    uint64_t samplesAt_;
    uint64_t frames_;
};
