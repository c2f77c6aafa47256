#include "analytics/Classes/Utils/RQAnalyticsLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/NSUserDefaults.h"

namespace {

constexpr const char* kStatsCollectionKey = "kEnableHalvornStatsCollection";

bool debugModeEnabled = false;
int initialStatsEnabledState = -1;  // -1 not read yet, 0 off, 1 on

}  // namespace

bool RQAnalyticsLog::statsDisabled() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    // A missing key allows collection.
    const bool enabled = defaults->objectForKey(kStatsCollectionKey).isNull() ||
                         defaults->boolForKey(kStatsCollectionKey);
    if (initialStatsEnabledState == -1)
        initialStatsEnabledState = enabled ? 1 : 0;
    if (initialStatsEnabledState == 1 && enabled)
        return false;
    log("Analytics are disabled; this Beacon call will be ignored.");
    return true;
}

void RQAnalyticsLog::enableDebugMode() {
    debugModeEnabled = true;
    log("Beacon debug mode enabled.");
}

void RQAnalyticsLog::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logV(format, args);
    va_end(args);
}

void RQAnalyticsLog::logV(const char* format, va_list args) {
    if (!debugModeEnabled)
        return;
    const std::string message = stringWithFormatV(format, args);
    std::printf("%s libRQAnalytics: %s\n", NSDate::date().description().c_str(), message.c_str());
    std::fflush(stdout);
}

void RQAnalyticsLog::resetForTesting() {
    debugModeEnabled = false;
    initialStatsEnabledState = -1;
}
