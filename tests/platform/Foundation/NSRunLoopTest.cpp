// CTest labels: threads

#include "platform/Foundation/NSRunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/Foundation/NSThread.h"
#include "tests/support/RunLoopTesting.h"

namespace {

class RunLoopTest : public ::testing::Test {
  protected:
    ManualClockScope time;
    std::vector<std::string> log;
    NSTimer::Action record(std::string what) {
        return [this, what](NSTimer&) { log.push_back(what); };
    }
};

TEST_F(RunLoopTest, DueTimersRunInFireDateOrderEqualDatesFirstInFirstOut) {
    auto loop = NSRunLoop::currentRunLoop();
    NSDate base = NSDate::date();
    struct Case {
        double at;
        const char* name;
    };
    for (Case c : {Case{2.0, "c"}, Case{1.0, "a"}, Case{1.0, "b"}, Case{0.5, "first"}})
        loop->addTimer(NSTimer::timerWithFireDate(base.dateByAddingTimeInterval(c.at), 0,
                                                  record(c.name), {}, false));
    time.advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "a", "b"}));
    time.advance(1.0);
    EXPECT_EQ(log.back(), "c");
    EXPECT_FALSE(loop->hasSources());
}

TEST_F(RunLoopTest, RepeatingTimerKeepsItsScheduleAndSkipsMissedFires) {
    int fires = 0;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(
        0.5, [&](NSTimer&) { ++fires; }, {}, true);
    NSDate first = timer->fireDate();
    time.advance(1.0);
    EXPECT_EQ(fires, 2);
    EXPECT_DOUBLE_EQ(timer->fireDate().timeIntervalSinceDate(first), 1.0);
    // The loop does not run for 1.7 s: the missed fire dates are skipped, one fire happens.
    time.clock().advance(1.7);
    time.runDue();
    EXPECT_EQ(fires, 3);
    EXPECT_DOUBLE_EQ(timer->fireDate().timeIntervalSinceDate(first), 2.5);
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    time.advance(5.0);
    EXPECT_EQ(fires, 3);
    timer->invalidate();  // a second call does nothing
}

TEST_F(RunLoopTest, OneShotTimerIsInvalidAfterItFiresAndReleasesItsTarget) {
    auto target = std::make_shared<int>(0);
    std::weak_ptr<int> watch = target;
    auto timer = NSTimer::scheduledTimerWithTimeInterval(
        1.0, [target](NSTimer& t) { *target = t.isValid() ? 1 : -1; }, {}, false);
    target.reset();
    EXPECT_FALSE(watch.expired()) << "a scheduled timer keeps its target alive";
    time.advance(1.0);
    EXPECT_FALSE(timer->isValid());
    EXPECT_TRUE(watch.expired());
}

struct Blinker : NSObject {
    std::vector<std::string> calls;
    void red() { calls.push_back("red"); }
    void black() { calls.push_back("black"); }
};

TEST_F(RunLoopTest, DelayedCallsAreCancelledByTargetAndMethod) {
    auto a = std::make_shared<Blinker>();
    auto b = std::make_shared<Blinker>();
    performSelector(a, &Blinker::red, 0.5);
    performSelector(a, &Blinker::black, 0.5);
    performSelector(b, &Blinker::red, 0.5);
    cancelPreviousPerformRequestsWithTarget(a.get(), &Blinker::red);
    time.advance(0.5);
    EXPECT_EQ(a->calls, (std::vector<std::string>{"black"}));
    EXPECT_EQ(b->calls, (std::vector<std::string>{"red"}));

    performSelector(a, &Blinker::red, 1.0);
    performSelector(a, &Blinker::black, 2.0);
    cancelPreviousPerformRequestsWithTarget(a.get());
    time.advance(3.0);
    EXPECT_EQ(a->calls.size(), 1u);
}

TEST_F(RunLoopTest, DelayedCallThatReschedulesItselfRunsOncePerDelay) {
    struct Ticker : NSObject {
        int ticks = 0;
        void tick() {
            ++ticks;
            performSelector(retained(this), &Ticker::tick, 0.5);
        }
    };
    auto t = std::make_shared<Ticker>();
    performSelector(t, &Ticker::tick, 0.0);
    time.advance(2.0);
    EXPECT_EQ(t->ticks, 5);  // at 0, 0.5, 1.0, 1.5, 2.0
}

TEST_F(RunLoopTest, RunReturnsWhenTheLastSourceIsGone) {
    auto loop = NSRunLoop::currentRunLoop();
    Clock::install(nullptr);  // real time, short delays
    int fired = 0;
    NSTimer::scheduledTimerWithTimeInterval(
        0.01, [&](NSTimer&) { ++fired; }, {}, false);
    NSTimer::scheduledTimerWithTimeInterval(
        0.02, [&](NSTimer&) { ++fired; }, {}, false);
    loop->run();
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(loop->hasSources());
}

TEST_F(RunLoopTest, InvalidateFromAnotherThreadEndsRun) {
    Clock::install(nullptr);
    std::atomic<int> ticks{0};
    std::shared_ptr<NSTimer> timer;
    std::atomic<bool> ready{false};
    auto worker = NSThread::detachNewThread([&] {
        timer = NSTimer::scheduledTimerWithTimeInterval(
            0.001, [&](NSTimer&) { ++ticks; }, {}, true);
        ready = true;
        NSRunLoop::currentRunLoop()->run();
    });
    while (!ready || ticks < 3) std::this_thread::yield();
    timer->invalidate();
    worker->join();
    EXPECT_TRUE(worker->isFinished());
    worker->join();  // a second join returns at once
}

TEST_F(RunLoopTest, WorkPostedFromAnotherThreadRunsOnTheLoopThread) {
    auto main = NSRunLoop::mainRunLoop();
    std::thread::id ranOn;
    std::atomic<bool> waited{false};
    auto poster = NSThread::detachNewThread([&] {
        main->postAndWait([&] { ranOn = std::this_thread::get_id(); });
        waited = true;
    });
    while (!waited) main->runPending();
    poster->join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

struct Receiver : NSObject {
    int calls = 0;
    void update() { ++calls; }
};

TEST_F(RunLoopTest, PerformOnMainThreadDropsTheCallWhenTheTargetIsGone) {
    auto alive = std::make_shared<Receiver>();
    auto gone = std::make_shared<Receiver>();
    std::weak_ptr<Receiver> watch = gone;
    auto poster = NSThread::detachNewThread([alive, weakGone = std::weak_ptr<Receiver>(gone)] {
        performSelectorOnMainThread(alive, &Receiver::update, false);
        if (auto g = weakGone.lock())
            performSelectorOnMainThread(g, &Receiver::update, false);
    });
    poster->join();
    gone.reset();
    EXPECT_TRUE(watch.expired()) << "a posted call does not retain its target";
    time.runDue();
    EXPECT_EQ(alive->calls, 1);
}

TEST_F(RunLoopTest, FileDescriptorSourceCallsBackAndCanRemoveItself) {
    auto loop = NSRunLoop::currentRunLoop();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string got;
    NSRunLoop::FileDescriptorSource source;
    source = loop->addFileDescriptor(fds[0], POLLIN, [&](short) {
        char buf[16];
        auto n = read(fds[0], buf, sizeof buf);
        got.append(buf, n > 0 ? static_cast<size_t>(n) : 0);
        source.reset();
    });
    ASSERT_EQ(write(fds[1], "hi", 2), 2);
    loop->runPending();
    EXPECT_EQ(got, "hi");
    EXPECT_FALSE(loop->hasSources());
    close(fds[0]);
    close(fds[1]);
}

// The handles' owners: a source lives exactly as long as the handle that was last moved into.
TEST_F(RunLoopTest, AFileDescriptorSourceGoesWithTheLastHandleItWasMovedTo) {
    auto loop = NSRunLoop::currentRunLoop();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);  // stays readable: the callback does not read it
    int calls = 0;
    {
        NSRunLoop::FileDescriptorSource first =
            loop->addFileDescriptor(fds[0], POLLIN, [&](short) { ++calls; });
        NSRunLoop::FileDescriptorSource second = std::move(first);
        EXPECT_FALSE(first);
        first = NSRunLoop::FileDescriptorSource();  // the moved-from handle removes nothing
        loop->runPending();
        EXPECT_EQ(calls, 1);
        NSRunLoop::FileDescriptorSource third;
        third = std::move(second);
        loop->runPending();
        EXPECT_EQ(calls, 2);
    }
    EXPECT_FALSE(loop->hasSources());
    loop->runPending();
    EXPECT_EQ(calls, 2);
    close(fds[0]);
    close(fds[1]);
}

TEST_F(RunLoopTest, StopEndsRunUntilDateAfterTheCurrentCallback) {
    auto loop = NSRunLoop::currentRunLoop();
    int later = 0;
    NSTimer::scheduledTimerWithTimeInterval(
        0.0, [&](NSTimer&) { loop->stop(); }, {}, false);
    NSTimer::scheduledTimerWithTimeInterval(
        0.0, [&](NSTimer&) { ++later; }, {}, false);
    loop->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(3600));
    EXPECT_EQ(later, 0);
}

// Timers, delayed calls and repeating timers wait on the monotonic clock: a step of the wall clock
// (a correction, a person setting the time, a resume), forward past every fire date or back past
// the start, fires nothing early and holds nothing back, while dates and fire dates follow it.
TEST_F(RunLoopTest, AStepOfTheWallClockMovesNoTimer) {
    auto loop = NSRunLoop::currentRunLoop();
    auto blinker = std::make_shared<Blinker>();
    int repeats = 0;
    auto oneShot = NSTimer::scheduledTimerWithTimeInterval(2.0, record("one-shot"), {}, false);
    loop->addTimer(NSTimer::timerWithFireDate(NSDate::dateWithTimeIntervalSinceNow(2.0), 0,
                                              record("dated"), {}, false));
    auto repeating = NSTimer::scheduledTimerWithTimeInterval(
        1.0, [&](NSTimer&) { ++repeats; }, {}, true);
    performSelector(blinker, &Blinker::red, 2.0);
    for (double step : {3600.0, -7200.0}) {
        SCOPED_TRACE(step);
        const NSDate before = NSDate::date();
        time.clock().stepWall(step);
        EXPECT_DOUBLE_EQ(NSDate::date().timeIntervalSinceDate(before), step);
        EXPECT_NEAR(oneShot->fireDate().timeIntervalSinceNow(), 2.0, 1e-6);
        time.runDue();
        EXPECT_TRUE(log.empty());
        EXPECT_EQ(repeats, 0);
        EXPECT_TRUE(blinker->calls.empty());
    }
    time.advance(1.0);
    EXPECT_EQ(repeats, 1);
    EXPECT_TRUE(log.empty());
    time.advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"one-shot", "dated"}));
    EXPECT_EQ(blinker->calls, (std::vector<std::string>{"red"}));
    EXPECT_EQ(repeats, 2);
    repeating->invalidate();
}

// The limit of runUntilDate is a wait from when the run starts: a step of the wall clock past it
// during the run does not end the run early.
TEST_F(RunLoopTest, AStepOfTheWallClockDuringRunUntilDateDoesNotEndIt) {
    auto loop = NSRunLoop::currentRunLoop();
    NSTimer::scheduledTimerWithTimeInterval(
        0.1, [&](NSTimer&) { time.clock().stepWall(3600); }, {}, false);
    const NSTimeInterval start = time.clock().monotonic();
    std::atomic<bool> done{false};
    // Time passes on another thread, as it does for a waiting loop.
    std::thread passing([&] {
        while (!done) {
            time.clock().advance(0.01);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    loop->runUntilDate(NSDate::dateWithTimeIntervalSinceNow(1.0));
    done = true;
    passing.join();
    EXPECT_GE(time.clock().monotonic() - start, 1.0);
}

}  // namespace
