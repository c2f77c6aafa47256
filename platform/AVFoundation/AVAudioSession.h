#pragma once
// The application's audio session: its category and whether it is active. The simulated phone
// records and plays in any category, so the session only keeps what it was told.
//
// Threads: safe from any thread.

#include <memory>
#include <mutex>
#include <string>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"

inline constexpr const char* AVAudioSessionCategoryRecord = "AVAudioSessionCategoryRecord";
inline constexpr const char* AVAudioSessionCategoryPlayback = "AVAudioSessionCategoryPlayback";
inline constexpr const char* AVFoundationErrorDomain = "AVFoundationErrorDomain";

class AVAudioSession : public NSObject {
  public:
    static std::shared_ptr<AVAudioSession> sharedInstance();

    // False, with `*error` set, for a category other than the two above.
    bool setCategory(const std::string& category, NSErrorPtr* error = nullptr);
    bool setActive(bool active, NSErrorPtr* error = nullptr);
    std::string category() const;
    bool isActive() const;

  private:
    AVAudioSession() = default;
    mutable std::mutex mutex_;
    std::string category_;
    bool active_ = false;
};
