#include "platform/Foundation/NSThread.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Set by the first caller; the initialiser below makes that the thread that loads the program,
// whatever order the static initialisers of other files run in.
std::thread::id mainThreadId() {
    static const std::thread::id id = std::this_thread::get_id();
    return id;
}
[[maybe_unused]] const std::thread::id gMainThreadAtLoad = mainThreadId();

}  // namespace

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
    return std::this_thread::get_id() == mainThreadId();
}

void NSThread::failOffMainThread(const char* className, const char* call) {
    std::fprintf(stderr, "%s::%s called off the main thread\n", className, call);
    std::abort();
}

void NSThread::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}
