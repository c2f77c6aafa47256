// The tilvex program: the simulated phone's settings from the environment and the command line,
// then the application.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSBundle.h"

namespace {

void printHelp(const DeviceSettings& settings) {
    std::printf(
        "Usage: tilvex [options]\n"
        "  --version  print the version and exit\n"
        "  --help     print this help and exit\n"
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
    for (const std::string& arg : parsed.rest) {
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
        std::fprintf(stderr, "tilvex: unknown argument %s (see tilvex --help)\n", arg.c_str());
        return 2;
    }

    DeviceSettings::install(parsed.settings);
    NSErrorPtr error;
    if (!DeviceHome::prepare(parsed.settings.home, &error)) {
        std::fprintf(stderr, "tilvex: %s\n", error->localizedDescription().c_str());
        return 1;
    }
    // The application's main loop starts here once the interface exists.
    return 0;
}
