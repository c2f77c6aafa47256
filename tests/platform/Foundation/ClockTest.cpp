#include "platform/Foundation/Clock.h"

#include <gtest/gtest.h>

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

}  // namespace
