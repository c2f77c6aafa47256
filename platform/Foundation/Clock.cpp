#include "platform/Foundation/Clock.h"

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
