#pragma once
// A timer of a run loop. A timer keeps its action (and so its target) alive until it is
// invalidated; a one-shot timer invalidates itself after it fires. A repeating timer is
// rescheduled from its fire date, not from when it ran; fire dates it missed are skipped.
// A timer runs on the monotonic clock (Clock.h): a fire date given is turned into a wait from
// now when the timer is made, and a step of the wall clock afterwards moves no timer.
//
// Threads: create and add on any thread; `invalidate` may be called from any thread and takes
// effect before the loop's next pass (an action already running finishes). A second
// `invalidate` does nothing.

#include <functional>
#include <memory>
#include <mutex>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/Value.h"

class NSRunLoop;

class NSTimer : public NSObject {
  public:
    using Action = std::function<void(NSTimer&)>;

    // A timer that is not yet on a run loop: add it with NSRunLoop::addTimer.
    static std::shared_ptr<NSTimer> timerWithFireDate(NSDate fireDate, NSTimeInterval interval,
                                                      Action action, Value userInfo, bool repeats);
    static std::shared_ptr<NSTimer> timerWithTimeInterval(NSTimeInterval interval, Action action,
                                                          Value userInfo, bool repeats);
    // Made and added to the current thread's run loop.
    static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(NSTimeInterval interval,
                                                                   Action action, Value userInfo,
                                                                   bool repeats);

    // Target-action forms: the timer retains `target` until it is invalidated.
    template <class T>
    static Action action(const std::shared_ptr<T>& target, void (T::*selector)(NSTimer*)) {
        return [target, selector](NSTimer& t) { ((*target).*selector)(&t); };
    }
    template <class T>
    static Action action(const std::shared_ptr<T>& target, void (T::*selector)()) {
        return [target, selector](NSTimer&) { ((*target).*selector)(); };
    }

    // A one-shot timer for a delayed call of `selector` on `target`, cancellable by both.
    static std::shared_ptr<NSTimer> delayedCall(NSTimeInterval delay, Action action,
                                                const void* target, SelectorKey selector);

    void invalidate();
    bool isValid() const;
    // Runs the action now, outside the schedule; a one-shot timer is then invalidated.
    void fire();

    // The wall-clock date at which the timer will fire, as the clocks read now.
    NSDate fireDate() const;
    bool repeats() const { return repeats_; }
    const Value& userInfo() const { return userInfo_; }

  private:
    friend class NSRunLoop;
    NSTimer(NSTimeInterval fireTime, NSTimeInterval interval, Action action, Value userInfo,
            bool repeats);

    mutable std::mutex mutex_;
    NSTimeInterval fireTime_;  // on Clock::monotonic()
    NSTimeInterval interval_;
    std::shared_ptr<Action> action_;  // null once invalidated
    Value userInfo_;
    bool repeats_;
    // Set while on a run loop; `seq_` orders timers of equal fire dates, first in first out.
    std::weak_ptr<NSRunLoop> loop_;
    uint64_t seq_ = 0;
    // Identifies a delayed call for cancelling; empty for plain timers.
    const void* performTarget_ = nullptr;
    SelectorKey performSelector_;
};
