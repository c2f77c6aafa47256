#include "platform/Device/DeviceSettings.h"

#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"

namespace {

std::mutex installedMutex;
std::optional<DeviceSettings> installed;

const DeviceSettings::Setting* settingForOption(const std::string& name) {
    for (const auto& s : DeviceSettings::table())
        if (name == s.option)
            return &s;
    return nullptr;
}

}  // namespace

const std::vector<DeviceSettings::Setting>& DeviceSettings::table() {
    static const std::vector<Setting> rows = {
        {"TILVEX_HOME", "--home", "the application's home folder", nullptr, &DeviceSettings::home},
        {"TILVEX_CAMERA", "--camera",
         "camera input as FORMAT:INPUT for FFmpeg, or a file path; none: no camera",
         "lavfi:testsrc2=size=640x480:rate=30", &DeviceSettings::camera},
        {"TILVEX_MICROPHONE", "--microphone", "microphone input, same form; none: no microphone",
         "lavfi:sine=frequency=440:sample_rate=44100", &DeviceSettings::microphone},
        {"TILVEX_ANALYTICS_URL", "--analytics-url", "the analytics collection endpoint",
         "http://analytics.tilvex.invalid/", &DeviceSettings::analyticsURL},
        {"TILVEX_ADNET_URL", "--adnet-url", "base URL of the ad network's app-open endpoint",
         "http://adnet.tilvex.invalid", &DeviceSettings::adnetURL},
        {"TILVEX_REST_URL", "--rest-url", "the social-network REST endpoint",
         "http://rest.tilvex.invalid/restserver.php", &DeviceSettings::restURL},
        {"TILVEX_LOGIN_URL", "--login-url", "the social-network login host's root URL",
         "http://login.tilvex.invalid/", &DeviceSettings::loginURL},
        {"TILVEX_SCALE", "--scale",
         "the desktop window's whole-number scale; auto: 2 where the desktop is large enough, "
         "else 1",
         "auto", &DeviceSettings::scale},
        {"TILVEX_AUDIO", "--audio",
         "the speaker in the desktop window: default plays through the machine's audio output; "
         "none: silent",
         "default", &DeviceSettings::audio},
    };
    return rows;
}

DeviceSettings DeviceSettings::fromEnvironment() {
    DeviceSettings settings;
    for (const auto& s : table()) {
        const char* env = std::getenv(s.variable);
        if (env && *env)
            settings.*s.member = env;
        else if (s.defaultValue)
            settings.*s.member = s.defaultValue;
    }
    // The environment's rule for the home: TILVEX_HOME, else the XDG data folder.
    settings.home = homeDirectoryFromEnvironment();
    return settings;
}

DeviceSettingsParseResult DeviceSettings::parse(const std::vector<std::string>& args) {
    DeviceSettingsParseResult result{fromEnvironment(), {}, {}};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto equals = arg.find('=');
        std::string name = arg.substr(0, equals);
        const Setting* setting = arg.rfind("--", 0) == 0 ? settingForOption(name) : nullptr;
        if (!setting) {
            result.rest.push_back(arg);
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        if (value.empty()) {
            result.error = "option " + name + " needs a value";
            return result;
        }
        if (setting->member == &DeviceSettings::home)
            value = stringByExpandingTildeInPath(value);
        result.settings.*setting->member = value;
    }
    return result;
}

DeviceSettings DeviceSettings::current() {
    {
        std::lock_guard lock(installedMutex);
        if (installed)
            return *installed;
    }
    return fromEnvironment();
}

void DeviceSettings::install(DeviceSettings settings) {
    std::lock_guard lock(installedMutex);
    installed = std::move(settings);
}

void DeviceSettings::uninstall() {
    std::lock_guard lock(installedMutex);
    installed.reset();
}
