#include "platform/AVFoundation/AVAudioPlayer.h"

#include <algorithm>
#include <cmath>

#include "platform/AVFoundation/AVAudioSession.h"
#include "platform/Device/Microphone.h"
#include "platform/Foundation/NSRunLoop.h"

// The recorder's samples go to the speaker as they are.
static_assert(Speaker::kSampleRate == Microphone::kSampleRate &&
              Speaker::kChannels == Microphone::kChannels);

std::shared_ptr<AVAudioPlayer> AVAudioPlayer::initWithContentsOfURL(const std::string& path,
                                                                    NSErrorPtr* error) {
    NSErrorPtr cause;
    auto sound = RecordedSoundFile::open(path, &cause);
    if (!sound) {
        if (error)
            *error = NSError::make(
                AVFoundationErrorDomain, 3,
                "The sound file " + path + " cannot be played: " + cause->localizedDescription());
        return nullptr;
    }
    const double duration = sound->duration();
    return std::shared_ptr<AVAudioPlayer>(new AVAudioPlayer(path, duration, std::move(*sound)));
}

AVAudioPlayer::~AVAudioPlayer() {
    cancelEnd();
    silence();
}

bool AVAudioPlayer::prepareToPlay() {
    prepared_ = true;
    return true;
}

bool AVAudioPlayer::play() {
    if (playing_)
        return true;
    prepareToPlay();
    playing_ = true;
    startedAt_ = Clock::current().monotonic();
    scheduleEnd();
    sound();
    return true;
}

void AVAudioPlayer::pause() {
    if (!playing_)
        return;
    position_ = currentTime();
    playing_ = false;
    cancelEnd();
    silence();
}

void AVAudioPlayer::stop() {
    pause();
    prepared_ = false;
}

NSTimeInterval AVAudioPlayer::currentTime() const {
    if (!playing_)
        return position_;
    return std::min(position_ + (Clock::current().monotonic() - startedAt_), duration_);
}

void AVAudioPlayer::setCurrentTime(NSTimeInterval time) {
    position_ = std::clamp(time, 0.0, duration_);
    if (!playing_)
        return;
    startedAt_ = Clock::current().monotonic();
    cancelEnd();
    scheduleEnd();
    silence();
    sound();
}

void AVAudioPlayer::scheduleEnd() {
    const NSTimeInterval end = startedAt_ + (duration_ - position_);
    std::weak_ptr<AVAudioPlayer> weak = retained(this);
    end_ = NSTimer::timerWithTimeInterval(
        end - Clock::current().monotonic(),
        [weak](NSTimer&) {
            if (auto player = weak.lock())
                player->finish();
        },
        Value(), false);
    NSRunLoop::mainRunLoop()->addTimer(end_);
}

void AVAudioPlayer::cancelEnd() {
    if (end_)
        end_->invalidate();
    end_.reset();
}

void AVAudioPlayer::finish() {
    auto keep = retained(this);  // the delegate may release the player
    end_.reset();
    playing_ = false;
    position_ = 0;
    silence();
    auto delegate = delegate_.lock();
    if (delegate && delegate->respondsToAudioPlayerDidFinishPlaying())
        delegate->audioPlayerDidFinishPlaying(*this, true);
}

void AVAudioPlayer::sound() {
    auto output = Speaker::output();
    if (!output)
        return;
    if (!samples_) {
        auto samples = sound_.samples();
        if (!samples)
            return;
        samples_ = std::make_shared<const Speaker::Samples>(std::move(*samples));
    }
    output_ = std::move(output);
    voice_ = output_->start(samples_,
                            static_cast<size_t>(std::llround(position_ * Speaker::kSampleRate)));
}

void AVAudioPlayer::silence() {
    if (output_)
        output_->stop(voice_);
    output_.reset();
    voice_ = 0;
}
