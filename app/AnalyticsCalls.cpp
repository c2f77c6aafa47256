#include "app/AnalyticsCalls.h"

#include <exception>
#include <functional>

#include "analytics/Classes/Interfaces/Beacon.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSLog.h"

namespace {

// The analytics application code of this application: 32 characters.
constexpr const char* kAnalyticsApplicationCode = "7f3c2a9e41b84d0c9a6e5b1d2c8f0e47";

void guarded(const char* what, const std::function<void()>& call) {
    try {
        call();
    } catch (const NSException& exception) {
        NSLog("Analytics %s failed: %s: %s", what, exception.name().c_str(),
              exception.reason().c_str());
    } catch (const std::exception& exception) {
        NSLog("Analytics %s failed: %s", what, exception.what());
    }
}

}  // namespace

void startAnalytics() {
    guarded("start", [] {
        Beacon::initAndStartBeaconWithApplicationCode(std::string(kAnalyticsApplicationCode), false,
                                                      false);
    });
}

void recordAnalyticsEvent(const std::string& name) {
    guarded("event", [&] {
        if (auto beacon = Beacon::shared())
            beacon->startSubBeaconWithName(name, false);
    });
}

void endAnalytics() {
    guarded("end", [] {
        if (auto beacon = Beacon::shared())
            beacon->endBeacon();
    });
}
