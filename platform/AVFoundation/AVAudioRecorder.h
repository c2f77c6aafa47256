#pragma once
// Records the phone's microphone (Microphone::deviceInput) into a CAF file of linear PCM,
// 16-bit little-endian integers, 2 channels, 44100 Hz. The header is padded with a 'free' chunk
// so that the samples start at byte kSampleDataOffset, as on the phone.
//
// The recorded time runs on the Clock from `record` to `stop`; `stop` makes the file exactly that
// long, cutting what the microphone delivered beyond it or filling a shortfall with silence.
//
// A write to the file that fails (a full disk, an I/O error) is kept as `fileError`: such a file
// is not whole, whatever its length says.
//
// A microphone that stops answering ends its input (see MediaInput); the recording goes on, and
// `stop` fills the rest of the recorded time with silence as for any shortfall.
//
// Threads: one thread drives a recorder (the main thread in the application); the microphone
// writes the file on its own thread. Destruction stops a recording as `stop` does. `stop` returns
// within the microphone's bound on a read, whatever the device does.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Device/Microphone.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

// Keys of the recorder's settings dictionary.
inline constexpr const char* AVFormatIDKey = "AVFormatIDKey";
inline constexpr const char* AVSampleRateKey = "AVSampleRateKey";
inline constexpr const char* AVNumberOfChannelsKey = "AVNumberOfChannelsKey";
inline constexpr const char* AVLinearPCMBitDepthKey = "AVLinearPCMBitDepthKey";
inline constexpr const char* AVLinearPCMIsBigEndianKey = "AVLinearPCMIsBigEndianKey";
inline constexpr const char* AVLinearPCMIsFloatKey = "AVLinearPCMIsFloatKey";
// The format identifier 'lpcm'.
inline constexpr uint32_t kAudioFormatLinearPCM = 0x6C70636D;

class AVAudioRecorder : public NSObject {
  public:
    static constexpr long kSampleDataOffset = 4096;

    // `path` is the file URL's path. `settings` may name only the format above (absent keys take
    // it); anything else gives nullptr with `*error` set. The file is not touched yet.
    static std::shared_ptr<AVAudioRecorder> initWithURL(const std::string& path,
                                                        const Value& settings,
                                                        NSErrorPtr* error = nullptr);
    ~AVAudioRecorder() override;

    // Opens the microphone (it delivers from `record` on) and creates (or empties) the file. False,
    // with `*error` set, when the phone has no microphone or the file cannot be written (a symbolic
    // link at the path is never written through); then no file is left behind. Once prepared, a
    // second call does nothing and returns true.
    bool prepareToRecord(NSErrorPtr* error = nullptr);
    // Starts recording, preparing first when needed; false, with `*error` set, when that fails
    // or the microphone cannot start (then the prepared file stays, empty, until `stop`). True
    // at once while recording.
    bool record(NSErrorPtr* error = nullptr);
    // Finishes the file and closes the microphone. A second call does nothing; a later `record`
    // starts the file afresh.
    void stop();

    bool isRecording() const;
    // Seconds recorded so far; 0 when not recording.
    NSTimeInterval currentTime() const;
    const std::string& url() const { return path_; }
    // The first failure writing the file since it was prepared, nullptr while every write
    // succeeded. Read it after `stop`, once the file is finished.
    NSErrorPtr fileError() const;

  private:
    explicit AVAudioRecorder(std::string path) : path_(std::move(path)) {}
    void write(const int16_t* samples, size_t frames);
    void finishFile(uint64_t frames);
    // Keeps the first failure; the caller holds `mutex_`.
    void noteFileError(int errnum);

    const std::string path_;
    std::unique_ptr<Microphone> microphone_;

    mutable std::mutex mutex_;  // guards what the microphone's thread touches
    FILE* file_ = nullptr;
    bool recording_ = false;
    NSTimeInterval startedAt_ = 0;
    uint64_t framesWritten_ = 0;
    NSErrorPtr fileError_;
};
