// CTest labels: threads

// The album and the player end to end: the tilvex program driven by a touch script, then what
// is left in the home folder.

#include <gtest/gtest.h>

#include <string>

#include "platform/Foundation/NSFileManager.h"
#include "tests/app/TilvexProgram.h"

namespace {

class AlbumTest : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_UNLESS_TILVEX_IS_BUILT(); }
    bool exists(const std::string& name) const {
        return NSFileManager::defaultManager().fileExistsAtPath(phone_.document(name));
    }
    TilvexHome phone_;
};

TEST_F(AlbumTest, ListsPlaysAndDeletesRecordings) {
    ProgramOutcome run = phone_.runScript(
        // Two recordings, the second the longer.
        "tap button\nwait 0.3\ntap button\n"
        "tap button\nwait 1.2\ntap button\n"
        "expect statusBar.hidden YES\n"
        "tap albumButton\n"
        "expect statusBar.hidden NO\n"
        "expect statusBar.style 1\n"
        "expect table.rows 2\n"
        "expect row:0.text 0:01\n"
        "expect row:1.text 0:00\n"
        // The player on the newest: it plays at once and keeps the device awake.
        "select-row 0\n"
        "expect idleTimer.disabled YES\n"
        "expect bottombar.items exportButton fixedSpace pauseButton\n"
        "wait-until topBar.alpha 0 4\n"
        "tap tapButton\n"
        "expect topBar.alpha 1\n"
        "slide seekSlider 0.2\n"
        "back\n"
        // Edit mode sets Done aside; leaving it brings Done back.
        "tap edit\n"
        "delete-row 1\n"
        "expect table.rows 1\n"
        "tap edit\n"
        "tap done\n"
        "expect statusBar.hidden YES\n"
        "expect button.title Record\n");
    ASSERT_EQ(run.status, 0) << run.out;
    // The older recording's three files went with its row.
    EXPECT_FALSE(exists("Video_0001"));
    EXPECT_FALSE(exists("Audio_0001.caf"));
    EXPECT_FALSE(exists("Thumbnail_0001.jpg"));
    EXPECT_TRUE(exists("Video_0002"));
    EXPECT_TRUE(exists("Audio_0002.caf"));
    EXPECT_TRUE(exists("Thumbnail_0002.jpg"));
}

}  // namespace
