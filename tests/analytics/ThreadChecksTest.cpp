// CTest labels: threads

// The analytics facade's and the REST request's main-thread checks: an entry point called from
// another thread ends the process at once, naming the class and the call.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

#include "analytics/Classes/Interfaces/Beacon.h"
#include "analytics/RQKNConnect/RQKNRequest.h"
#include "analytics/RQKNConnect/RQKNSession.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSUserDefaults.h"
#include "tests/analytics/AnalyticsTestHome.h"
#include "tests/support/ThreadChecks.h"

namespace {

// Made on the main thread, for the calls from another one.
struct MainThreadObjects {
    std::shared_ptr<Beacon> beacon;
    std::shared_ptr<RQKNSession> session;
    std::shared_ptr<RQKNRequest> request;
};

struct OffMainThreadCase {
    const char* name;
    const char* qualifiedCall;
    std::function<void(MainThreadObjects&)> call;
};

void PrintTo(const OffMainThreadCase& c, std::ostream* os) {
    *os << c.qualifiedCall;
}

class AnalyticsThreadChecksTest : public testing::TestWithParam<OffMainThreadCase> {
  protected:
    // A home under a file, which cannot exist: the facade made here (without the start, so no
    // cache) only reads the user defaults, and the death test's child, which aborts, leaves no
    // folder behind.
    AnalyticsThreadChecksTest() {
        NSSetHomeDirectory("/dev/null/home");
        NSUserDefaults::resetStandardUserDefaults();
        Beacon::resetForTesting();
        objects.beacon = Beacon::initWithApplicationCode(std::string(kTestCode), false, false);
        objects.session = RQKNSession::initWithKey("key", "secret", std::nullopt);
        objects.request = RQKNRequest::requestWithSession(objects.session);
    }
    ~AnalyticsThreadChecksTest() override {
        objects = {};
        Beacon::resetForTesting();
        NSUserDefaults::resetStandardUserDefaults();
        NSSetHomeDirectory("");
    }
    MainThreadObjects objects;
};

TEST_P(AnalyticsThreadChecksTest, AnEntryPointCalledOffTheMainThreadFailsNamingIt) {
    expectFailsOffMainThread(GetParam().qualifiedCall, [this] { GetParam().call(objects); });
}

INSTANTIATE_TEST_SUITE_P(
    EntryPoints, AnalyticsThreadChecksTest,
    testing::Values(
        OffMainThreadCase{"shared", "Beacon::shared", [](auto&) { Beacon::shared(); }},
        OffMainThreadCase{"start", "Beacon::initAndStartBeaconWithApplicationCode",
                          [](auto&) {
                              Beacon::initAndStartBeaconWithApplicationCode(std::string(kTestCode),
                                                                            false, false);
                          }},
        OffMainThreadCase{"endShared", "Beacon::endSharedBeacon",
                          [](auto&) { Beacon::endSharedBeacon(); }},
        OffMainThreadCase{"reset", "Beacon::resetForTesting",
                          [](auto&) { Beacon::resetForTesting(); }},
        OffMainThreadCase{"subBeacon", "Beacon::startSubBeaconWithName",
                          [](MainThreadObjects& o) { o.beacon->startSubBeaconWithName("Videos"); }},
        OffMainThreadCase{"endBeacon", "Beacon::endBeacon",
                          [](MainThreadObjects& o) { o.beacon->endBeacon(); }},
        OffMainThreadCase{"upload", "Beacon::attemptToSendBeaconsAsync",
                          [](MainThreadObjects& o) { o.beacon->attemptToSendBeaconsAsync(true); }},
        OffMainThreadCase{"handOver", "Beacon::setKNConnectSession",
                          [](MainThreadObjects& o) { o.beacon->setKNConnectSession(o.session); }},
        OffMainThreadCase{"requestCall", "RQKNRequest::call",
                          [](MainThreadObjects& o) {
                              o.request->call("kinnet.kql.query", {{"query", "select 1"}});
                          }},
        OffMainThreadCase{"requestPost", "RQKNRequest::post",
                          [](MainThreadObjects& o) { o.request->post("http://127.0.0.1:9/", {}); }},
        OffMainThreadCase{"requestCancel", "RQKNRequest::cancel",
                          [](MainThreadObjects& o) { o.request->cancel(); }}),
    [](const testing::TestParamInfo<OffMainThreadCase>& info) { return info.param.name; });

}  // namespace
