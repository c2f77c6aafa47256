#pragma once
// The phone's camera: an FFmpeg input (see MediaInput) decoded on a thread of its own, each
// picture converted to 32-bit BGRA, the byte order of cairo's ARGB32 on little-endian machines,
// opaque. Only the newest picture is kept.
//
// A camera that stops answering ends its input (see MediaInput): the newest picture stays.
//
// Threads: the accessors may be called from any thread. Destruction stops and joins the
// capture thread, within MediaInput's bound on a read; pictures already handed out stay valid.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Device/MediaInput.h"
#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSError.h"

// One camera picture, never changed once published.
struct CameraPicture {
    int width = 0;
    int height = 0;
    int stride = 0;       // bytes per row
    uint64_t number = 0;  // 1 for the first picture of this camera, then one more each
    std::vector<uint8_t> bytes;
};

class Camera {
  public:
    // `input` is "FORMAT:INPUT" or a file path (a file plays in a loop). Returns nullptr with
    // `*error` set for "none", an input that cannot be opened, or a capture thread that cannot
    // start. Opening reads the input's start (a named pipe's stream cannot be read again), so a
    // device is opened once and the camera kept for as long as it is used.
    static std::unique_ptr<Camera> open(const std::string& input, NSErrorPtr* error = nullptr);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // nullptr until the first picture is decoded.
    std::shared_ptr<const CameraPicture> newestPicture() const;
    // Waits, for at most `timeout` seconds of real time, for a picture numbered above `after`;
    // returns it, or nullptr when none came (the input ended or failed, or the time ran out).
    std::shared_ptr<const CameraPicture> waitForPicture(uint64_t after,
                                                        NSTimeInterval timeout) const;
    // While paused (nothing shows its picture) the camera reads and converts nothing; the
    // newest picture stays. Resumed, it goes on from the input's present moment.
    void setPaused(bool paused);
    bool isPaused() const;

  private:
    explicit Camera(std::unique_ptr<MediaInput> input);
    void capture();
    // False once the camera is being destroyed.
    bool waitWhilePaused();
    // Makes converted_ a BGRA frame of this size; false when it cannot be allocated.
    bool prepareConverted(int width, int height);
    std::shared_ptr<const CameraPicture> convert(const AVFrame* frame, uint64_t number);

    std::unique_ptr<MediaInput> input_;
    struct SwsContext* scaler_ = nullptr;  // used by the capture thread only
    AVFrame* converted_ = nullptr;         // the scaler's BGRA output; capture thread only

    mutable std::mutex mutex_;
    mutable std::condition_variable published_;
    std::condition_variable resumed_;
    std::shared_ptr<const CameraPicture> newest_;
    bool ended_ = false;
    bool paused_ = false;
    bool stopping_ = false;
    std::thread thread_;
};
