#pragma once
// While one lives, no thread can start in this process, as when it is out of address space:
// every new thread of default attributes asks for a stack larger than any address space, so
// pthread_create fails with EAGAIN and std::thread throws std::system_error. Threads already
// running are untouched; its destruction gives back the default stack size.
//
// Threads: made and destroyed on the test's thread, with no other thread starting meanwhile.

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>

class NoNewThreads {
  public:
    NoNewThreads() {
        EXPECT_EQ(::pthread_getattr_default_np(&saved_), 0);
        pthread_attr_t huge;
        ::pthread_attr_init(&huge);
        EXPECT_EQ(::pthread_attr_setstacksize(&huge, std::size_t{1} << 50), 0);
        EXPECT_EQ(::pthread_setattr_default_np(&huge), 0);
        ::pthread_attr_destroy(&huge);
    }
    ~NoNewThreads() {
        EXPECT_EQ(::pthread_setattr_default_np(&saved_), 0);
        ::pthread_attr_destroy(&saved_);
    }
    NoNewThreads(const NoNewThreads&) = delete;
    NoNewThreads& operator=(const NoNewThreads&) = delete;

  private:
    pthread_attr_t saved_;
};
