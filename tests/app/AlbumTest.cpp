// CTest labels: threads

// The album and the player end to end: the tilvex program driven by a touch script, then what
// is left in the home folder.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/NSFileManager.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/NamedPipe.h"

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

// A named pipe in place of a recording's thumbnail, frame archive or sound file: the album still
// appears and each row goes the road of its missing file, and the program still quits. The
// launcher's kill only keeps a program that hangs from hanging the test.
TEST_F(AlbumTest, AppearsWithANamedPipeInPlaceOfAFile) {
    ProgramOutcome recorded = phone_.runScript(
        "tap button\nwait 0.3\ntap button\n"
        "tap button\nwait 0.3\ntap button\n"
        "tap button\nwait 0.3\ntap button\n"
        "quit\n");
    ASSERT_EQ(recorded.status, 0) << recorded.out;
    std::vector<std::unique_ptr<NamedPipe>> pipes;
    for (const char* name : {"Thumbnail_0001.jpg", "Video_0002", "Audio_0003.caf"}) {
        ASSERT_TRUE(NSFileManager::defaultManager().removeItemAtPath(phone_.document(name)));
        pipes.push_back(std::make_unique<NamedPipe>(phone_.document(name)));
        ASSERT_TRUE(*pipes.back()) << name;
    }
    ProgramOutcome run = phone_.runScript(
        "tap albumButton\n"
        "expect table.rows 3\n"
        // The newest, its sound a pipe: the player opens without sound.
        "select-row 0\n"
        "expect bottombar.items exportButton fixedSpace pauseButton\n"
        "back\n"
        // Its frame archive a pipe: the error, no player.
        "select-row 1\n"
        "expect alert.title Error\n"
        "alert OK\n"
        "expect table.rows 3\n"
        // Its thumbnail a pipe: it plays.
        "select-row 2\n"
        "expect bottombar.items exportButton fixedSpace pauseButton\n"
        "back\n"
        "tap done\n"
        "expect button.title Record\n"
        "quit\n",
        Arguments(), Launcher("timeout -s KILL 60 "));
    EXPECT_EQ(run.status, 0) << "signal " << run.signal << "\n" << run.out;
}

}  // namespace
