#pragma once
// The one source of time. The application runs on the real clock; tests install a ManualClock and
// move it forward, so run loops, timers and dates follow without real waiting.
//
// Threads: `current()` and `install()` may be called from any thread; installing is meant for
// test set-up, while no run loop is waiting.

#include <atomic>
#include <memory>
#include <vector>

using NSTimeInterval = double;

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 00:00:00 UTC.
    virtual NSTimeInterval now() const = 0;
    // True for a clock that only moves when told to (run loops then never sleep past a wake-up).
    virtual bool isManual() const { return false; }

    static Clock& current();
    // Installs `clock` for the whole process; nullptr puts the real clock back.
    static void install(std::shared_ptr<Clock> clock);
};

class RealClock : public Clock {
  public:
    NSTimeInterval now() const override;
};

class ManualClock : public Clock {
  public:
    explicit ManualClock(NSTimeInterval start = 1'300'000'000.0) : now_(start) {}
    NSTimeInterval now() const override { return now_.load(); }
    bool isManual() const override { return true; }
    void set(NSTimeInterval t) { now_.store(t); }
    void advance(NSTimeInterval dt) { now_.store(now_.load() + dt); }

  private:
    std::atomic<NSTimeInterval> now_;
};
