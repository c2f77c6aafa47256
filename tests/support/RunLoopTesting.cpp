#include "tests/support/RunLoopTesting.h"

#include <algorithm>

ManualClockScope::ManualClockScope() : clock_(std::make_shared<ManualClock>()) {
    NSRunLoop::currentRunLoop()->removeAllSources();
    Clock::install(clock_);
}

ManualClockScope::~ManualClockScope() {
    NSRunLoop::currentRunLoop()->removeAllSources();
    Clock::install(nullptr);
}

void ManualClockScope::runDue() {
    auto loop = NSRunLoop::currentRunLoop();
    // Bounded, so that a zero-interval repeating timer cannot hang a test.
    for (int i = 0; i < 100000; ++i) {
        loop->runPending();
        if (!loop->hasDueWork())
            return;
    }
}

void ManualClockScope::advance(NSTimeInterval seconds) {
    auto loop = NSRunLoop::currentRunLoop();
    const NSTimeInterval target = clock_->monotonic() + seconds;
    runDue();
    for (;;) {
        auto next = loop->nextTimerFireTime();
        if (!next || *next > target)
            break;
        clock_->advance(*next - clock_->monotonic());
        runDue();
    }
    clock_->advance(target - clock_->monotonic());
    runDue();
}
