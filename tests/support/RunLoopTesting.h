#pragma once
// Test helpers for time: a manual clock installed for the life of a fixture, and a way to move
// it forward while the current thread's run loop runs everything that falls due on the way.

#include <memory>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSRunLoop.h"

class ManualClockScope {
  public:
    ManualClockScope();
    ~ManualClockScope();
    ManualClock& clock() { return *clock_; }
    // Moves the clock forward by `seconds`, stopping at each timer's fire date on the way to run
    // it (and whatever it schedules that is due), on the current thread's run loop.
    void advance(NSTimeInterval seconds);
    // Runs what is due now without moving the clock.
    void runDue();

  private:
    std::shared_ptr<ManualClock> clock_;
};
