#pragma once
// One run loop per thread. A loop carries timers (and the delayed calls made from them), work
// posted from other threads, and file-descriptor sources. Each pass runs the posted work, then
// the timers that are due in fire-date order (equal dates first in, first out), then waits on
// the descriptors until the next timer is due, work is posted, or a descriptor is ready.
//
// Threads: a loop runs only on its own thread. `post`, `addTimer`, `stop` and timer
// invalidation are safe from any thread; the descriptor sources (and their handles) are for the
// loop's own thread.
// Callbacks run on the loop's thread without any lock held, so they may add and remove sources.
//
// Timers and the limits of runUntilDate run on the monotonic clock (Clock.h): a step of the wall
// clock moves none of them.
//
// Under a manual clock a waiting loop never sleeps past a few real milliseconds, so it notices
// when another thread moves the clock; it never moves the clock itself.

#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSTimer.h"

class NSRunLoop : public NSObject {
  public:
    using FileDescriptorCallback = std::function<void(short revents)>;

    // A descriptor source on a loop, removed when its handle is destroyed or reset, so that no
    // owner can forget it. Move-only: one handle removes its source once. A default handle, and
    // one whose loop is gone, holds nothing.
    class FileDescriptorSource {
      public:
        FileDescriptorSource() = default;
        FileDescriptorSource(FileDescriptorSource&& other) noexcept;
        FileDescriptorSource& operator=(FileDescriptorSource&& other) noexcept;
        FileDescriptorSource(const FileDescriptorSource&) = delete;
        FileDescriptorSource& operator=(const FileDescriptorSource&) = delete;
        ~FileDescriptorSource();

        // The events (POLLIN, POLLOUT, ...) the source waits for from now on.
        void setEvents(short events);
        // Removes the source now; also from within its own callback.
        void reset();
        explicit operator bool() const { return id_ != 0; }

      private:
        friend class NSRunLoop;
        FileDescriptorSource(std::weak_ptr<NSRunLoop> loop, uint64_t id)
            : loop_(std::move(loop)), id_(id) {}
        std::weak_ptr<NSRunLoop> loop_;
        uint64_t id_ = 0;
    };

    ~NSRunLoop() override;
    NSRunLoop(const NSRunLoop&) = delete;
    NSRunLoop& operator=(const NSRunLoop&) = delete;

    // The current thread's loop, made on first use.
    static std::shared_ptr<NSRunLoop> currentRunLoop();
    // The main thread's loop (NSThread::isMainThread).
    static std::shared_ptr<NSRunLoop> mainRunLoop();

    void addTimer(const std::shared_ptr<NSTimer>& timer);

    // Runs `work` on this loop's thread at its next pass.
    void post(std::function<void()> work);
    // Runs `work` on this loop's thread and waits for it to finish; on the loop's own thread it
    // runs at once. The loop must be running (or about to run) for this to return.
    void postAndWait(std::function<void()> work);

    // `callback` runs on this loop when `fd` reports any of `events` (POLLIN, POLLOUT, ...),
    // until the handle goes.
    [[nodiscard]] FileDescriptorSource addFileDescriptor(int fd, short events,
                                                         FileDescriptorCallback callback);

    // Runs until no timer and no descriptor source is left, or `stop`.
    void run();
    // Runs until `date` (sources or not), or `stop`: for as long as `date` lies ahead when the
    // run starts.
    void runUntilDate(NSDate date);
    // Makes the innermost running `run`/`runUntilDate` return after the current callback.
    void stop();

    // One pass that does not wait: posted work, due timers, ready descriptors.
    void runPending();
    // The fire date of the earliest valid timer, if any, as the clocks read now.
    std::optional<NSDate> nextTimerFireDate() const;
    // The same on the monotonic clock (Clock::monotonic).
    std::optional<NSTimeInterval> nextTimerFireTime() const;
    bool hasSources() const;
    // Posted work waiting, or a timer whose fire date has come.
    bool hasDueWork() const;

    // Invalidates every timer and drops every source and posted work (test set-up).
    void removeAllSources();

    // Cancels delayed calls made by `performSelector` on this loop for `target` (and `selector`,
    // when it is not empty).
    void cancelPerformRequests(const void* target, const SelectorKey& selector);

  private:
    using SourceId = uint64_t;
    NSRunLoop();
    void setFileDescriptorEvents(SourceId id, short events);
    void removeFileDescriptor(SourceId id);
    struct FdSource {
        SourceId id;
        int fd;
        short events;
        std::shared_ptr<FileDescriptorCallback> callback;
    };

    // Runs one pass; waits at most until `deadline` (on the monotonic clock) when nothing is due.
    void runOnePass(std::optional<NSTimeInterval> deadline);
    bool runPostedWork();
    void runDueTimers();
    void waitForEvents(std::optional<NSTimeInterval> deadline);
    void wake();
    void forgetTimer(NSTimer* timer);
    // The calling thread is this loop's own.
    bool isOwnThread() const;
    friend class NSTimer;

    mutable std::mutex mutex_;
    // The loop's thread: the one that made it, but for the main loop, which any thread may make
    // first.
    std::thread::id thread_;
    bool main_ = false;
    int wakeFd_ = -1;
    std::vector<std::shared_ptr<NSTimer>> timers_;
    uint64_t nextSeq_ = 1;
    std::deque<std::function<void()>> posted_;
    std::vector<FdSource> fdSources_;
    SourceId nextSourceId_ = 1;
    std::atomic<int> stopRequests_{0};
};

// Delayed calls of a method on a target, on the current thread's loop. The loop retains the
// target until the call runs or is cancelled.
template <class T>
void performSelector(const std::shared_ptr<T>& target, void (T::*selector)(),
                     NSTimeInterval afterDelay) {
    NSRunLoop::currentRunLoop()->addTimer(NSTimer::delayedCall(
        afterDelay, [target, selector](NSTimer&) { ((*target).*selector)(); }, target.get(),
        SelectorKey::of(selector)));
}

// Cancels the delayed calls of `selector` on `target` made from the current thread.
template <class T>
void cancelPreviousPerformRequestsWithTarget(const T* target, void (T::*selector)()) {
    NSRunLoop::currentRunLoop()->cancelPerformRequests(target, SelectorKey::of(selector));
}
// Cancels every delayed call on `target` made from the current thread.
inline void cancelPreviousPerformRequestsWithTarget(const void* target) {
    NSRunLoop::currentRunLoop()->cancelPerformRequests(target, SelectorKey());
}

// Runs the method on the main thread. The target is not retained: when it is gone by then, the
// call is dropped. With `waitUntilDone` the caller waits (on the main thread it runs at once).
template <class T>
void performSelectorOnMainThread(const std::shared_ptr<T>& target, void (T::*selector)(),
                                 bool waitUntilDone) {
    std::weak_ptr<T> weak = target;
    auto work = [weak, selector] {
        if (auto t = weak.lock())
            ((*t).*selector)();
    };
    auto main = NSRunLoop::mainRunLoop();
    if (waitUntilDone)
        main->postAndWait(work);
    else
        main->post(work);
}
