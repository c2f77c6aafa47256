// Faults end to end: the program killed at bad moments, a full disk during the stop, the
// analytics cache left mid-write. After each, a normal launch finds everything stored before,
// and every row it shows is whole.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "tests/app/TilvexProgram.h"

namespace {

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_UNLESS_TILVEX_IS_BUILT(); }

    // Records one recording normally; it must be there, whole, after whatever follows.
    void recordOneNormally() {
        ProgramOutcome run = phone_.runScript("tap button\nwait 0.5\ntap button\n");
        ASSERT_EQ(run.status, 0) << run.out;
        ASSERT_EQ(storedRows(store()).size(), 1u);
        before_ = storedRows(store())[0];
    }
    // Runs the program with a script, and a shell line that runs once the document `trigger`
    // exists (a recording's sound file, the movie of an export), with $pid the program's process.
    ProgramOutcome runAndThen(const std::string& script, const std::string& trigger,
                              const std::string& then) {
        std::string launcher = phone_.folder() / "launcher.sh";
        std::ofstream(launcher) << "\"$@\" & pid=$!\n"
                                << "while [ ! -e '" << phone_.document(trigger)
                                << "' ]; do sleep 0.02; done\n"
                                << then << "\nwait $pid\n";
        return phone_.runScript(script, "", "sh " + launcher);
    }
    std::string store() const { return phone_.document("Videos.sqlite"); }
    // The analytics cache file, the only one in its folder after a normal run.
    std::string analyticsCache() const {
        auto cache =
            NSFileManager::defaultManager().contentsOfDirectoryAtPath(phone_.document("halvorn"));
        EXPECT_TRUE(cache && cache->size() == 1u);
        return cache && !cache->empty() ? phone_.document("halvorn/" + cache->front()) : "";
    }
    bool exists(const std::string& name) const {
        return NSFileManager::defaultManager().fileExistsAtPath(phone_.document(name));
    }
    // Every row names three files that exist, and its frames read back.
    void expectEveryRowWhole() {
        for (const StoredRow& row : storedRows(store())) {
            SCOPED_TRACE(row.videoPath);
            EXPECT_TRUE(exists(row.soundPath));
            EXPECT_TRUE(exists(row.thumbPath));
            auto frames =
                NSKeyedUnarchiver::unarchiveObjectWithFile(phone_.document(row.videoPath));
            ASSERT_TRUE(frames.has_value());
            EXPECT_FALSE(frames->arrayRef().empty());
        }
    }
    void expectTheFirstRecordingIntact() {
        auto rows = storedRows(store());
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0].videoPath, before_.videoPath);
        EXPECT_EQ(rows[0].soundPath, before_.soundPath);
        expectEveryRowWhole();
    }

    TilvexHome phone_;
    StoredRow before_;
};

TEST_F(FaultTest, KilledWhileRecordingLeavesASoundFileWithoutARow) {
    recordOneNormally();
    ProgramOutcome killed =
        runAndThen("tap button\nwait 60\n", "Audio_0002.caf", "sleep 0.5; kill -KILL $pid");
    EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out;  // as the launcher saw it
    EXPECT_EQ(storedRows(store()).size(), 1u);

    ProgramOutcome next = phone_.runScript(
        "expect button.title Record\nexpect albumButton.enabled YES\n"
        "tap button\nwait 0.4\ntap button\n");
    ASSERT_EQ(next.status, 0) << next.out;
    auto rows = storedRows(store());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(exists("Audio_0002.caf")) << "the cut-off recording's sound file stays";
    EXPECT_EQ(rows[1].soundPath, "Audio_0003.caf");
    EXPECT_EQ(rows[1].videoPath, "Video_0002");
    expectTheFirstRecordingIntact();
}

// The kill lands somewhere in or after the stop: whatever it cut, no row names a missing or
// half-written file, and the next launch records as usual.
TEST_F(FaultTest, KilledDuringTheStopNeverShowsAHalfStoredRecording) {
    recordOneNormally();
    for (const char* delay : {"0", "0.004", "0.012", "0.03", "0.08"}) {
        SCOPED_TRACE(delay);
        int rowsBefore = static_cast<int>(storedRows(store()).size());
        // The stop comes 2 s after the sound file appears; the kill a moment after that.
        std::string sound = "Audio_000" + std::to_string(rowsBefore + 1) + ".caf";
        // Earlier cut-off recordings leave sound files too: wait for the newest number.
        for (int n = rowsBefore + 1; exists(sound); ++n)
            sound = "Audio_000" + std::to_string(n + 1) + ".caf";
        ProgramOutcome killed =
            runAndThen("tap button\nwait 2\ntap button\nwait 60\n", sound,
                       std::string("sleep 2; sleep ") + delay + "; kill -KILL $pid");
        EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out;  // as the launcher saw it
        expectTheFirstRecordingIntact();
    }
    ProgramOutcome next = phone_.runScript("tap button\nwait 0.3\ntap button\n");
    EXPECT_EQ(next.status, 0) << next.out;
    expectTheFirstRecordingIntact();
}

// Killed while the movie is being encoded: the half-written "temp.mov" is never sent or saved as
// a movie; the next export writes it afresh, and the album and the outbox get a whole movie.
TEST_F(FaultTest, KilledDuringAnExportLeavesNothingHalfWrittenShownOrSent) {
    recordOneNormally();
    const std::string openTheNewest =
        "tap albumButton\nwait-until table.rows 2 5\nselect-row 0\ntap exportButton\n";
    ProgramOutcome killed = runAndThen(
        "tap button\nwait 5\ntap button\n" + openTheNewest + "sheet Save to Camera Roll\nwait 60\n",
        "temp.mov", "kill -KILL $pid");
    EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out;  // as the launcher saw it
    auto& files = NSFileManager::defaultManager();
    EXPECT_FALSE(files.fileExistsAtPath(phone_.home() + "/Media/DCIM/IMG_0001.MOV"));
    EXPECT_TRUE(files.contentsOfDirectoryAtPath(phone_.home() + "/Mail/Outbox")
                    .value_or(std::vector<std::string>{})
                    .empty());
    expectTheFirstRecordingIntact();

    ProgramOutcome next = phone_.runScript(openTheNewest +
                                           "sheet Save to Camera Roll\n"
                                           "wait-until progressPanel.hidden YES 30\n"
                                           "wait-until exportButton.enabled YES 10\n");
    ASSERT_EQ(next.status, 0) << next.out;
    // The album took the movie: only a file FFmpeg opens as a movie is accepted there.
    EXPECT_TRUE(files.fileExistsAtPath(phone_.home() + "/Media/DCIM/IMG_0001.MOV")) << next.out;
    expectTheFirstRecordingIntact();
}

// The disk fills during the stop (a file-size limit the launcher sets): the recording is not
// stored, an alert says so, its files are gone, and the earlier recording is intact.
TEST_F(FaultTest, AFullDiskDuringTheStopStoresNothingAndLosesNothing) {
    recordOneNormally();
    std::string launcher = phone_.folder() / "small-disk.sh";
    // 600 KiB: room for the sound of 2 s, not for its frames.
    std::ofstream(launcher) << "trap '' XFSZ\nulimit -f 600\nexec \"$@\"\n";
    ProgramOutcome run = phone_.runScript(
        "tap button\nwait 2\ntap button\n"
        "expect button.title Record\nexpect albumButton.enabled YES\nalert OK\n",
        "", "sh " + launcher);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(storedRows(store()).size(), 1u);
    EXPECT_FALSE(exists("Video_0002"));
    EXPECT_FALSE(exists("Thumbnail_0002.jpg"));
    EXPECT_FALSE(exists("Audio_0002.caf"));
    expectTheFirstRecordingIntact();
}

// A write of the analytics cache cut off by the end of the process leaves its journal behind;
// the next launch wipes the cache folder and goes on.
TEST_F(FaultTest, ALeftoverAnalyticsJournalIsRepairedAtLaunch) {
    recordOneNormally();
    const std::string database = analyticsCache();
    ASSERT_FALSE(database.empty());
    std::ofstream(database + "-journal") << "a journal of a write that never finished";
    std::ofstream(phone_.document("halvorn/stale.sql")) << "another code's cache";

    ProgramOutcome run = phone_.runScript("tap button\nwait 0.3\ntap button\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(exists("halvorn/stale.sql")) << "the whole folder is wiped";
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(database + "-journal"));
    EXPECT_EQ(storedRows(store()).size(), 2u);
    expectTheFirstRecordingIntact();
}

// Killed in the middle of an analytics write: the launcher kills the program as soon as the
// cache's journal appears (a write transaction has begun) while the album is opened again and
// again, each opening recording an event. The next launch repairs or keeps the cache, and the
// recording stored before is whole.
TEST_F(FaultTest, KilledDuringAnAnalyticsWriteLosesNothingStored) {
    recordOneNormally();
    const std::string database = analyticsCache();
    ASSERT_FALSE(database.empty());
    std::string script;
    for (int i = 0; i < 50; ++i) script += "tap albumButton\nwait 0.05\ntap done\nwait 0.05\n";
    std::string launcher = phone_.folder() / "analytics-kill.sh";
    std::ofstream(launcher) << "\"$@\" & pid=$!\n"
                            << "while kill -0 $pid 2>/dev/null && [ ! -e '" << database
                            << "-journal' ]; do :; done\n"
                            << "kill -KILL $pid\nwait $pid\n";
    ProgramOutcome killed = phone_.runScript(script, "", "sh " + launcher);
    ASSERT_EQ(killed.status, 128 + SIGKILL) << "no write was caught\n" << killed.out;

    ProgramOutcome next = phone_.runScript("tap albumButton\nexpect table.rows 1\ntap done\n");
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(database + "-journal"));
    EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(database))
        << "the launch opened a cache again";
    expectTheFirstRecordingIntact();
}

}  // namespace
