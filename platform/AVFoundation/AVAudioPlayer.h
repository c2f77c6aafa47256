#pragma once
// Plays a sound file of the recorder's (RecordedSoundFile): any other, a damaged one included, is
// refused, so that no header's claim is taken for a length. The player keeps the sound's time: it
// runs on the Clock while playing, and at the end of the sound the delegate hears of it on the main
// run loop. The phone's speaker (Speaker) is silent unless an output is attached; then each play,
// seek while playing, pause, stop and end starts or silences the sound there at the player's
// current time.
//
// Threads: main thread only.

#include <memory>
#include <string>

#include "platform/AVFoundation/RecordedSoundFile.h"
#include "platform/Device/Speaker.h"
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
    // `path` is the file URL's path. Opens and checks the file and keeps it open; nullptr with
    // `*error` set when it is no sound file of the recorder's.
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
    AVAudioPlayer(std::string path, NSTimeInterval duration, RecordedSoundFile sound)
        : path_(std::move(path)), duration_(duration), sound_(std::move(sound)) {}
    void scheduleEnd();
    void cancelEnd();
    void finish();
    // The sound on the speaker from the current time on, or silenced.
    void sound();
    void silence();

    const std::string path_;
    const NSTimeInterval duration_;
    // The file checked at the start, read again for the speaker.
    const RecordedSoundFile sound_;
    std::weak_ptr<AVAudioPlayerDelegate> delegate_;
    bool prepared_ = false;
    bool playing_ = false;
    NSTimeInterval position_ = 0;   // the time when playback (re)started or paused
    NSTimeInterval startedAt_ = 0;  // clock time at which playback (re)started
    std::shared_ptr<NSTimer> end_;  // on the main run loop while playing
    // Decoded at the first play with an output attached.
    std::shared_ptr<const Speaker::Samples> samples_;
    std::shared_ptr<Speaker::Output> output_;  // the output of the voice that sounds
    uint64_t voice_ = 0;
};
