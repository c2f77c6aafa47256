#pragma once
// A thread with its own run loop (made on first use of NSRunLoop::currentRunLoop there), and the
// platform's one notion of the main thread.
//
// The main thread is the one that starts the process (it runs the static initialisers and
// `main`). Classes documented as main-thread-only check it at their entry points with
// `assertMainThread`, so that a call from another thread fails at its first run instead of as
// a race. The check is compiled in unless the build option TILVEX_THREAD_CHECKS is off.
//
// Threads: `join` may be called from any thread but the thread itself; it returns once the
// body has finished, and a second call returns at once. Dropping the last reference to an
// unjoined NSThread lets the thread run on, detached. The class operations are for any thread.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/Foundation/NSObject.h"

class NSThread : public NSObject {
  public:
    ~NSThread() override;

    // Starts `body` on a new thread at once.
    static std::shared_ptr<NSThread> detachNewThread(std::function<void()> body);
    static bool isMainThread();
    // Off the main thread: writes "<className>::<call> called off the main thread" to standard
    // error and aborts. Call sites pass __func__. Does nothing without thread checks.
    static void assertMainThread(const char* className, const char* call);

    void join();
    bool isFinished() const { return finished_->load(); }

  private:
    NSThread() = default;
    [[noreturn]] static void failOffMainThread(const char* className, const char* call);
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(false);
};

inline void NSThread::assertMainThread(const char* className, const char* call) {
#if TILVEX_THREAD_CHECKS
    if (!isMainThread())
        failOffMainThread(className, call);
#else
    (void)className, (void)call;
#endif
}

// Runs the method on a new thread; the thread retains `target` until the method returns.
template <class T>
std::shared_ptr<NSThread> performSelectorInBackground(const std::shared_ptr<T>& target,
                                                      void (T::*selector)()) {
    return NSThread::detachNewThread([target, selector] { ((*target).*selector)(); });
}
