#pragma once
// A named pipe in place of a file, that nothing ever writes to: an open for reading in the usual
// way waits for a writer for good. WaitAlarm bounds such a wait on the calling thread without a
// thread of its own: from `seconds` on, a timer signal aimed at that thread interrupts whatever
// it waits in (again every tenth of a second, for a call that retries), and rang() tells that it
// had to. Its handler stays installed afterwards (it only notes the ring), since a ring already
// on its way may still arrive.

#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <string>

class NamedPipe {
  public:
    explicit NamedPipe(std::string path) : path_(std::move(path)) {
        made_ = ::mkfifo(path_.c_str(), 0644) == 0;
    }
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;
    ~NamedPipe() {
        if (made_)
            ::unlink(path_.c_str());
    }
    explicit operator bool() const { return made_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    bool made_ = false;
};

class WaitAlarm {
  public:
    explicit WaitAlarm(double seconds = 5.0) {
        rang_ = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { rang_ = 1; };
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the wait is interrupted
        ::sigaction(SIGALRM, &action, nullptr);
        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = SIGALRM;
        event._sigev_un._tid = ::gettid();  // sigev_notify_thread_id, unnamed in this glibc
        armed_ = ::timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0;
        if (!armed_)
            return;
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(seconds);
        when.it_value.tv_nsec = static_cast<long>(std::fmod(seconds, 1.0) * 1e9);
        when.it_interval.tv_nsec = 100'000'000;
        ::timer_settime(timer_, 0, &when, nullptr);
    }
    WaitAlarm(const WaitAlarm&) = delete;
    WaitAlarm& operator=(const WaitAlarm&) = delete;
    ~WaitAlarm() {
        if (armed_)
            ::timer_delete(timer_);
    }
    explicit operator bool() const { return armed_; }
    bool rang() const { return rang_ != 0; }

  private:
    static inline volatile sig_atomic_t rang_ = 0;
    timer_t timer_{};
    bool armed_ = false;
};
