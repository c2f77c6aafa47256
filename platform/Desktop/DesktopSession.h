#pragma once
// The phone on the desktop for one run of the program: the window (DesktopWindow), titled with
// the application's name from its Info.plist, and with it, unless the speaker setting is "none",
// the machine's audio output as the phone's speaker (DesktopSpeaker). Without an audio device
// the speaker stays silent; nothing else changes.
//
// Threads: main thread only.

#include <memory>
#include <string>

#include "platform/Desktop/DesktopSpeaker.h"
#include "platform/Desktop/DesktopWindow.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/UIKit/UIApplication.h"

class DesktopSession {
  public:
    // What is wrong with the settings' scale or speaker, or "".
    static std::string checkSettings(const DeviceSettings& settings);

    // Opens the window at the settings' scale and the speaker. Null with `*error` when the
    // window cannot be opened (the application then runs without one).
    static std::unique_ptr<DesktopSession> open(std::shared_ptr<UIApplication> application,
                                                const DeviceSettings& settings, NSErrorPtr* error);
    // Detaches the speaker and closes the window.
    ~DesktopSession();

    DesktopWindow& window() const { return *window_; }
    // Null when the phone's speaker stays silent.
    const std::shared_ptr<DesktopSpeaker>& speaker() const { return speaker_; }

  private:
    DesktopSession() = default;

    std::unique_ptr<DesktopWindow> window_;
    std::shared_ptr<DesktopSpeaker> speaker_;
};
