// CTest labels: threads

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "analytics/Classes/Interfaces/Beacon.h"
#include "analytics/Classes/Utils/SystemControl.h"
#include "platform/CoreLocation/CLLocation.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/SystemConfiguration/SCNetworkReachability.h"
#include "platform/UIKit/UIDevice.h"
#include "tests/analytics/AnalyticsTestHome.h"
#include "tests/support/LoopbackHTTPService.h"

namespace {

using json = nlohmann::ordered_json;
using Lines = std::vector<std::string>;

// The collection endpoint on loopback: keeps every request and answers with the text and
// status set; or, once told to hold, keeps each request waiting without an answer until the
// collector goes.
class Collector {
  public:
    struct Request {
        std::string method;
        std::string path;
        std::string body;
    };

    Collector() {
        service_.routes().Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::function<void()> onHeld;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back({req.method, req.path, req.body});
                if (!holding_) {
                    res.status = status_;
                    res.set_content(answer_, "text/plain");
                    return;
                }
                onHeld = onHeld_;
            }
            ++held_;
            if (onHeld)
                onHeld();
            released_.wait();
        });
        service_.start();
    }
    ~Collector() {
        release_.set_value();
        service_.stop();
    }

    std::string url() const { return service_.url("/"); }
    void answer(std::string body, int status = 200) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(body);
        status_ = status;
    }
    // From now on requests get no answer; `onHeld` runs (on the server's thread) as each
    // arrives.
    void hold(std::function<void()> onHeld) {
        std::lock_guard lock(mutex_);
        holding_ = true;
        onHeld_ = std::move(onHeld);
    }
    int heldCount() const { return held_; }
    std::vector<Request> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    LoopbackHTTPService service_;
    std::mutex mutex_;
    std::vector<Request> requests_;
    std::string answer_ = "success";
    int status_ = 200;
    bool holding_ = false;
    std::function<void()> onHeld_;
    std::atomic<int> held_{0};
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
};

class BeaconUploadTest : public AnalyticsTestHome {
  protected:
    BeaconUploadTest() { useEndpoint(collector.url()); }
    ~BeaconUploadTest() override { SCNetworkReachabilitySetFlagsSourceForTesting({}); }

    void useEndpoint(const std::string& url) {
        DeviceSettings settings = DeviceSettings::fromEnvironment();
        settings.analyticsURL = url;
        DeviceSettings::install(settings);
    }
    std::shared_ptr<Beacon> start(bool useOnlyWiFi = false) {
        return Beacon::initAndStartBeaconWithApplicationCode(code, false, useOnlyWiFi);
    }
    // A whole earlier run of the application that could not upload: its session (with these
    // untimed sub-beacons) stays in the cache for the next start.
    void earlierRun(const std::vector<std::string>& subBeacons = {"Videos"}) {
        useEndpoint(refusingURL());
        auto beacon = start();
        for (const auto& name : subBeacons) beacon->startSubBeaconWithName(name);
        beacon->endBeacon();
        Beacon::resetForTesting();
        useEndpoint(collector.url());
    }
    // Runs the main loop until the upload connection has ended.
    void runUntilAnswered() { NSRunLoop::currentRunLoop()->run(); }
    // The upload's document: the body after "beacons=", read as JSON.
    json document(const Collector::Request& request) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/");
        EXPECT_EQ(request.body.rfind("beacons=", 0), 0u) << request.body;
        return json::parse(request.body.substr(std::string("beacons=").size()));
    }
    size_t count(const std::string& table) {
        return std::stoul(query("SELECT COUNT(*) FROM " + table, code).at(0).at(0).value_or(""));
    }
    size_t sessions() { return count("beacon"); }
    static std::vector<std::string> keys(const json& object) {
        std::vector<std::string> names;
        for (const auto& item : object.items()) names.push_back(item.key());
        return names;
    }

    std::string code = kTestCode;
    Collector collector;
};

// ---- The document ----

TEST_F(BeaconUploadTest, StartUpUploadSendsEarlierSessionsAsOneDocument) {
    earlierRun({"Videos"});
    earlierRun({"Video Roll", "Videos"});
    useEndpoint(refusingURL());
    auto beacon = start();
    beacon->startTimedSubBeaconWithName("Player");
    beacon->endSubBeaconWithName("Player");
    beacon->setBeaconLocation(CLLocation::initWithCoordinate({48.5, 9.25}, NSDate::date()));
    beacon->endBeacon();
    Beacon::resetForTesting();
    useEndpoint(collector.url());
    earlierRun({});

    start();
    runUntilAnswered();
    auto requests = collector.requests();
    ASSERT_EQ(requests.size(), 1u);
    json doc = document(requests[0]);
    EXPECT_EQ(keys(doc), (std::vector<std::string>{"did", "dm", "dos", "ac", "av", "b"}));
    EXPECT_EQ(doc["did"], UIDevice::currentDevice()->uniqueIdentifier());
    char machine[32] = {};
    size_t size = sizeof machine;
    ASSERT_EQ(sysctlbyname("hw.machine", machine, &size, nullptr, 0), 0);
    EXPECT_EQ(doc["dm"], machine);
    EXPECT_EQ(doc["dos"], "3.1.3");
    EXPECT_EQ(doc["ac"], kTestCode);
    Value version = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleVersion");
    EXPECT_EQ(doc["av"], version.isString() ? version.string() : "(null)");

    // Sessions in the order they were recorded; only sessions of earlier runs.
    const json& b = doc["b"];
    ASSERT_EQ(b.size(), 4u);
    auto names = [](const json& session) {
        std::vector<std::string> n;
        for (const auto& sub : session.value("sb", json::array())) n.push_back(sub["n"]);
        return n;
    };
    EXPECT_EQ(names(b[0]), std::vector<std::string>{"Videos"});
    EXPECT_EQ(names(b[1]), (std::vector<std::string>{"Video Roll", "Videos"}));
    EXPECT_EQ(names(b[2]), std::vector<std::string>{"Player"});
    EXPECT_FALSE(b[3].contains("sb"));
    for (const json& session : b) {
        EXPECT_NE(session["o"], "") << "every earlier session was stopped";
        EXPECT_LE(std::stoll(session["i"].get<std::string>()),
                  std::stoll(session["o"].get<std::string>()));
    }
    EXPECT_EQ(keys(b[2]), (std::vector<std::string>{"i", "o", "lat", "lon", "sb"}));
    EXPECT_EQ(std::stod(b[2]["lat"].get<std::string>()), 48.5);
    EXPECT_EQ(keys(b[0]["sb"][0]), (std::vector<std::string>{"n", "i"})) << "untimed: no stop";
    EXPECT_EQ(keys(b[2]["sb"][0]), (std::vector<std::string>{"n", "i", "o"}));

    // "success": the earlier sessions are gone, this run's session stays.
    EXPECT_EQ(sessions(), 1u);
    EXPECT_EQ(query("SELECT time_stopped FROM beacon", code)[0][0], std::nullopt);
}

TEST_F(BeaconUploadTest, HeaderMembersAreEscapedJSONStrings) {
    code = "0123456789\"bcdef\\123456789ABCDEF";  // 32 characters
    earlierRun();
    start();
    runUntilAnswered();
    auto requests = collector.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(document(requests[0])["ac"], code);
}

TEST_F(BeaconUploadTest, NonASCIINamesGoOutAsUTF8AndStillPurge) {
    const std::string name = "Vid\xc3\xa9os \xe2\x9c\x93";
    earlierRun({name});
    start();
    runUntilAnswered();
    auto requests = collector.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(document(requests[0])["b"][0]["sb"][0]["n"], name);
    EXPECT_EQ(sessions(), 1u);
}

TEST_F(BeaconUploadTest, DemographicsGiveGenderAndBirthDateByTheirRules) {
    struct Case {
        const char* values;  // gender, birth month, birth year
        std::optional<std::string> g, bd;
    };
    const Case cases[] = {
        {"'f', 3, 1975", "f", "1975-03-01"},         {"'m', 12, 1980", "m", "1980-12-01"},
        {"'m', -1, -1", "m", std::nullopt},          {"'', 3, -1", std::nullopt, std::nullopt},
        {"'', 0, 1990", std::nullopt, std::nullopt}, {"'', 7, 2001", std::nullopt, "2001-07-01"},
    };
    collector.answer("not now");  // the cache keeps its sessions between the cases
    auto beacon = start();
    for (const Case& c : cases) {
        execute("DELETE FROM user", code);
        execute(std::string("INSERT INTO user (gender, birth_month, birth_year) VALUES (") +
                    c.values + ")",
                code);
        beacon->attemptToSendBeaconsAsync(false);
        json doc = document(collector.requests().back());
        std::vector<std::string> expected{"did", "dm", "dos", "ac", "av"};
        if (c.g)
            expected.push_back("g");
        if (c.bd)
            expected.push_back("bd");
        expected.push_back("b");
        EXPECT_EQ(keys(doc), expected) << c.values;
        EXPECT_EQ(doc.value("g", json()), c.g ? json(*c.g) : json()) << c.values;
        EXPECT_EQ(doc.value("bd", json()), c.bd ? json(*c.bd) : json()) << c.values;
    }
}

// ---- The answer ----

struct AnswerCase {
    const char* name;
    std::string body;
    int status;
    bool purges;
};

class UploadAnswer : public BeaconUploadTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(UploadAnswer, OnlyExactlySuccessPurges) {
    earlierRun();
    collector.answer(GetParam().body, GetParam().status);
    start();
    runUntilAnswered();
    ASSERT_EQ(collector.requests().size(), 1u);
    EXPECT_EQ(sessions(), GetParam().purges ? 1u : 2u);
    EXPECT_EQ(count("sub_beacon"), GetParam().purges ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(BeaconUploadTest, UploadAnswer,
                         testing::Values(AnswerCase{"success", "success", 200, true},
                                         AnswerCase{"successWithServerError", "success", 500, true},
                                         AnswerCase{"lineEnd", "success\n", 200, false},
                                         AnswerCase{"capital", "Success", 200, false},
                                         AnswerCase{"leadingBlank", " success", 200, false},
                                         AnswerCase{"empty", "", 200, false},
                                         AnswerCase{"notFound", "not found", 404, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A collector that answers through a redirect: the answer at its target is the one that counts,
// for the start-up upload and for the one at the end of the session.
TEST_F(BeaconUploadTest, TheAnswerAfterARedirectPurges) {
    LoopbackHTTPService redirecting;
    std::atomic<int> arrived{0};
    redirecting.routes().Post("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/accepted", 302);
        res.set_content("moved", "text/plain");
    });
    redirecting.routes().Get("/accepted", [&](const httplib::Request&, httplib::Response& res) {
        ++arrived;
        res.set_content("success", "text/plain");
    });
    ASSERT_GT(redirecting.start(), 0);
    earlierRun();
    useEndpoint(redirecting.url("/"));

    auto beacon = start();
    runUntilAnswered();
    EXPECT_EQ(arrived, 1);
    EXPECT_EQ(sessions(), 1u) << "the earlier session was purged, this run's stays";

    beacon->startSubBeaconWithName("Videos");
    beacon->endBeacon();
    EXPECT_EQ(arrived, 2);
    EXPECT_EQ(sessions(), 0u);
    EXPECT_EQ(count("sub_beacon"), 0u);
}

TEST_F(BeaconUploadTest, RefusedConnectionLeavesTheCacheAndAllowsTheNextUpload) {
    earlierRun();
    useEndpoint(refusingURL());
    auto beacon = start();
    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        runUntilAnswered();
    });
    EXPECT_EQ(lines.back(),
              "Networking: connection failed with error 'Could not connect to the server.'.");
    EXPECT_EQ(sessions(), 2u);

    useEndpoint(collector.url());
    beacon->attemptToSendBeaconsAsync(true);
    runUntilAnswered();
    EXPECT_EQ(collector.requests().size(), 1u) << "the failure ended the upload";
    EXPECT_EQ(sessions(), 1u);
}

// The answer arrives on the run loop, where no caller could catch a failure of the cache.
TEST_F(BeaconUploadTest, ACacheThatFailsAtThePurgeIsLoggedAndTheLoopGoesOn) {
    earlierRun();
    start();
    execute("DROP TABLE sub_beacon", code);
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(runUntilAnswered());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("connectionDidFinishLoading failed: "), std::string::npos) << log;
    EXPECT_EQ(collector.requests().size(), 1u);
    EXPECT_EQ(sessions(), 1u) << "the sessions were purged before the failure";
}

TEST_F(BeaconUploadTest, SilentCollectorTimesOutAfterTenSecondsAndLeavesTheCache) {
    earlierRun();
    auto loop = NSRunLoop::currentRunLoop();
    collector.hold([loop] { loop->stop(); });
    auto beacon = start();
    loop->run();  // until the collector holds the request
    Beacon::enableDebugMode();

    // In flight: further attempts, asynchronous or not, send nothing and say nothing.
    Lines lines = debugLines([&] {
        beacon->attemptToSendBeaconsAsync(true);
        beacon->attemptToSendBeaconsAsync(false);
        time.advance(9.5);
    });
    EXPECT_TRUE(lines.empty()) << lines.front();
    EXPECT_EQ(collector.requests().size(), 1u);

    lines = debugLines([&] { time.advance(0.5); });
    EXPECT_EQ(lines, Lines{"Networking: connection failed with error 'The request timed out.'."});
    EXPECT_EQ(sessions(), 2u);
    EXPECT_EQ(count("sub_beacon"), 1u);
}

// ---- When an upload goes out ----

TEST_F(BeaconUploadTest, BuildingLineCountsTheSessions) {
    struct Case {
        int earlierRuns;
        std::string line;
    };
    for (const Case& c : {Case{1, "Networking: building request to send 1 beacon session..."},
                          Case{3, "Networking: building request to send 3 beacon sessions..."}}) {
        Beacon::resetForTesting();
        std::filesystem::remove_all(cacheDirectory());
        for (int i = 0; i < c.earlierRuns; ++i) earlierRun();
        Lines lines = debugLines([&] {
            Beacon::initAndStartBeaconWithApplicationCode(kTestCode, false, false, true);
            runUntilAnswered();
        });
        const std::string codeLine =
            std::string("Init: using application code '") + kTestCode + "'";
        EXPECT_EQ(lines,
                  (Lines{"Beacon debug mode enabled.", codeLine, c.line,
                         "Networking: sending beacons in a background thread with a 10-second "
                         "timeout interval...",
                         "Init: new beacon session started.",
                         "Location: Internal CoreLocation support is disabled. However, you may "
                         "still use setBeaconLocation: if your app uses CoreLocation.",
                         "Init: Beacon has been initialized successfully.",
                         "Networking: ... negotiating with server ...",
                         "Networking: connection finished.",
                         "Networking: beacons were successfully transmitted. Purging the local "
                         "SQLite cache...",
                         "Networking: ...local SQLite cache purged."}));
    }
}

TEST_F(BeaconUploadTest, EmptyCacheSendsNothing) {
    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        start();
    });
    for (const auto& line : lines) EXPECT_EQ(line.find("Networking"), std::string::npos) << line;
    EXPECT_FALSE(NSRunLoop::currentRunLoop()->hasSources()) << "no connection was made";
    EXPECT_TRUE(collector.requests().empty());
}

TEST_F(BeaconUploadTest, EndOfSessionUploadsSynchronouslyAndEmptiesBothSessionTables) {
    auto beacon = start();
    beacon->startSubBeaconWithName("Videos");
    execute("INSERT INTO user (gender, birth_month, birth_year) VALUES ('f', 3, 1975)", code);
    beacon->endBeacon();
    auto requests = collector.requests();
    ASSERT_EQ(requests.size(), 1u);
    json b = document(requests[0])["b"];
    ASSERT_EQ(b.size(), 1u);
    EXPECT_NE(b[0]["o"], "") << "stopped before the upload";
    EXPECT_EQ(sessions(), 0u);
    EXPECT_EQ(count("sub_beacon"), 0u);
    EXPECT_EQ(count("user"), 1u);
}

TEST_F(BeaconUploadTest, EndOfSessionReturnsAtItsFiveSecondTimeOut) {
    auto beacon = start();
    // Another thread moves the clock while the upload blocks this one.
    collector.hold({});
    std::atomic<bool> ended{false};
    bool endedEarly = false;
    std::thread mover([&] {
        while (collector.heldCount() == 0) std::this_thread::yield();
        time.clock().advance(4.5);
        endedEarly = ended;
        time.clock().advance(0.5);
    });
    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        beacon->endBeacon();
        ended = true;
    });
    mover.join();
    EXPECT_FALSE(endedEarly);
    EXPECT_EQ(lines.back(),
              "Networking: did not receive successful response from the server. Analytics data "
              "will remain cached in SQLite.");
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Networking: sending beacons synchronously (blocking main thread!) with a "
                        "5-second timeout interval..."),
              lines.end());
    EXPECT_EQ(sessions(), 1u);
}

TEST_F(BeaconUploadTest, EndOfSessionSkipsTheUploadWhileTheStartUpUploadIsInFlight) {
    earlierRun();
    auto loop = NSRunLoop::currentRunLoop();
    collector.hold([loop] { loop->stop(); });
    auto beacon = start();
    loop->run();
    beacon->endBeacon();
    EXPECT_EQ(collector.requests().size(), 1u);
    EXPECT_EQ(sessions(), 2u) << "this run's session stays for the next launch";
}

struct WiFiCase {
    const char* name;
    std::optional<SCNetworkReachabilityFlags> flags;
    bool uploads;
};

class WiFiOnly : public BeaconUploadTest, public testing::WithParamInterface<WiFiCase> {};

TEST_P(WiFiOnly, UploadsOnlyOverWiFi) {
    earlierRun();
    std::vector<in_addr_t> asked;
    SCNetworkReachabilitySetFlagsSourceForTesting([&](in_addr address) {
        asked.push_back(address.s_addr);
        return GetParam().flags;
    });
    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        start(true);
        runUntilAnswered();
    });
    EXPECT_EQ(asked, std::vector<in_addr_t>{INADDR_ANY}) << "the internet, asked once";
    EXPECT_EQ(collector.requests().size(), GetParam().uploads ? 1u : 0u);
    EXPECT_EQ(sessions(), GetParam().uploads ? 1u : 2u);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], "useOnlyWifi: useOnlyWifi is enabled. Checking connection status...");
    EXPECT_EQ(lines[3], GetParam().uploads
                            ? "useOnlyWifi: ...connected via wi-fi. Continue."
                            : "useOnlyWifi: ...not connected via wi-fi. Leaving analytics data "
                              "in SQLite cache.");
}

INSTANTIATE_TEST_SUITE_P(
    BeaconUploadTest, WiFiOnly,
    testing::Values(
        WiFiCase{"wifi", kSCNetworkReachabilityFlagsReachable, true},
        WiFiCase{"carrierOnly",
                 kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsWWAN, false},
        WiFiCase{"notReachable", 0, false}, WiFiCase{"flagsUnreadable", std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
