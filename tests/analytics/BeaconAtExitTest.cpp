// CTest labels: threads

#include <gtest/gtest.h>

#include <string>

#include "tests/app/TilvexProgram.h"
#include "tests/support/RefusingLoopbackPort.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// The facade lives until the process ends: a host that ends the session with debug mode and
// location on and returns from main exits normally, with nothing the facade holds torn down
// under it at exit (under the sanitizers, a use after free fails it too).
TEST(BeaconAtExitTest, AHostThatEndsTheSessionAndReturnsFromMainExitsNormally) {
    TemporaryFolder home;
    RefusingLoopbackPort collector;
    ProgramOutcome run = runProgram(
        Program(TILVEX_BINARY_DIR "/tests/beacon_exit_host"),
        Environment({"TILVEX_HOME=" + home.path(), "TILVEX_ANALYTICS_URL=" + collector.url("/")}));
    EXPECT_EQ(run.signal, 0) << run.out;
    EXPECT_EQ(run.status, 0) << run.out;
    // It got as far as it should: location on and the session ended.
    EXPECT_NE(run.out.find(" libRQAnalytics: Location: created a CLLocationManager.\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(" libRQAnalytics: Current beacon session has been terminated.\n"),
              std::string::npos)
        << run.out;
}

}  // namespace
