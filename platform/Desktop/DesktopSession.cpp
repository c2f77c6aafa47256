#include "platform/Desktop/DesktopSession.h"

#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSLog.h"

std::string DesktopSession::checkSettings(const DeviceSettings& settings) {
    if (!DesktopWindow::parseScale(settings.scale))
        return "the scale must be auto or a whole number from 1 to 16, not " + settings.scale;
    if (settings.audio != "default" && settings.audio != "none")
        return "the speaker setting must be default or none, not " + settings.audio;
    return "";
}

std::unique_ptr<DesktopSession> DesktopSession::open(std::shared_ptr<UIApplication> application,
                                                     const DeviceSettings& settings,
                                                     NSErrorPtr* error) {
    std::unique_ptr<DesktopSession> session(new DesktopSession());
    auto bundle = NSBundle::mainBundle();
    std::string name = bundle->objectForInfoDictionaryKey("CFBundleDisplayName").string();
    if (name.empty())
        name = bundle->objectForInfoDictionaryKey("CFBundleName").string();
    session->window_ = DesktopWindow::open(
        std::move(application), name, DesktopWindow::parseScale(settings.scale).value_or(0), error);
    if (!session->window_)
        return nullptr;
    if (settings.audio == "none")
        return session;
    NSErrorPtr audioError;
    session->speaker_ = DesktopSpeaker::open(&audioError);
    if (session->speaker_)
        Speaker::attach(session->speaker_);
    else
        NSLog("The speaker stays silent: %s", audioError->localizedDescription().c_str());
    return session;
}

DesktopSession::~DesktopSession() {
    if (speaker_ && Speaker::output() == speaker_)
        Speaker::attach(nullptr);
}
