#include "platform/Foundation/Clock.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {
// The installed clock and those it replaced. Never destroyed: threads that run until the process
// ends (a device's, the frame capture's) read the clock while exit() runs the static destructors.
struct InstalledClocks {
    std::mutex mutex;
    std::shared_ptr<Clock> current = std::make_shared<RealClock>();
    // A thread may still hold a reference from current() to a replaced clock.
    std::vector<std::shared_ptr<Clock>> retired;
};

InstalledClocks& installedClocks() {
    static InstalledClocks* clocks = new InstalledClocks();
    return *clocks;
}
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
    InstalledClocks& clocks = installedClocks();
    std::lock_guard lock(clocks.mutex);
    return *clocks.current;  // installed clocks live until the process ends
}

void Clock::install(std::shared_ptr<Clock> clock) {
    InstalledClocks& clocks = installedClocks();
    std::lock_guard lock(clocks.mutex);
    clocks.retired.push_back(clocks.current);
    clocks.current = clock ? std::move(clock) : std::make_shared<RealClock>();
}
