#include "platform/QuartzCore/CADisplayLink.h"

#include <cmath>

#include "platform/Foundation/Clock.h"

namespace {
constexpr NSTimeInterval kRefreshInterval = 1.0 / CADisplayLink::kRefreshesPerSecond;
}

std::shared_ptr<CADisplayLink> CADisplayLink::displayLinkWithTarget(Action action) {
    return std::shared_ptr<CADisplayLink>(new CADisplayLink(std::move(action)));
}

void CADisplayLink::addToRunLoop(const std::shared_ptr<NSRunLoop>& runLoop) {
    {
        std::lock_guard lock(mutex_);
        if (added_ || !action_)
            return;
        added_ = true;
        loop_ = runLoop;
        start_ = Clock::current().monotonic();
    }
    scheduleNextRefresh();
}

void CADisplayLink::scheduleNextRefresh() {
    std::shared_ptr<NSRunLoop> loop;
    std::shared_ptr<NSTimer> timer;
    {
        std::lock_guard lock(mutex_);
        loop = loop_.lock();
        if (!action_ || !loop)
            return;
        // The refresh grid is fixed from the start; whole refreshes already past are skipped.
        const NSTimeInterval now = Clock::current().monotonic();
        // A refresh within rounding of `now` is the one that is running.
        const double refreshes = std::floor((now - start_) / kRefreshInterval + 1e-4) + 1;
        const NSTimeInterval next = start_ + kRefreshInterval * refreshes;
        // The loop holds the timer and the timer holds the link: that keeps the link alive.
        timer = NSTimer::timerWithTimeInterval(
            next - now, [self = retained(this)](NSTimer&) { self->refresh(); }, Value(), false);
        timer_ = timer;
    }
    loop->addTimer(timer);
}

void CADisplayLink::refresh() {
    std::shared_ptr<Action> action;
    {
        std::lock_guard lock(mutex_);
        action = action_;
    }
    if (!action)
        return;
    (*action)(*this);
    scheduleNextRefresh();
}

void CADisplayLink::invalidate() {
    std::shared_ptr<Action> action;  // released outside the lock: it may own the target
    std::shared_ptr<NSTimer> timer;
    {
        std::lock_guard lock(mutex_);
        action = std::move(action_);
        timer = timer_.lock();
    }
    if (timer)
        timer->invalidate();
}
