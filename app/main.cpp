// The tilvex program: the simulated phone's settings from the environment and the command line,
// then the application.

#include <cstdio>
#include <string>
#include <vector>

#include "app/AppClasses.h"
#include "platform/Automation/AutomationScript.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSBundle.h"
#include "platform/UIKit/UIApplicationMain.h"

namespace {

void printHelp(const DeviceSettings& settings) {
    std::printf(
        "Usage: tilvex [options]\n"
        "  --version      print the version and exit\n"
        "  --help         print this help and exit\n"
        "  --script FILE  operate the application with the touch script FILE, then quit\n"
        "                 (without it the application runs until SIGINT or SIGTERM)\n"
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

    std::shared_ptr<AutomationScript> script;
    if (!scriptPath.empty()) {
        std::string error;
        script = AutomationScript::load(scriptPath, &error);
        if (!script) {
            std::fprintf(stderr, "tilvex: %s\n", error.c_str());
            return 2;
        }
    }

    DeviceSettings::install(parsed.settings);
    NSErrorPtr error;
    if (!DeviceHome::prepare(parsed.settings.home, &error)) {
        std::fprintf(stderr, "tilvex: %s\n", error->localizedDescription().c_str());
        return 1;
    }
    registerAppClasses();
    return UIApplicationMain(argc, argv, [&script](UIApplication& application) {
        if (script)
            script->start(retained(&application));
    });
}
