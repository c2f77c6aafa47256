#pragma once
// The settings of the simulated phone: each comes from its environment variable, and the
// same-named command-line option wins ("--camera VALUE" or "--camera=VALUE").
//
//   TILVEX_HOME           --home           the application's home folder
//   TILVEX_CAMERA         --camera         camera input, FORMAT:INPUT for FFmpeg or a file; "none"
//   TILVEX_MICROPHONE     --microphone     microphone input, same form; "none"
//   TILVEX_ANALYTICS_URL  --analytics-url  the analytics collection endpoint
//   TILVEX_ADNET_URL      --adnet-url      base URL of the ad network's app-open endpoint
//   TILVEX_REST_URL       --rest-url       the social-network REST endpoint
//   TILVEX_LOGIN_URL      --login-url      the social-network login host's root URL
//   TILVEX_SCALE          --scale          the desktop window's whole-number scale, or "auto"
//   TILVEX_AUDIO          --audio          the speaker: "default" (the machine's output), "none"
//
// Threads: `current()` and `install()` may be called from any thread; install at start-up.

#include <string>
#include <vector>

struct DeviceSettingsParseResult;

class DeviceSettings {
  public:
    std::string home;
    std::string camera;
    std::string microphone;
    std::string analyticsURL;
    std::string adnetURL;
    std::string restURL;
    std::string loginURL;
    std::string scale;
    std::string audio;

    // One row of the table above, with the member it fills.
    struct Setting {
        const char* variable;
        const char* option;
        const char* meaning;
        const char* defaultValue;  // nullptr: computed (the home folder)
        std::string DeviceSettings::*member;
    };
    static const std::vector<Setting>& table();

    // Defaults, overridden by the environment (an empty variable counts as unset).
    static DeviceSettings fromEnvironment();

    // fromEnvironment(), then the setting options among `args` (without the program name).
    // An option without a value, or with an empty one, is an error. A "~" that starts the home
    // folder is expanded.
    static DeviceSettingsParseResult parse(const std::vector<std::string>& args);

    // The settings of this process: the installed ones, else fromEnvironment() at each call.
    static DeviceSettings current();
    static void install(DeviceSettings settings);
    // Back to the environment's settings.
    static void uninstall();
};

struct DeviceSettingsParseResult {
    DeviceSettings settings;
    std::vector<std::string> rest;  // arguments that are no setting, in order
    std::string error;              // "" when the arguments were understood
};
