#include "platform/AVFoundation/AVAudioSession.h"

std::shared_ptr<AVAudioSession> AVAudioSession::sharedInstance() {
    static const std::shared_ptr<AVAudioSession> shared(new AVAudioSession());
    return shared;
}

bool AVAudioSession::setCategory(const std::string& category, NSErrorPtr* error) {
    if (category != AVAudioSessionCategoryRecord && category != AVAudioSessionCategoryPlayback) {
        if (error)
            *error = NSError::make(AVFoundationErrorDomain, 1,
                                   "The audio session category \"" + category + "\" is unknown.");
        return false;
    }
    std::lock_guard lock(mutex_);
    category_ = category;
    return true;
}

bool AVAudioSession::setActive(bool active, NSErrorPtr*) {
    std::lock_guard lock(mutex_);
    active_ = active;
    return true;
}

std::string AVAudioSession::category() const {
    std::lock_guard lock(mutex_);
    return category_;
}

bool AVAudioSession::isActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}
