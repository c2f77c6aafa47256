#pragma once
// A timer tied to the display's refresh: 60 refreshes per second on the run loop it is added to,
// counted from the moment it is added. A refresh that passes while the action runs is skipped;
// the next call comes at the first refresh after the action has returned.
//
// Ownership: the run loop holds the display link while it is on it, and the link holds its
// action (and so its target) until it is invalidated.
//
// Threads: make it on any thread; `addToRunLoop` once, from any thread (a second call, or a call
// after `invalidate`, does nothing). The action runs on that loop's thread. `invalidate` is safe
// from any thread: no new call starts after it returns (one already under way finishes), and
// the loop's `run` returns once it has no other source. A second `invalidate` does nothing.

#include <functional>
#include <memory>
#include <mutex>

#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSTimer.h"

class CADisplayLink : public NSObject {
  public:
    static constexpr int kRefreshesPerSecond = 60;
    using Action = std::function<void(CADisplayLink&)>;

    static std::shared_ptr<CADisplayLink> displayLinkWithTarget(Action action);
    // The link retains `target` until it is invalidated.
    template <class T>
    static std::shared_ptr<CADisplayLink> displayLinkWithTarget(
        const std::shared_ptr<T>& target, void (T::*selector)(CADisplayLink*)) {
        return displayLinkWithTarget(
            [target, selector](CADisplayLink& link) { ((*target).*selector)(&link); });
    }

    void addToRunLoop(const std::shared_ptr<NSRunLoop>& runLoop);
    void invalidate();

  private:
    explicit CADisplayLink(Action action) : action_(std::make_shared<Action>(std::move(action))) {}
    // Puts the one-shot timer of the first refresh after now on the loop.
    void scheduleNextRefresh();
    void refresh();

    std::mutex mutex_;
    std::shared_ptr<Action> action_;  // null once invalidated
    std::weak_ptr<NSRunLoop> loop_;
    std::weak_ptr<NSTimer> timer_;  // the pending refresh; the loop owns it
    NSTimeInterval start_ = 0;      // clock time of refresh 0
    bool added_ = false;
};
