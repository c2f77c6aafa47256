#include "platform/Foundation/NSTimer.h"

#include "platform/Foundation/NSRunLoop.h"

NSTimer::NSTimer(NSTimeInterval fireTime, NSTimeInterval interval, Action action, Value userInfo,
                 bool repeats)
    : fireTime_(fireTime),
      // As on the phone, a repeating interval of 0 or less means 0.1 ms.
      interval_(repeats && interval <= 0 ? 0.0001 : interval),
      action_(std::make_shared<Action>(std::move(action))),
      userInfo_(std::move(userInfo)),
      repeats_(repeats) {}

std::shared_ptr<NSTimer> NSTimer::timerWithFireDate(NSDate fireDate, NSTimeInterval interval,
                                                    Action action, Value userInfo, bool repeats) {
    const NSTimeInterval fireTime = Clock::current().monotonic() + fireDate.timeIntervalSinceNow();
    return std::shared_ptr<NSTimer>(
        new NSTimer(fireTime, interval, std::move(action), std::move(userInfo), repeats));
}

std::shared_ptr<NSTimer> NSTimer::timerWithTimeInterval(NSTimeInterval interval, Action action,
                                                        Value userInfo, bool repeats) {
    const NSTimeInterval fireTime = Clock::current().monotonic() + (interval > 0 ? interval : 0);
    return std::shared_ptr<NSTimer>(
        new NSTimer(fireTime, interval, std::move(action), std::move(userInfo), repeats));
}

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(NSTimeInterval interval,
                                                                 Action action, Value userInfo,
                                                                 bool repeats) {
    auto timer = timerWithTimeInterval(interval, std::move(action), std::move(userInfo), repeats);
    NSRunLoop::currentRunLoop()->addTimer(timer);
    return timer;
}

std::shared_ptr<NSTimer> NSTimer::delayedCall(NSTimeInterval delay, Action action,
                                              const void* target, SelectorKey selector) {
    auto timer = timerWithTimeInterval(delay, std::move(action), Value(), false);
    timer->performTarget_ = target;
    timer->performSelector_ = std::move(selector);
    return timer;
}

void NSTimer::invalidate() {
    std::shared_ptr<Action> action;  // released outside the lock: it may own the target
    std::shared_ptr<NSRunLoop> loop;
    {
        std::lock_guard lock(mutex_);
        action = std::move(action_);
        loop = loop_.lock();
        loop_.reset();
    }
    if (loop)
        loop->forgetTimer(this);
}

bool NSTimer::isValid() const {
    std::lock_guard lock(mutex_);
    return action_ != nullptr;
}

void NSTimer::fire() {
    std::shared_ptr<Action> action;
    {
        std::lock_guard lock(mutex_);
        action = action_;
    }
    if (!action)
        return;
    auto keep = retained(this);  // the action may drop the last other reference
    (*action)(*this);
    if (!repeats_)
        invalidate();
}

NSDate NSTimer::fireDate() const {
    std::lock_guard lock(mutex_);
    return NSDate::dateWithTimeIntervalSinceNow(fireTime_ - Clock::current().monotonic());
}
