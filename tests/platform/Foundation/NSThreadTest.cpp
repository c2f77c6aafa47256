// CTest labels: threads

#include "platform/Foundation/NSThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Foundation/NSRunLoop.h"
#include "tests/support/ThreadChecks.h"

namespace {

TEST(MainThread, IsTheThreadThatStartedTheProcessAndNoOther) {
    EXPECT_TRUE(NSThread::isMainThread());
    bool onWorker = true;
    NSThread::detachNewThread([&] { onWorker = NSThread::isMainThread(); })->join();
    EXPECT_FALSE(onWorker);
}

// Run alone (as CTest runs each test), the worker is the first to ask for the main loop.
TEST(MainThread, OwnsTheMainLoopWhicheverThreadAsksForItFirst) {
    std::thread::id ranOn;
    std::atomic<bool> made{false};
    std::atomic<bool> done{false};
    auto worker = NSThread::detachNewThread([&] {
        auto main = NSRunLoop::mainRunLoop();
        made = true;
        main->postAndWait([&] { ranOn = std::this_thread::get_id(); });
        done = true;
    });
    while (!made) std::this_thread::yield();
    EXPECT_EQ(NSRunLoop::currentRunLoop(), NSRunLoop::mainRunLoop());
    while (!done) NSRunLoop::currentRunLoop()->runPending();
    worker->join();
    EXPECT_EQ(ranOn, std::this_thread::get_id()) << "the worker ran it itself, as its own loop's";
}

TEST(MainThread, AssertionEndsTheProcessNamingTheClassAndTheCall) {
    NSThread::assertMainThread("Widget", "poke");  // returns on the main thread
    expectFailsOffMainThread("Widget::poke", [] { NSThread::assertMainThread("Widget", "poke"); });
}

}  // namespace
