// CTest labels: threads

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <string>
#include <vector>

#include "analytics/Classes/Interfaces/Beacon.h"
#include "analytics/RQKNConnect/RQKNSession.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSRunLoop.h"
#include "tests/analytics/AnalyticsTestHome.h"
#include "tests/platform/Foundation/ScopedEnvironment.h"
#include "tests/support/LoopbackHTTPService.h"

namespace {

std::string users(const std::string& rows) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kql_query_response list=\"true\">" + rows +
           "</kql_query_response>";
}

class BeaconDemographicsTest : public AnalyticsTestHome {
  protected:
    BeaconDemographicsTest() {
        server.answer("/", "success");
        server.answer("/restserver.php", "<ok/>");
        EXPECT_GT(server.start(), 0);
        DeviceSettings settings = DeviceSettings::fromEnvironment();
        settings.restURL = server.url("/restserver.php");
        settings.analyticsURL = server.url("/");
        DeviceSettings::install(settings);
        locale.set("LC_ALL", std::nullopt);
        locale.set("LC_TIME", std::nullopt);
        locale.set("LANG", "en_US.UTF-8");
    }
    ~BeaconDemographicsTest() override { DeviceSettings::uninstall(); }

    std::shared_ptr<Beacon> start() {
        return Beacon::initAndStartBeaconWithApplicationCode(kTestCode, false, false);
    }
    std::shared_ptr<RQKNSession> loggedIn(uint64_t uid = 1099511627781ull) {
        auto s = RQKNSession::initWithKey("apikey", "apisecret", {});
        s->begin(uid, "sessionkey", "sessionsecret", {});
        sessions.push_back(s);
        return s;
    }
    // Hands the session over and runs the loop until the answer has been handled.
    void handOver(const std::shared_ptr<RQKNSession>& session) {
        Beacon::shared()->setKNConnectSession(session);
        NSRunLoop::currentRunLoop()->run();
    }
    std::vector<SqlRow> userRows() {
        return query("SELECT gender, birth_month, birth_year FROM user ORDER BY id");
    }
    size_t restCalls() {
        size_t n = 0;
        for (const auto& r : server.requests()) n += r.target == "/restserver.php";
        return n;
    }

    LoopbackHTTPService server;
    ScopedEnvironment locale;
    std::vector<std::shared_ptr<RQKNSession>> sessions;
};

SqlRow row(const char* gender, int month, int year) {
    return {gender, std::to_string(month), std::to_string(year)};
}

}  // namespace

TEST(RQNSNullCheck, NullAndMissingBothReadAsNil) {
    ValueDictionary d;
    d.set("null", Value());
    d.set("text", "male");
    d.set("empty", "");
    EXPECT_EQ(objectOrNilForNullForKey(d, "null"), std::nullopt);
    EXPECT_EQ(objectOrNilForNullForKey(d, "missing"), std::nullopt);
    EXPECT_EQ(objectOrNilForNullForKey(d, "text"), Value("male"));
    EXPECT_EQ(objectOrNilForNullForKey(d, "empty"), Value(""));
}

TEST_F(BeaconDemographicsTest, TheAnswerIsStoredInTheUserRow) {
    struct Case {
        const char* name;
        std::string lang;
        std::string answer;
        std::vector<SqlRow> rows;
    };
    const std::vector<Case> cases = {
        {"male, March 3, 1975, English",
         "en_US.UTF-8",
         users("<user><sex>male</sex><birthday>March 3, 1975</birthday></user>"),
         {row("m", 3, 1975)}},
        {"only the first user counts",
         "en_GB.UTF-8",
         users("<user><sex>female</sex><birthday>December 31, 1999</birthday></user>"
               "<user><sex>male</sex><birthday>May 1, 1980</birthday></user>"),
         {row("f", 12, 1999)}},
        {"a capital letter is no match",
         "en_US.UTF-8",
         users("<user><sex>Male</sex><birthday>March 3, 1975</birthday></user>"),
         {row("", 3, 1975)}},
        {"no birthday element",
         "en_US.UTF-8",
         users("<user><sex>female</sex></user>"),
         {row("f", -1, -1)}},
        {"an empty birthday and sex",
         "en_US.UTF-8",
         users("<user><sex/><birthday>  </birthday></user>"),
         {row("", -1, -1)}},
        {"a birthday in another form",
         "en_US.UTF-8",
         users("<user><sex>male</sex><birthday>1975-03-03</birthday></user>"),
         {row("m", 0, 0)}},
        {"a birthday without a year",
         "en_US.UTF-8",
         users("<user><sex>male</sex><birthday>March 3</birthday></user>"),
         {row("m", 0, 0)}},
        {"month names of the user's locale",
         "de_DE.UTF-8",
         users("<user><sex>male</sex><birthday>M\xC3\xA4rz 3, 1975</birthday></user>"),
         {row("m", 3, 1975)}},
        {"English names under another locale",
         "de_DE.UTF-8",
         users("<user><sex>male</sex><birthday>March 3, 1975</birthday></user>"),
         {row("m", 0, 0)}},
        {"the C locale reads English",
         "C",
         users("<user><sex>male</sex><birthday>March 3, 1975</birthday></user>"),
         {row("m", 3, 1975)}},
        {"no user", "en_US.UTF-8", users(""), {}},
        {"an API error",
         "en_US.UTF-8",
         "<error_response><error_code>102</error_code><error_msg>Session key invalid"
         "</error_msg></error_response>",
         {}},
        {"not XML", "en_US.UTF-8", "Service Unavailable", {}},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        execute("DELETE FROM user");
        locale.set("LANG", c.lang);
        server.answer("/restserver.php", c.answer);
        handOver(loggedIn());
        EXPECT_EQ(userRows(), c.rows);
    }
}

TEST_F(BeaconDemographicsTest, TheQueryAsksForTheSessionsUser) {
    start();
    handOver(loggedIn(0xFFFFFFFFFFFFFFFFull));
    ASSERT_EQ(restCalls(), 1u);
    const std::string body = server.requests().back().body;
    // The user id is written as a signed 64-bit number.
    EXPECT_NE(body.find("name=\"query\"\r\n\r\nselect sex,birthday from user where uid == -1\r\n"),
              std::string::npos);
    EXPECT_NE(body.find("name=\"method\"\r\n\r\nkinnet.kql.query\r\n"), std::string::npos);
    EXPECT_NE(body.find("name=\"session_key\"\r\n\r\nsessionkey\r\n"), std::string::npos);
}

TEST_F(BeaconDemographicsTest, OnceTheRowExistsLaterHandOversSendNothing) {
    server.answer("/restserver.php",
                  users("<user><sex>male</sex><birthday>March 3, 1975</birthday></user>"));
    start();
    handOver(loggedIn());
    ASSERT_EQ(userRows().size(), 1u);
    handOver(loggedIn());
    EXPECT_EQ(restCalls(), 1u);
    EXPECT_EQ(userRows().size(), 1u);
}

TEST_F(BeaconDemographicsTest, AFailedQueryStoresNothingAndTheNextHandOverTriesAgain) {
    server.answer("/restserver.php", "<error_response><error_code>1</error_code></error_response>");
    start();
    testing::internal::CaptureStdout();
    Beacon::enableDebugMode();
    handOver(loggedIn());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("Notice: Beacon KNRequest failed. Demographic data will not be saved for "
                       "this session."),
              std::string::npos)
        << log;
    EXPECT_TRUE(userRows().empty());

    server.answer("/restserver.php", users("<user><sex>female</sex></user>"));
    handOver(loggedIn());
    EXPECT_EQ(restCalls(), 2u);
    EXPECT_EQ(userRows(), (std::vector<SqlRow>{row("f", -1, -1)}));
}

TEST_F(BeaconDemographicsTest, NoQueryWithoutALoggedInSessionOrWithAnalyticsOff) {
    start();
    Beacon::enableDebugMode();
    struct Case {
        const char* name;
        std::shared_ptr<RQKNSession> session;
        bool statsOn;
        std::string line;
    };
    auto loggedOut = RQKNSession::initWithKey("apikey", "apisecret", {});
    const std::vector<Case> cases = {
        {"no session", nullptr, true, "Notice: KNConnect session sent to Beacon is invalid."},
        {"logged out", loggedOut, true,
         "Notice: KNConnect session sent to Beacon is not logged in."},
        {"analytics off", loggedIn(), false,
         "Analytics are disabled; this Beacon call will be ignored."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setStatsCollection(c.statsOn);
        testing::internal::CaptureStdout();
        handOver(c.session);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_EQ(log.find("KQL query has been issued"), std::string::npos) << log;
    }
    EXPECT_EQ(restCalls(), 0u);
}

TEST_F(BeaconDemographicsTest, AnAnswerThatArrivesWithAnalyticsOffIsDropped) {
    server.answer("/restserver.php",
                  users("<user><sex>male</sex><birthday>March 3, 1975</birthday></user>"));
    start();
    Beacon::shared()->setKNConnectSession(loggedIn());
    setStatsCollection(false);
    NSRunLoop::currentRunLoop()->run();
    EXPECT_EQ(restCalls(), 1u);
    EXPECT_TRUE(userRows().empty());
}

TEST_F(BeaconDemographicsTest, TheNextUploadCarriesTheStoredDemographics) {
    struct Case {
        const char* name;
        std::string answer;
        nlohmann::json g, bd;  // null: the member is left out
    };
    const std::vector<Case> cases = {
        {"gender and birth month",
         users("<user><sex>male</sex><birthday>March 3, 1975</birthday>"
               "</user>"),
         "m", "1975-03-01"},
        {"no birthday", users("<user><sex>female</sex></user>"), "f", nullptr},
        {"neither", users("<user><sex>Male</sex><birthday>3/3/1975</birthday></user>"), nullptr,
         nullptr},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        execute("DELETE FROM user");
        server.answer("/restserver.php", c.answer);
        handOver(loggedIn());
        Beacon::shared()->attemptToSendBeaconsAsync(false);
        auto uploads = server.requests();
        ASSERT_FALSE(uploads.empty());
        ASSERT_EQ(uploads.back().target, "/");
        const std::string body = uploads.back().body;
        ASSERT_TRUE(body.starts_with("beacons=")) << body;
        const auto document = nlohmann::json::parse(body.substr(8));
        EXPECT_EQ(document.value("g", nlohmann::json()), c.g) << body;
        EXPECT_EQ(document.value("bd", nlohmann::json()), c.bd) << body;
    }
}
