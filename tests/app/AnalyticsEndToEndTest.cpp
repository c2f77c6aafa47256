// CTest labels: threads

// The application's analytics end to end: the tilvex program records and opens the album while
// a loopback collector takes the uploads.

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/app/TilvexProgram.h"
#include "tests/support/LoopbackHTTPService.h"

namespace {

using nlohmann::json;

class AnalyticsEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_UNLESS_TILVEX_IS_BUILT();
        service_.routes().Post(
            "/", [this](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard lock(mutex_);
                uploads_.push_back(request.body);
                response.set_content(answer_, "text/plain");
            });
        ASSERT_GT(service_.start(), 0);
    }
    void TearDown() override { service_.stop(); }

    // Runs the program against the collector, which answers `answer`; the documents it got.
    std::vector<json> run(const std::string& script, const std::string& answer) {
        {
            std::lock_guard lock(mutex_);
            answer_ = answer;
            uploads_.clear();
        }
        ProgramOutcome outcome =
            phone_.runScript(script, Arguments("--analytics-url " + service_.url("/")));
        EXPECT_EQ(outcome.status, 0) << outcome.out;
        std::lock_guard lock(mutex_);
        std::vector<json> documents;
        for (const std::string& body : uploads_) {
            EXPECT_TRUE(body.starts_with("beacons=")) << body;
            documents.push_back(json::parse(body.substr(std::string("beacons=").size())));
        }
        return documents;
    }

    // The sessions of a document that recorded both of the application's events, by start time.
    static std::vector<std::string> sessionsWithBothEvents(const json& document) {
        std::vector<std::string> starts;
        for (const json& session : document["b"]) {
            bool videos = false, roll = false;
            for (const json& event : session.value("sb", json::array())) {
                videos = videos || event["n"] == "Videos";
                roll = roll || event["n"] == "Video Roll";
            }
            if (videos && roll)
                starts.push_back(session["i"].dump());
        }
        return starts;
    }

    const std::string kRecordAndOpenTheAlbum =
        "tap button\nwait 0.3\ntap button\ntap albumButton\nwait 0.2\ntap done\n";

    TilvexHome phone_;
    LoopbackHTTPService service_;
    std::mutex mutex_;
    std::string answer_;
    std::vector<std::string> uploads_;
};

TEST_F(AnalyticsEndToEndTest, ASessionIsKeptUntilTheCollectorAnswersSuccess) {
    // First run: the end of the session uploads it; the collector refuses, so it stays cached.
    std::vector<json> first = run(kRecordAndOpenTheAlbum, "try later");
    ASSERT_FALSE(first.empty());
    auto recorded = sessionsWithBothEvents(first.back());
    ASSERT_EQ(recorded.size(), 1u) << first.back().dump();
    EXPECT_EQ(first.back()["ac"], "7f3c2a9e41b84d0c9a6e5b1d2c8f0e47");

    // Next launch: the start-up upload sends it again; this time it is taken.
    std::vector<json> second = run("wait 0.5\n", "success");
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(sessionsWithBothEvents(second.front()), recorded) << second.front().dump();

    // After that it is gone from the cache.
    std::vector<json> third = run("wait 0.5\n", "success");
    for (const json& document : third)
        EXPECT_TRUE(sessionsWithBothEvents(document).empty()) << document.dump();
}

}  // namespace
