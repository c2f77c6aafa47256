// CTest labels: threads

#include "platform/QuartzCore/CADisplayLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Foundation/NSThread.h"
#include "tests/support/RunLoopTesting.h"

namespace {

constexpr NSTimeInterval kRefresh = 1.0 / 60;

class DisplayLinkTest : public ::testing::Test {
  protected:
    ManualClockScope time;
    NSTimeInterval start = time.clock().monotonic();
    // Refresh numbers (since `start`) at which the action ran.
    std::vector<long> calls;
    long refreshNow() { return std::lround((time.clock().monotonic() - start) / kRefresh); }
};

TEST_F(DisplayLinkTest, RunsSixtyTimesPerSecondFromWhenItIsAdded) {
    auto link = CADisplayLink::displayLinkWithTarget(
        [&](CADisplayLink&) { calls.push_back(refreshNow()); });
    link->addToRunLoop(NSRunLoop::currentRunLoop());
    time.advance(1.0);
    ASSERT_EQ(calls.size(), 60u);
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i], static_cast<long>(i) + 1);
    link->invalidate();
    time.advance(1.0);
    EXPECT_EQ(calls.size(), 60u);
    EXPECT_FALSE(NSRunLoop::currentRunLoop()->hasSources());
}

// The refresh grid is kept on the monotonic clock: steps of the wall clock, forward and back,
// neither skip refreshes nor hold them back.
TEST_F(DisplayLinkTest, StepsOfTheWallClockKeepTheRefreshGrid) {
    auto link = CADisplayLink::displayLinkWithTarget(
        [&](CADisplayLink&) { calls.push_back(refreshNow()); });
    link->addToRunLoop(NSRunLoop::currentRunLoop());
    for (double step : {0.0, 3600.0, -7200.0}) {
        time.clock().stepWall(step);
        time.advance(0.5);
    }
    ASSERT_EQ(calls.size(), 90u);
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i], static_cast<long>(i) + 1);
    link->invalidate();
}

TEST_F(DisplayLinkTest, RefreshesThatPassDuringTheActionAreSkipped) {
    auto link = CADisplayLink::displayLinkWithTarget([&](CADisplayLink&) {
        calls.push_back(refreshNow());
        // The second call is slow: it lasts until 4.3, over refreshes 3 and 4.
        if (calls.size() == 2)
            time.clock().advance(2.3 * kRefresh);
    });
    link->addToRunLoop(NSRunLoop::currentRunLoop());
    time.advance(7.2 * kRefresh);
    // Not a late call at 4.3 for the missed refreshes: the next is refresh 5.
    EXPECT_EQ(calls, (std::vector<long>{1, 2, 5, 6, 7}));
    link->invalidate();
}

TEST_F(DisplayLinkTest, ASecondAddAndAnAddAfterInvalidateDoNothing) {
    auto link = CADisplayLink::displayLinkWithTarget([&](CADisplayLink&) { calls.push_back(0); });
    link->addToRunLoop(NSRunLoop::currentRunLoop());
    link->addToRunLoop(NSRunLoop::currentRunLoop());
    time.advance(0.5);
    EXPECT_EQ(calls.size(), 30u);
    link->invalidate();
    link->invalidate();

    auto late = CADisplayLink::displayLinkWithTarget([&](CADisplayLink&) { calls.push_back(0); });
    late->invalidate();
    late->addToRunLoop(NSRunLoop::currentRunLoop());
    time.advance(0.5);
    EXPECT_EQ(calls.size(), 30u);
    EXPECT_FALSE(NSRunLoop::currentRunLoop()->hasSources());
}

struct Target : NSObject {
    explicit Target(int& pictures) : pictures(pictures) {}
    int& pictures;
    void takePicture(CADisplayLink* link) {
        if (++pictures == 3)
            link->invalidate();  // from inside its own action
    }
};

TEST_F(DisplayLinkTest, HoldsItsTargetUntilInvalidated) {
    int pictures = 0;
    auto target = std::make_shared<Target>(pictures);
    std::weak_ptr<Target> watch = target;
    auto link = CADisplayLink::displayLinkWithTarget(target, &Target::takePicture);
    std::weak_ptr<CADisplayLink> watchLink = link;
    link->addToRunLoop(NSRunLoop::currentRunLoop());
    link.reset();
    target.reset();
    EXPECT_FALSE(watch.expired());  // the loop keeps the link, the link its target
    time.advance(1.0);
    EXPECT_EQ(pictures, 3);
    EXPECT_FALSE(NSRunLoop::currentRunLoop()->hasSources());
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(watchLink.expired());
}

TEST(DisplayLinkThreadTest, InvalidateFromAnotherThreadEndsThatLoopsRun) {
    // The capture thread's life: a link on its own loop, run until another thread invalidates.
    std::mutex mutex;
    std::condition_variable changed;
    std::shared_ptr<CADisplayLink> link;
    int calls = 0;
    auto thread = NSThread::detachNewThread([&] {
        auto made = CADisplayLink::displayLinkWithTarget([&](CADisplayLink&) {
            std::lock_guard lock(mutex);
            ++calls;
            changed.notify_all();
        });
        made->addToRunLoop(NSRunLoop::currentRunLoop());
        {
            std::lock_guard lock(mutex);
            link = made;
        }
        changed.notify_all();
        NSRunLoop::currentRunLoop()->run();
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return calls >= 3; }));
    }
    link->invalidate();
    thread->join();  // returns only because `run` did
    EXPECT_TRUE(thread->isFinished());
}

}  // namespace
