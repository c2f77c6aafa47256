#pragma once
// Plays a sound file. The simulated phone's speaker is silent when the program runs headless, so
// the player keeps the sound's time only: it runs on the Clock while playing, and at the end of
// the sound the delegate hears of it on the main run loop.
//
// Threads: main thread only.

#include <memory>
#include <string>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSTimer.h"

class AVAudioPlayer;

class AVAudioPlayerDelegate {
  public:
    virtual ~AVAudioPlayerDelegate() = default;
    // Optional: the player asks before each message.
    virtual bool respondsToAudioPlayerDidFinishPlaying() const { return false; }
    // The sound played to its end (`successfully`), or could not go on.
    virtual void audioPlayerDidFinishPlaying(AVAudioPlayer& /*player*/, bool /*successfully*/) {}
};

class AVAudioPlayer : public NSObject {
  public:
    // `path` is the file URL's path. Reads the file's sample count; nullptr with `*error` set
    // when the file cannot be read as sound.
    static std::shared_ptr<AVAudioPlayer> initWithContentsOfURL(const std::string& path,
                                                                NSErrorPtr* error = nullptr);
    ~AVAudioPlayer() override;

    // Not retained.
    void setDelegate(std::weak_ptr<AVAudioPlayerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    bool prepareToPlay();
    // Plays from the current time; true at once while playing. At the end of the sound the time
    // goes back to 0 and the delegate's message follows.
    bool play();
    // Keeps the current time.
    void pause();
    // Pauses and undoes the preparation; the current time stays.
    void stop();
    bool isPlaying() const { return playing_; }

    NSTimeInterval currentTime() const;
    // Clamped to 0 ... duration; playback, if on, goes on from there.
    void setCurrentTime(NSTimeInterval time);
    NSTimeInterval duration() const { return duration_; }
    const std::string& url() const { return path_; }

  private:
    AVAudioPlayer(std::string path, NSTimeInterval duration)
        : path_(std::move(path)), duration_(duration) {}
    void scheduleEnd();
    void cancelEnd();
    void finish();

    const std::string path_;
    const NSTimeInterval duration_;
    std::weak_ptr<AVAudioPlayerDelegate> delegate_;
    bool prepared_ = false;
    bool playing_ = false;
    NSTimeInterval position_ = 0;   // the time when playback (re)started or paused
    NSTimeInterval startedAt_ = 0;  // clock time at which playback (re)started
    std::shared_ptr<NSTimer> end_;  // on the main run loop while playing
};
