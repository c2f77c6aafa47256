#include "platform/Foundation/NSThread.h"

#include "platform/Foundation/NSRunLoop.h"

NSThread::~NSThread() {
    if (thread_.joinable())
        thread_.detach();
}

std::shared_ptr<NSThread> NSThread::detachNewThread(std::function<void()> body) {
    auto thread = std::shared_ptr<NSThread>(new NSThread());
    thread->thread_ = std::thread([body = std::move(body), finished = thread->finished_] {
        body();
        finished->store(true);
    });
    return thread;
}

bool NSThread::isMainThread() {
    return NSRunLoop::isMainThread();
}

void NSThread::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}
