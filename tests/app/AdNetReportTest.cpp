// CTest labels: threads

// The one-time application-open report to the ad network, against a loopback server.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <regex>

#include "app/Classes/TilvexAppDelegate.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class AdNetReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DeviceHome::prepare(home_.path()));
        service_.routes().Get("/f0",
                              [this](const httplib::Request& request, httplib::Response& response) {
                                  ++requests_;
                                  isu_ = request.get_param_value("isu");
                                  appId_ = request.get_param_value("app_id");
                                  response.status = status_;
                                  response.set_content(body_, "text/plain");
                              });
        ASSERT_GT(service_.start(), 0);
        useAdNet(service_.url(""));
    }
    void TearDown() override {
        service_.stop();
        DeviceSettings::uninstall();
        NSSetHomeDirectory("");
    }
    void useAdNet(const std::string& url) {
        DeviceSettings settings = DeviceSettings::fromEnvironment();
        settings.adnetURL = url;
        DeviceSettings::install(settings);
    }
    bool markerExists() const {
        return NSFileManager::defaultManager().fileExistsAtPath(DeviceHome::documents() +
                                                                "/adnet_app_open");
    }

    TemporaryFolder home_;
    LoopbackHTTPService service_;
    std::atomic<int> requests_{0};
    int status_ = 200;
    std::string body_ = "ok";
    std::string isu_, appId_;
    TilvexAppDelegate delegate_;
};

TEST_F(AdNetReportTest, OnlyAnAnswerOf200WithABodyLeavesTheMarker) {
    struct Case {
        int status;
        const char* body;
        bool marker;
    };
    const Case cases[] = {
        {200, "", false}, {404, "not here", false}, {500, "", false}, {200, "ok", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " \"" + c.body + "\"");
        status_ = c.status;
        body_ = c.body;
        int before = requests_;
        delegate_.reportAppOpenToAdNet();
        EXPECT_EQ(requests_, before + 1) << "the report is sent until it succeeds";
        EXPECT_EQ(markerExists(), c.marker);
    }
    EXPECT_TRUE(std::regex_match(isu_, std::regex("[0-9a-f]{40}"))) << isu_;
    EXPECT_EQ(appId_, TilvexAppDelegate::kAdNetApplicationId);
}

TEST_F(AdNetReportTest, AnAnswerOf200AfterARedirectLeavesTheMarker) {
    LoopbackHTTPService moved;
    // On to the fixture's server, which answers 200 "ok".
    moved.routes().Get("/f0", [this](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(service_.url("/f0"), 302);
    });
    ASSERT_GT(moved.start(), 0);
    useAdNet(moved.url(""));
    delegate_.reportAppOpenToAdNet();
    EXPECT_EQ(requests_, 1);
    EXPECT_TRUE(markerExists());
}

TEST_F(AdNetReportTest, WithTheMarkerNothingIsSent) {
    ASSERT_TRUE(NSFileManager::defaultManager().createFileAtPath(
        DeviceHome::documents() + "/adnet_app_open", nullptr));
    delegate_.reportAppOpenToAdNet();
    EXPECT_EQ(requests_, 0);
}

TEST_F(AdNetReportTest, AnUnreachableNetworkLeavesNoMarker) {
    service_.stop();
    delegate_.reportAppOpenToAdNet();
    EXPECT_EQ(requests_, 0);
    EXPECT_FALSE(markerExists());
}

}  // namespace
