#pragma once
// The one source of time, with two faces. The wall clock serves the dates that are stored or
// shown (NSDate, creation dates, the status bar's time, log lines); it may step at any moment (a
// correction, a person setting the time, a resume). The monotonic clock serves everything that
// waits (timers, delayed calls, time-outs, request pacing, device deadlines, animations): it
// never steps, so a step of the wall clock moves no timer.
//
// The application runs on the real clock; tests install a ManualClock and move it forward, so run
// loops, timers and dates follow without real waiting.
//
// Threads: `current()` and `install()` may be called from any thread; installing is meant for
// test set-up, while no run loop is waiting. An installed clock is never destroyed: a thread that
// runs until the process ends may read it even while exit() runs the static destructors.

#include <atomic>
#include <memory>
#include <vector>

using NSTimeInterval = double;

class Clock {
  public:
    virtual ~Clock() = default;
    // The wall clock: seconds since 1970-01-01 00:00:00 UTC.
    virtual NSTimeInterval now() const = 0;
    // The monotonic clock: seconds since a start of its own; only differences mean anything.
    virtual NSTimeInterval monotonic() const = 0;
    // True for a clock that only moves when told to (run loops then never sleep past a wake-up).
    virtual bool isManual() const { return false; }

    static Clock& current();
    // Installs `clock` for the whole process; nullptr puts the real clock back.
    static void install(std::shared_ptr<Clock> clock);
};

class RealClock : public Clock {
  public:
    NSTimeInterval now() const override;
    NSTimeInterval monotonic() const override;
};

// The wall face starts at `start`, the monotonic face at a reading of its own (as on a real
// machine, the two never agree, so code that mixes them shows in tests); time moves both, and
// stepWall the wall face alone.
class ManualClock : public Clock {
  public:
    static constexpr NSTimeInterval kMonotonicStart = 1000.0;
    explicit ManualClock(NSTimeInterval start = 1'300'000'000.0)
        : wall_(start), monotonic_(kMonotonicStart) {}
    NSTimeInterval now() const override { return wall_.load(); }
    NSTimeInterval monotonic() const override { return monotonic_.load(); }
    bool isManual() const override { return true; }
    // Time passes: both faces move forward by `dt` (not less than 0).
    void advance(NSTimeInterval dt);
    // Time passes until the wall clock reads `t`; a `t` in the past is a step of the wall clock
    // alone (stepWall).
    void set(NSTimeInterval t);
    // The wall clock alone steps by `dt`, forward or back, as a correction or a person setting
    // the time does; the monotonic clock stays.
    void stepWall(NSTimeInterval dt);

  private:
    std::atomic<NSTimeInterval> wall_;
    std::atomic<NSTimeInterval> monotonic_;
};
