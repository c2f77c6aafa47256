// CTest labels: threads

// The deadline for a thread's blocking system calls: a read that would wait for ever returns once
// the deadline has passed, and one that gets its data first is left alone.

#include "platform/Device/SystemCallDeadline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace {

class SystemCallDeadlineTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::pipe(fds_), 0); }
    void TearDown() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    int fds_[2] = {-1, -1};
};

TEST_F(SystemCallDeadlineTest, ABlockingReadWithNothingToReadFailsOnceTheDeadlinePasses) {
    char byte = 0;
    ssize_t got;
    int error;
    {
        SystemCallDeadline deadline(0.1);
        got = ::read(fds_[0], &byte, 1);  // nothing is ever written
        error = errno;
    }
    EXPECT_EQ(got, -1);
    EXPECT_EQ(error, EINTR);
}

TEST_F(SystemCallDeadlineTest, AReadThatGetsItsDataInTimeIsNotCutShort) {
    std::thread writer([&] { EXPECT_EQ(::write(fds_[1], "x", 1), 1); });
    char byte = 0;
    {
        SystemCallDeadline deadline(60);
        EXPECT_EQ(::read(fds_[0], &byte, 1), 1);
    }
    writer.join();
    EXPECT_EQ(byte, 'x');
}

}  // namespace
