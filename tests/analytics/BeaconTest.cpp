#include "analytics/Classes/Interfaces/Beacon.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "analytics/Classes/Utils/Database/BeaconDatabase.h"
#include "platform/CoreLocation/CLLocationManager.h"
#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "tests/analytics/AnalyticsTestHome.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kDisabledLine = "Analytics are disabled; this Beacon call will be ignored.";
const std::string kLocationDisabledLine =
    "Location: Internal CoreLocation support is disabled. However, you may still use "
    "setBeaconLocation: if your app uses CoreLocation.";
const std::string kStoredLine = "Location: device's location has been stored for this session.";
const std::string kRequestedLine =
    "Location: current location is not recent enough; update requested.";

class BeaconTest : public AnalyticsTestHome {
  protected:
    // The debug-log messages written while `work` runs, without their date prefix.
    Lines debugLines(const std::function<void()>& work) {
        testing::internal::CaptureStdout();
        work();
        std::istringstream out(testing::internal::GetCapturedStdout());
        static const std::regex line(
            R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 libRQAnalytics: (.*))");
        Lines messages;
        for (std::string text; std::getline(out, text);) {
            std::smatch match;
            EXPECT_TRUE(std::regex_match(text, match, line)) << text;
            messages.push_back(match.size() > 1 ? match[1].str() : text);
        }
        return messages;
    }
    std::shared_ptr<Beacon> start(bool useCoreLocation = false) {
        return Beacon::initAndStartBeaconWithApplicationCode(kTestCode, useCoreLocation, false);
    }
    static bool contains(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::string count(const std::string& table) {
        return query("SELECT COUNT(*) FROM " + table).at(0).at(0).value_or("");
    }
    void placeCachedFix(double ageSeconds) {
        CLLocationManager::deliverLocation(CLLocation::initWithCoordinate(
            {48.5, 9.25}, NSDate::dateWithTimeIntervalSinceNow(-ageSeconds)));
    }
};

class InvalidCode : public BeaconTest,
                    public testing::WithParamInterface<std::optional<std::string>> {};

TEST_P(InvalidCode, IsRefusedAndChangesNothing) {
    try {
        Beacon::initAndStartBeaconWithApplicationCode(GetParam(), false, false);
        FAIL() << "no exception";
    } catch (const NSException& e) {
        EXPECT_EQ(e.name(), "InvalidApplicationCode");
        EXPECT_EQ(e.reason(), "The application code must be 32 characters");
        EXPECT_TRUE(e.userInfo().isNull());
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(Beacon::shared(), nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(cacheDirectory()));
    EXPECT_NE(start(), nullptr) << "a later valid start works";
}

INSTANTIATE_TEST_SUITE_P(Lengths, InvalidCode,
                         testing::Values(std::nullopt, std::string(), std::string(31, 'a'),
                                         std::string(33, 'a')));

TEST_F(BeaconTest, AnyThirtyTwoCharactersAreAccepted) {
    std::string code;
    for (int i = 0; i < 32; ++i) code += "\xc3\xa9";  // 32 characters, 64 bytes
    auto beacon = Beacon::initAndStartBeaconWithApplicationCode(code, false, false);
    ASSERT_NE(beacon, nullptr);
    EXPECT_EQ(Beacon::shared(), beacon);
    EXPECT_FALSE(fs::exists(cacheFile()));
    EXPECT_EQ(query("SELECT COUNT(*) FROM beacon", code)[0][0], "1");
}

TEST_F(BeaconTest, SecondStartReturnsTheFirstFacadeWithoutASecondSession) {
    auto first = start();
    auto second = Beacon::initAndStartBeaconWithApplicationCode("short", true, true);
    EXPECT_EQ(first, second);
    EXPECT_EQ(count("beacon"), "1");
    // The first flags stand: location stays off.
    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        first->startBeacon();
    });
    EXPECT_EQ(lines.back(),
              "Attempted to start a beacon while one is already running. This call to "
              "startBeacon will be ignored.");
}

TEST_F(BeaconTest, DebugStartWritesItsLinesInOrder) {
    Lines lines = debugLines(
        [&] { Beacon::initAndStartBeaconWithApplicationCode(kTestCode, false, false, true); });
    EXPECT_EQ(lines, (Lines{"Beacon debug mode enabled.",
                            std::string("Init: using application code '") + kTestCode + "'",
                            "Init: new beacon session started.", kLocationDisabledLine,
                            "Init: Beacon has been initialized successfully."}));
}

TEST_F(BeaconTest, LogIsSilentUntilDebugModeAndFormatsItsArguments) {
    Lines lines = debugLines([&] {
        start()->startSubBeaconWithName("Videos");
        Beacon::log("before %s", "debug mode");
        Beacon::enableDebugMode();
        Beacon::log("value %s and %d", "text", 7);
    });
    EXPECT_EQ(lines, (Lines{"Beacon debug mode enabled.", "value text and 7"}));
}

TEST_F(BeaconTest, OptedOutAtFirstReadStaysOffForTheWholeRun) {
    fs::create_directory(cacheDirectory());
    std::ofstream(cacheFile("earlier run")) << "x";
    setStatsCollection(false);
    Beacon::enableDebugMode();
    Lines lines = debugLines([&] { start(); });
    EXPECT_TRUE(contains(lines,
                         "Init: Skipping database initialization because the "
                         "kEnableHalvornStatsCollection user default is false (e.g. the user "
                         "has opted out)."));
    EXPECT_NE(Beacon::shared(), nullptr);
    EXPECT_EQ(BeaconDatabase::shared(), nullptr);
    EXPECT_FALSE(fs::exists(cacheFile()));

    setStatsCollection(true);
    lines = debugLines([&] { Beacon::shared()->startSubBeaconWithName("Videos"); });
    EXPECT_EQ(lines, (Lines{kDisabledLine}));
    EXPECT_TRUE(Beacon::statsDisabled());

    lines = debugLines([&] { Beacon::shared()->endBeacon(); });
    EXPECT_EQ(lines.back(),
              "Beacon SQLite cache has been *completely deleted* because the "
              "kEnableHalvornStatsCollection user default is false (e.g. the user has opted "
              "out).");
    EXPECT_FALSE(fs::exists(cacheDirectory()));
}

TEST_F(BeaconTest, AfterATrueFirstReadEachCallFollowsTheCurrentValue) {
    Beacon::enableDebugMode();
    Lines lines = debugLines([&] { EXPECT_FALSE(Beacon::statsDisabled()); });
    EXPECT_TRUE(lines.empty()) << "a missing key means on, without a line";
    auto beacon = start();
    setStatsCollection(false);
    beacon->startSubBeaconWithName("while off");
    setStatsCollection(true);
    beacon->startSubBeaconWithName("on again");
    EXPECT_EQ(query("SELECT name FROM sub_beacon"), (std::vector<SqlRow>{{"on again"}}));
}

TEST_F(BeaconTest, EndWithAnalyticsTurnedOffDeletesTheCacheIncludingTheRunningSession) {
    auto beacon = start();
    setStatsCollection(false);
    beacon->endBeacon();
    EXPECT_FALSE(fs::exists(cacheDirectory()));
    setStatsCollection(true);
    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        beacon->startBeacon();
    });
    EXPECT_TRUE(contains(lines,
                         "Attempted to start a beacon while one is already running. This call "
                         "to startBeacon will be ignored."))
        << "the session counts as running still";
}

TEST_F(BeaconTest, EndStopsTheSessionAndTheFacadeStaysWithoutOne) {
    auto beacon = start();
    beacon->startTimedSubBeaconWithName("timed");
    Beacon::endSharedBeacon();
    EXPECT_EQ(query("SELECT time_stopped IS NOT NULL FROM beacon UNION ALL SELECT time_stopped "
                    "IS NOT NULL FROM sub_beacon"),
              (std::vector<SqlRow>{{"1"}, {"1"}}));
    EXPECT_EQ(Beacon::shared(), beacon);
    EXPECT_EQ(Beacon::initAndStartBeaconWithApplicationCode(kTestCode, false, false), beacon);
    EXPECT_EQ(count("beacon"), "1") << "a new start makes no new session";

    Lines lines = debugLines([&] {
        Beacon::enableDebugMode();
        beacon->startSubBeaconWithName("Videos");
        beacon->endSubBeaconWithName("timed");
        beacon->endBeacon();
    });
    EXPECT_EQ(lines, (Lines{"Beacon debug mode enabled.",
                            "SubBeacons: **ALERT**! Beacon has not been initialized. 'Videos' "
                            "will not be recorded. Ensure that [Beacon init...] has been called "
                            "before doing anything else with Beacon!"}));
    EXPECT_EQ(count("sub_beacon"), "1");
}

TEST_F(BeaconTest, LongNamesAreRecordedWholeAfterTheirNotice) {
    const std::string name32(32, 'x');
    const std::string name33(33, 'y');
    auto beacon = start();
    Beacon::enableDebugMode();
    Lines lines = debugLines([&] {
        beacon->startSubBeaconWithName(name32);
        beacon->startTimedSubBeaconWithName(name33);
        beacon->endSubBeaconWithName("never started");
    });
    EXPECT_EQ(lines, (Lines{"SubBeacons: started untimed sub-beacon named '" + name32 + "'.",
                            "Subbeacon names are limited to 32 characters. \"" + name33 +
                                "\" will be truncated.",
                            "SubBeacons: started timed sub-beacon named '" + name33 + "'.",
                            "SubBeacons: Ended timed sub-beacon named 'never started'."}));
    EXPECT_EQ(query("SELECT name, is_session FROM sub_beacon ORDER BY id"),
              (std::vector<SqlRow>{{name32, "0"}, {name33, "1"}}));
}

TEST_F(BeaconTest, NilNameRecordsNothingAndRaisesNothing) {
    auto beacon = start();
    Beacon::enableDebugMode();
    Lines lines =
        debugLines([&] { EXPECT_NO_THROW(beacon->startSubBeaconWithName(std::nullopt)); });
    EXPECT_EQ(lines, (Lines{"SubBeacons: started untimed sub-beacon named '(null)'."}));
    EXPECT_EQ(count("sub_beacon"), "0");
}

TEST_F(BeaconTest, RecentCachedFixIsStoredAtOnce) {
    placeCachedFix(10);
    Beacon::enableDebugMode();
    Lines lines = debugLines([&] { start(true); });
    EXPECT_TRUE(contains(lines, "Location: Beacon CoreLocation support is enabled."));
    EXPECT_TRUE(contains(lines, "Location: created a CLLocationManager."));
    EXPECT_TRUE(contains(lines, kStoredLine));
    EXPECT_FALSE(contains(lines, kRequestedLine));
    EXPECT_EQ(query("SELECT latitude, longitude FROM beacon")[0], (SqlRow{"48.5", "9.25"}));
}

TEST_F(BeaconTest, OldCachedFixLeadsToARequestAndTheFirstDeliveredFixIsStored) {
    placeCachedFix(600);
    Beacon::enableDebugMode();
    Lines lines = debugLines([&] { start(true); });
    EXPECT_TRUE(contains(lines, kRequestedLine));
    EXPECT_EQ(query("SELECT latitude FROM beacon")[0][0], std::nullopt);

    CLLocationManager::deliverLocation(1.25, 2.5);
    lines = debugLines([&] { time.runDue(); });
    EXPECT_EQ(lines, (Lines{kStoredLine}));
    CLLocationManager::deliverLocation(3, 4);  // updates have stopped
    time.runDue();
    EXPECT_EQ(query("SELECT latitude, longitude FROM beacon")[0], (SqlRow{"1.25", "2.5"}));
}

TEST_F(BeaconTest, NoCachedFixLeadsToARequest) {
    Beacon::enableDebugMode();
    EXPECT_TRUE(contains(debugLines([&] { start(true); }), kRequestedLine));
}

TEST_F(BeaconTest, FixDeliveredAfterTheSessionEndedIsNotStored) {
    auto beacon = start(true);
    beacon->endBeacon();
    CLLocationManager::deliverLocation(1, 1);
    time.runDue();
    EXPECT_EQ(query("SELECT latitude FROM beacon")[0][0], std::nullopt);
}

TEST_F(BeaconTest, LocationServicesOffSkipTheRequest) {
    CLLocationManager::setLocationServicesEnabled(false);
    placeCachedFix(10);
    Beacon::enableDebugMode();
    Lines lines = debugLines([&] { start(true); });
    EXPECT_EQ(lines.at(lines.size() - 2),
              "Location: Skipping location request because user has explicitly, globally "
              "disabled it in Settings.");
    CLLocationManager::deliverLocation(1, 1);
    time.runDue();
    EXPECT_EQ(query("SELECT latitude FROM beacon")[0][0], std::nullopt);
}

TEST_F(BeaconTest, HostLocationIsStoredWithLocationSupportOff) {
    auto beacon = start(false);
    beacon->setBeaconLocation(CLLocation::initWithCoordinate({-33.5, 151.25}, NSDate::date()));
    EXPECT_EQ(query("SELECT latitude, longitude FROM beacon")[0], (SqlRow{"-33.5", "151.25"}));
}

// A facade made by the initialiser alone has no cache: what it would record goes to no cache and
// nothing happens. A null location is no fix. Neither crashes.
TEST_F(BeaconTest, WithoutACacheOrWithANullLocationNothingIsRecorded) {
    struct Case {
        const char* name;
        bool cache;  // made by the start, with its session; else by the initialiser alone
        bool useCoreLocation;
        std::function<void(Beacon&)> run;
    };
    const Case cases[] = {
        {"a session and its end", false, false,
         [](Beacon& b) {
             b.startBeacon();
             b.endBeacon();
         }},
        {"a session with a recent fix", false, true,
         [&](Beacon& b) {
             placeCachedFix(10);
             b.startBeacon();
         }},
        {"a fix delivered to the session", false, true,
         [&](Beacon& b) {
             b.startBeacon();
             CLLocationManager::deliverLocation(1.25, 2.5);
             time.runDue();
         }},
        {"sub-beacons", false, false,
         [](Beacon& b) {
             b.startBeacon();
             b.startSubBeaconWithName("Videos");
             b.startTimedSubBeaconWithName("Timed");
             b.endSubBeaconWithName("Timed");
         }},
        {"a host's fix", false, false,
         [](Beacon& b) {
             b.setBeaconLocation(CLLocation::initWithCoordinate({48.5, 9.25}, NSDate::date()));
         }},
        {"a null location", false, false, [](Beacon& b) { b.setBeaconLocation(nullptr); }},
        {"a null location in a session", true, false,
         [](Beacon& b) { b.setBeaconLocation(nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Beacon::resetForTesting();
        CLLocationManager::resetDeviceLocation();
        fs::remove_all(cacheDirectory());
        auto beacon = c.cache
                          ? start(c.useCoreLocation)
                          : Beacon::initWithApplicationCode(kTestCode, c.useCoreLocation, false);
        EXPECT_NO_THROW(c.run(*beacon));
        if (c.cache) {
            EXPECT_EQ(query("SELECT latitude, longitude FROM beacon"),
                      (std::vector<SqlRow>{{std::nullopt, std::nullopt}}));
        } else {
            EXPECT_EQ(BeaconDatabase::shared(), nullptr);
            EXPECT_FALSE(fs::exists(cacheDirectory()));
        }
    }
}

TEST_F(BeaconTest, ClassEndBeforeAnyStartOnlyAlertsThePlatformLog) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    Beacon::endSharedBeacon();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "**ALERT**! Beacon has not yet been initialized -- [Beacon shared] will return "
                  "nil."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(cacheDirectory()));
}

TEST_F(BeaconTest, DeviceModelIsTheMachineHardwareName) {
    struct utsname system {};
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(start()->deviceModel(), std::string(system.machine));
}

TEST_F(BeaconTest, CacheThatCannotBeOpenedRaisesAndLeavesNoFacade) {
    // A home folder that does not exist: its Documents folder, and so the cache, cannot be made.
    const std::string home = fs::path(documents()).parent_path();
    NSSetHomeDirectory(home + "/no/such/home");
    EXPECT_THROW(start(), NSException);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Beacon::shared(), nullptr);
    testing::internal::GetCapturedStderr();
    NSSetHomeDirectory(home);
    EXPECT_NE(start(), nullptr);
}

}  // namespace
