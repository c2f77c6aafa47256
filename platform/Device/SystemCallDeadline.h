#pragma once
// A deadline for the blocking system calls of one thread. Some calls cannot be reached by an
// interrupt check (open(2) of a named pipe that no writer opens, a read that never gets data):
// from `seconds` after the deadline is made until it goes, the thread that made it receives a
// signal whose handler does nothing, every kRepeatSeconds, so that such a call fails with EINTR
// and its caller can see that the time is over. Before that moment nothing happens.
//
// Threads: made and destroyed on the same thread, the one whose calls it interrupts.

#include <ctime>

class SystemCallDeadline {
  public:
    // A signal that lands just before the call starts is lost; the next one comes this soon.
    static constexpr double kRepeatSeconds = 0.05;

    explicit SystemCallDeadline(double seconds);
    ~SystemCallDeadline();
    SystemCallDeadline(const SystemCallDeadline&) = delete;
    SystemCallDeadline& operator=(const SystemCallDeadline&) = delete;

  private:
    timer_t timer_{};
    bool armed_ = false;
};
