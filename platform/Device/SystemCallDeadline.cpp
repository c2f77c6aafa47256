#include "platform/Device/SystemCallDeadline.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <mutex>

namespace {

void doNothing(int) {}

int deadlineSignal() {
    static int signal = [] {
        int number = SIGRTMIN;
        struct sigaction action = {};
        action.sa_handler = doNothing;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the interrupted call returns EINTR
        sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

timespec toTimespec(double seconds) {
    double whole = std::floor(seconds);
    return {static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
}

}  // namespace

SystemCallDeadline::SystemCallDeadline(double seconds) {
    struct sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = deadlineSignal();
    event._sigev_un._tid = ::gettid();
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0)
        return;
    armed_ = true;
    itimerspec when = {toTimespec(kRepeatSeconds), toTimespec(seconds)};
    ::timer_settime(timer_, 0, &when, nullptr);
}

SystemCallDeadline::~SystemCallDeadline() {
    if (!armed_)
        return;
    itimerspec never = {};
    ::timer_settime(timer_, 0, &never, nullptr);
    // A signal already queued would still come after the timer goes, and cut short a later call
    // of this thread: take it now.
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, deadlineSignal());
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &only, &before);
    const timespec now = {};
    while (::sigtimedwait(&only, nullptr, &now) > 0) {
    }
    ::timer_delete(timer_);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}
