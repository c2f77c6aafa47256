#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "analytics/RQKNConnect/RQKNRequest.h"
#include "analytics/RQKNConnect/RQKNSession.h"
#include "tests/analytics/AnalyticsTestHome.h"
#include "tests/support/RunLoopTesting.h"

namespace {

// A request whose start is only noted: the moment it started, and the clock moved on by the
// time a real start takes (0 models two starts within the very same instant).
class PacedRequest : public RQKNRequest {
  public:
    PacedRequest(std::shared_ptr<RQKNSession> session, ManualClock& clock,
                 std::vector<std::string>& starts, std::string name, double startTakes)
        : RQKNRequest(session),
          clock_(clock),
          starts_(starts),
          name_(std::move(name)),
          startTakes_(startTakes) {}

    void connect() override {
        setTimestamp(NSDate::date());
        starts_.push_back(name_);
        clock_.advance(startTakes_);
    }

  private:
    ManualClock& clock_;
    std::vector<std::string>& starts_;
    std::string name_;
    double startTakes_;
};

// The session keeps its pacing window in the user defaults: the fixture's home holds them.
class RQKNPacingTest : public AnalyticsTestHome {
  protected:
    std::shared_ptr<PacedRequest> make(const std::string& name, double startTakes = 0.001) {
        return std::make_shared<PacedRequest>(session, time.clock(), starts, name, startTakes);
    }
    // Sends each request through the session, in order.
    void send(const std::vector<std::string>& names) {
        for (const std::string& name : names) session->send(make(name));
    }
    double since(double start) const { return NSDate::date().timeIntervalSince1970() - start; }

    std::shared_ptr<RQKNSession> session = RQKNSession::initWithKey("key", "secret", {});
    std::vector<std::string> starts;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(RQKNPacingTest, ThreeStartAndTheFourthWaitsForTheWindowToRunOut) {
    const double t0 = time.clock().now();
    EXPECT_TRUE(session->performRequest(make("1"), true));
    EXPECT_TRUE(session->performRequest(make("2"), true));
    EXPECT_TRUE(session->performRequest(make("3"), true));
    EXPECT_FALSE(session->performRequest(make("4"), true));
    EXPECT_EQ(starts, (Names{"1", "2", "3"}));
    EXPECT_EQ(session->queuedRequestCount(), 1u);
    EXPECT_EQ(session->lastRequestTime()->timeIntervalSince1970(), t0);

    time.advance(2.0 - since(t0) - 0.0001);
    EXPECT_EQ(starts.size(), 3u);
    time.advance(0.0001);
    EXPECT_EQ(starts, (Names{"1", "2", "3", "4"}));
    EXPECT_EQ(session->queuedRequestCount(), 0u);
    EXPECT_FALSE(session->hasPendingRequestTimer());
    // The queued request opened the second window.
    EXPECT_DOUBLE_EQ(session->lastRequestTime()->timeIntervalSince1970(), t0 + 2.0);
    EXPECT_EQ(session->requestBurstCount(), 1);
}

TEST_F(RQKNPacingTest, SevenAtOnceGoThreeThenThreeThenOne) {
    const double t0 = time.clock().now();
    send({"1", "2", "3", "4", "5", "6", "7"});
    EXPECT_EQ(starts, (Names{"1", "2", "3"}));
    EXPECT_EQ(session->queuedRequestCount(), 4u);

    time.advance(2.0 - since(t0));
    EXPECT_EQ(starts, (Names{"1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(session->queuedRequestCount(), 1u);
    EXPECT_TRUE(session->hasPendingRequestTimer());

    time.advance(4.0 - since(t0) - 0.0001);
    EXPECT_EQ(starts.size(), 6u);
    time.advance(0.0001);
    EXPECT_EQ(starts, (Names{"1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_EQ(session->queuedRequestCount(), 0u);
    EXPECT_FALSE(session->hasPendingRequestTimer());
}

TEST_F(RQKNPacingTest, EachRefusalRaisesTheCountUntilANewWindowOpens) {
    send({"1", "2", "3"});
    ASSERT_EQ(session->requestBurstCount(), 3);
    // Without enqueue a refused request is neither queued nor started: the caller keeps it.
    for (int expected : {4, 5, 6}) {
        EXPECT_FALSE(session->performRequest(make("refused"), false));
        EXPECT_EQ(session->requestBurstCount(), expected);
    }
    EXPECT_EQ(starts.size(), 3u);
    EXPECT_EQ(session->queuedRequestCount(), 0u);
    EXPECT_FALSE(session->hasPendingRequestTimer());

    time.advance(2.0);
    EXPECT_TRUE(session->performRequest(make("next"), false));
    EXPECT_EQ(session->requestBurstCount(), 1);
}

TEST_F(RQKNPacingTest, TheWindowBoundaryBelongsToTheNewWindow) {
    struct Case {
        const char* name;
        double after;  // seconds after the window's start at which the next request comes
        bool newWindow;
    };
    const std::vector<Case> cases = {
        {"just inside", 1.999, false},
        {"exactly 2.0 s", 2.0, true},
        {"later", 5.0, true},
        // The same instant as the window's start: a time difference of 0 is no window.
        {"exactly 0", 0.0, true},
    };
    for (const Case& c : cases) {
        auto session = RQKNSession::initWithKey("key", {}, {});
        const double start = time.clock().now();
        session->send(make("first", 0.0));
        time.clock().set(start + c.after);
        EXPECT_TRUE(session->performRequest(make(c.name, 0.0), false)) << c.name;
        EXPECT_EQ(session->requestBurstCount(), c.newWindow ? 1 : 2) << c.name;
        EXPECT_EQ(session->lastRequestTime()->timeIntervalSince1970(),
                  c.newWindow ? start + c.after : start)
            << c.name;
        time.clock().set(start + 100.0);
    }
}

// The window is timed on the monotonic clock: a step of the wall clock forward past the window's
// end does not end it, and a step back does not hold the queue for the length of the step.
TEST_F(RQKNPacingTest, AStepOfTheWallClockNeitherEndsNorExtendsTheWindow) {
    auto& clock = time.clock();
    double start = clock.monotonic();
    send({"1", "2", "3"});
    clock.stepWall(3600.0);
    send({"4"});
    EXPECT_EQ(starts, (Names{"1", "2", "3"})) << "the step ended the window";
    time.advance(2.0 - (clock.monotonic() - start));
    EXPECT_EQ(starts, (Names{"1", "2", "3", "4"}));

    start = clock.monotonic();  // "4" opened the next window
    clock.stepWall(-7200.0);
    send({"5", "6", "7"});
    EXPECT_EQ(starts.back(), "6");
    time.advance(2.0 - (clock.monotonic() - start));
    EXPECT_EQ(starts.back(), "7") << "the step held the queue";
}

TEST_F(RQKNPacingTest, OneFlushTimerAtATime) {
    const double t0 = time.clock().now();
    send({"1", "2", "3", "4"});
    ASSERT_TRUE(session->hasPendingRequestTimer());
    const auto fire = NSRunLoop::currentRunLoop()->nextTimerFireDate();
    time.advance(1.0);
    send({"5", "6"});
    EXPECT_EQ(session->queuedRequestCount(), 3u);
    EXPECT_EQ(NSRunLoop::currentRunLoop()->nextTimerFireDate(), fire);

    time.advance(2.0 - since(t0));
    EXPECT_EQ(starts, (Names{"1", "2", "3", "4", "5", "6"}));
    EXPECT_FALSE(session->hasPendingRequestTimer());
    EXPECT_FALSE(NSRunLoop::currentRunLoop()->nextTimerFireDate());
}

TEST_F(RQKNPacingTest, ALateSendOpensAWindowAheadOfTheQueue) {
    const double t0 = time.clock().now();
    send({"1", "2", "3", "q1", "q2", "q3"});
    ASSERT_EQ(session->queuedRequestCount(), 3u);
    // The window has run out but the loop has not yet run the pending timer.
    time.clock().set(t0 + 2.5);
    send({"late"});
    EXPECT_EQ(starts.back(), "late");
    EXPECT_EQ(session->requestBurstCount(), 1);

    // The flush starts what the new window still allows and waits for its end for the rest.
    time.runDue();
    EXPECT_EQ(starts, (Names{"1", "2", "3", "late", "q1", "q2"}));
    EXPECT_EQ(session->queuedRequestCount(), 1u);
    ASSERT_TRUE(session->hasPendingRequestTimer());
    EXPECT_NEAR(NSRunLoop::currentRunLoop()->nextTimerFireDate()->timeIntervalSince1970(), t0 + 4.5,
                1e-6);
    time.advance(4.5 - since(t0));
    EXPECT_EQ(starts.back(), "q3");
}

TEST_F(RQKNPacingTest, QueuedRequestsBelongToTheSession) {
    std::weak_ptr<PacedRequest> queued;
    {
        send({"1", "2", "3"});
        auto request = make("4");
        queued = request;
        session->send(request);
    }
    EXPECT_FALSE(queued.expired());
    // Logout leaves the queue alone.
    session->logout();
    time.advance(2.0);
    EXPECT_EQ(starts.back(), "4");
}
