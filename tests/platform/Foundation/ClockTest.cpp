// CTest labels: threads

#include "platform/Foundation/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

// Time passing moves both faces; a step of the wall clock (stepWall, or set to an earlier time)
// moves the wall face alone; the monotonic face never goes back.
TEST(ManualClockTest, TimePassingMovesBothFacesAndAWallStepTheWallAlone) {
    ManualClock clock(1000.0);  // both faces read 1000 at first
    struct Step {
        const char* what;
        void (*move)(ManualClock&);
        double wall, monotonic;
    };
    const Step steps[] = {
        {"advance", [](ManualClock& c) { c.advance(2.5); }, 1002.5, 1002.5},
        {"wall back", [](ManualClock& c) { c.stepWall(-60); }, 942.5, 1002.5},
        {"wall forward", [](ManualClock& c) { c.stepWall(100); }, 1042.5, 1002.5},
        {"set later", [](ManualClock& c) { c.set(1050.0); }, 1050.0, 1010.0},
        {"set earlier", [](ManualClock& c) { c.set(900.0); }, 900.0, 1010.0},
        {"advance back", [](ManualClock& c) { c.advance(-5); }, 900.0, 1010.0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.move(clock);
        EXPECT_DOUBLE_EQ(clock.now(), s.wall);
        EXPECT_DOUBLE_EQ(clock.monotonic(), s.monotonic);
    }
}

// A clock that says when it is gone, for the test below. The flag outlives every object.
std::atomic<bool> gProbeClockGone{false};
class ProbeClock : public RealClock {
  public:
    ~ProbeClock() override { gProbeClockGone = true; }
};

// Threads that run until the process ends (a camera's, a microphone's, the frame capture's) read
// the clock to the last: an exit() that runs the static destructors meanwhile leaves them the
// installed clock, never a destroyed one.
TEST(ClockTest, ThreadsReadTheClockWhileTheProcessExits) {
    EXPECT_EXIT(
        {
            Clock::install(std::make_shared<ProbeClock>());
            for (int i = 0; i < 4; ++i)
                std::thread([] {
                    for (;;) {
                        Clock::current().monotonic();
                        if (gProbeClockGone)
                            std::_Exit(1);
                    }
                }).detach();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
