#include "platform/Foundation/Clock.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {
std::mutex gClockMutex;
std::shared_ptr<Clock> gClock = std::make_shared<RealClock>();
}  // namespace

NSTimeInterval RealClock::now() const {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

NSTimeInterval RealClock::monotonic() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ManualClock::advance(NSTimeInterval dt) {
    dt = std::max(dt, 0.0);
    // The monotonic face first: a reader on another thread that sees a wall time reached sees
    // timers due for it.
    monotonic_.store(monotonic_.load() + dt);
    wall_.store(wall_.load() + dt);
}

void ManualClock::set(NSTimeInterval t) {
    const NSTimeInterval step = t - wall_.load();
    if (step >= 0)
        advance(step);
    else
        stepWall(step);
}

void ManualClock::stepWall(NSTimeInterval dt) {
    wall_.store(wall_.load() + dt);
}

Clock& Clock::current() {
    std::lock_guard lock(gClockMutex);
    return *gClock;  // installed clocks live until the process ends or the next install
}

void Clock::install(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(gClockMutex);
    // Keep the previous clock alive: a thread may still hold a reference from current().
    static std::vector<std::shared_ptr<Clock>> retired;
    retired.push_back(gClock);
    gClock = clock ? std::move(clock) : std::make_shared<RealClock>();
}
