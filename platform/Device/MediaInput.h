#pragma once
// One FFmpeg input of the simulated phone (its camera or its microphone), with the decoder of its
// best stream of one media type. The input is named "FORMAT:INPUT" ("lavfi:sine",
// "v4l2:/dev/video0", "alsa:default") or is a file path; "none" names no device.
//
// A capture device delivers at its own pace. Generated sources (lavfi) and files would decode far
// faster than real time, so their frames are held back until the Clock reaches their time stamp,
// and a file starts again from the beginning when it ends, as a live device would go on.
//
// Opening is bounded: an input that has not answered within kOpenTimeoutSeconds (a named pipe
// that nothing writes to yet, a device that never delivers) is given up, and open fails with that
// reason. Its blocking system calls are cut short for it (SystemCallDeadline).
//
// Reading is bounded too: an input that gives nothing for kSilenceTimeoutSeconds (a named pipe
// whose writer stalls, a network source that goes quiet) ends, and the log names the device.
// A blocking read is cut short every SystemCallDeadline::kRepeatSeconds to look at the time and
// at a stop request, so a stop never waits for the device. (An input whose own code retries an
// interrupted call without asking, as a v4l2 device's does, is beyond this reach.)
//
// Threads: made on any thread, then read by one thread at a time. `requestStop` may be called
// from any thread: it ends a blocking read or a wait for a frame's time, and every later
// `nextFrame` returns false. `abandonOpening` may be called from anywhere, a signal handler too.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/Foundation/NSError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

inline constexpr const char* MediaInputErrorDomain = "MediaInputErrorDomain";

class MediaInput {
  public:
    static constexpr int kOpenTimeoutSeconds = 5;
    static constexpr int kSilenceTimeoutSeconds = 5;

    // `device` names the device in error messages ("camera", "microphone"). Returns nullptr with
    // `*error` set (when `error` is given) for "none", an unknown format, or an input that cannot
    // be opened or has no stream of `type`.
    static std::unique_ptr<MediaInput> open(const std::string& input, AVMediaType type,
                                            const char* device, NSErrorPtr* error);
    // The error of a device whose reading thread cannot start (`failure`, as std::thread threw
    // it), for the one that owns the thread.
    static NSErrorPtr threadCannotStart(const char* device, const std::string& input,
                                        const std::system_error& failure);
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    // Decodes the next frame into `frame` and returns once it is due. False when stopped, or when
    // the input failed, fell silent or (a device) ended.
    bool nextFrame(AVFrame* frame);
    void requestStop();
    // For a process that ends: an open under way gives up at once (on the thread that the
    // signal reached, its blocking call too), and so does every later one. Async-signal-safe.
    static void abandonOpening();

    const AVCodecContext& decoder() const { return *decoder_; }

  private:
    MediaInput(std::string input, const char* device) : input_(std::move(input)), device_(device) {}
    // Within the time bound; the reason says when the bound or abandonOpening ended it.
    bool openInput(const std::string& input, AVMediaType type, std::string* reason);
    bool openStream(const std::string& input, AVMediaType type, std::string* reason);
    bool decodeNext(AVFrame* frame);
    // av_read_frame within the silence bound; AVERROR_EXIT once stopped or silent, and then the
    // log names the device that stopped answering.
    int readPacket();
    bool rewind();
    // The frame's time in seconds from the first frame, counting earlier passes of a looping file.
    double frameTime(const AVFrame* frame);
    double frameDuration(const AVFrame* frame) const;
    void waitUntilDue(double time);
    static int interrupted(void* self);

    const std::string input_;
    const char* device_;  // a literal

    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    bool paced_ = false;  // a generated source or a file
    bool loops_ = false;  // a file

    int64_t firstPts_ = AV_NOPTS_VALUE;
    double passOffset_ = 0;  // time at which the current pass of a looping file starts
    double passEnd_ = 0;     // end of the latest frame so far
    double nextTime_ = 0;    // expected time of the next frame without a time stamp
    double anchor_ = 0;      // clock time of frame time 0

    // While opening: when it gives up (the opening thread's own, read by the interrupt check).
    bool opening_ = false;
    std::chrono::steady_clock::time_point openDeadline_;
    // While reading a packet: when the input counts as silent, and whether it has (the reading
    // thread's own, set by the interrupt check; a silent input reads nothing more).
    bool reading_ = false;
    std::chrono::steady_clock::time_point readDeadline_;
    bool silent_ = false;

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable stopped_;
};
