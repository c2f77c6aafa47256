#pragma once
// A thread with its own run loop (made on first use of NSRunLoop::currentRunLoop there).
//
// Threads: `join` may be called from any thread but the thread itself; it returns once the
// body has finished, and a second call returns at once. Dropping the last reference to an
// unjoined NSThread lets the thread run on, detached.

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

    void join();
    bool isFinished() const { return finished_->load(); }

  private:
    NSThread() = default;
    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(false);
};

// Runs the method on a new thread; the thread retains `target` until the method returns.
template <class T>
std::shared_ptr<NSThread> performSelectorInBackground(const std::shared_ptr<T>& target,
                                                      void (T::*selector)()) {
    return NSThread::detachNewThread([target, selector] { ((*target).*selector)(); });
}
