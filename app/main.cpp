// The tilvex program: the simulated phone's settings from the environment and the command line,
// then the application.

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppClasses.h"
#include "platform/Automation/AutomationScript.h"
#include "platform/Desktop/DesktopSession.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Device/Microphone.h"
#include "platform/Foundation/NSBundle.h"
#include "platform/UIKit/UIApplicationMain.h"

namespace {

void printHelp(const DeviceSettings& settings) {
    std::printf(
        "Usage: tilvex [options]\n"
        "  --version      print the version and exit\n"
        "  --help         print this help and exit\n"
        "  --script FILE  operate the application with the touch script FILE, then quit\n"
        "                 (without it the application runs until SIGINT, SIGTERM or SIGHUP, in a\n"
        "                 window when a display is there: the mouse is the finger, Ctrl+H the\n"
        "                 home button, Ctrl+Q or closing the window quits)\n"
        "  --no-window    run without a window even when a display is there\n"
        "\n"
        "Settings (an option wins over its environment variable):\n");
    for (const auto& s : DeviceSettings::table()) {
        std::printf("  %s VALUE, %s\n      %s\n      now: %s\n", s.option, s.variable, s.meaning,
                    (settings.*s.member).c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    DeviceSettingsParseResult parsed =
        DeviceSettings::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tilvex: %s (see tilvex --help)\n", parsed.error.c_str());
        return 2;
    }
    std::string scriptPath;
    bool window = DesktopWindow::isDisplayAvailable();
    for (size_t i = 0; i < parsed.rest.size(); ++i) {
        const std::string& arg = parsed.rest[i];
        if (arg == "--version") {
            std::string version = NSBundle::mainBundle()
                                      ->objectForInfoDictionaryKey("CFBundleShortVersionString")
                                      .string();
            std::printf("tilvex %s\n", version.c_str());
            return 0;
        }
        if (arg == "--help") {
            printHelp(parsed.settings);
            return 0;
        }
        if (arg == "--no-window") {
            window = false;
            continue;
        }
        if (arg == "--script" && i + 1 < parsed.rest.size()) {
            scriptPath = parsed.rest[++i];
            continue;
        }
        if (arg.starts_with("--script=")) {
            scriptPath = arg.substr(std::string_view("--script=").size());
            continue;
        }
        std::fprintf(
            stderr, "tilvex: %s (see tilvex --help)\n",
            arg == "--script" ? "--script needs a value" : ("unknown argument " + arg).c_str());
        return 2;
    }

    if (std::string problem = DesktopSession::checkSettings(parsed.settings); !problem.empty()) {
        std::fprintf(stderr, "tilvex: %s (see tilvex --help)\n", problem.c_str());
        return 2;
    }

    std::shared_ptr<AutomationScript> script;
    if (!scriptPath.empty()) {
        std::string error;
        script = AutomationScript::load(scriptPath, &error);
        if (!script) {
            std::fprintf(stderr, "tilvex: %s\n", error.c_str());
            return 2;
        }
    }

    if (auto missing = NSBundle::mainBundleNotFound()) {
        std::fprintf(stderr, "tilvex: %s\n", missing->c_str());
        return 1;
    }
    DeviceSettings::install(parsed.settings);
    Microphone::setDeviceInput(parsed.settings.microphone);
    NSErrorPtr error;
    if (!DeviceHome::prepare(parsed.settings.home, &error)) {
        std::fprintf(stderr, "tilvex: %s\n", error->localizedDescription().c_str());
        return 1;
    }
    registerAppClasses();
    // FFmpeg's notes (a CAF file's duration estimated, say) are not the user's concern.
    av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<DesktopSession> desktop;
    int status = UIApplicationMain(argc, argv, [&](UIApplication& application) {
        if (script) {
            script->start(retained(&application));
        } else if (window) {
            NSErrorPtr windowError;
            desktop = DesktopSession::open(retained(&application), parsed.settings, &windowError);
            if (!desktop)
                std::fprintf(stderr, "tilvex: %s\n", windowError->localizedDescription().c_str());
        }
    });
    desktop.reset();
    // The process ends here, as on the phone: work still under way on other threads (a report
    // to the ad network waiting for its answer) is dropped, not raced by the static destructors.
    std::fflush(nullptr);
    std::_Exit(status);
}
