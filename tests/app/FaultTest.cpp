// CTest labels: threads

// Faults end to end: the program killed at bad moments, a full disk during the stop, the
// analytics cache left mid-write, a second instance on the same home, a collector that never
// answers, links planted among the application's files. After each, a normal launch finds
// everything stored before, and every row it shows is whole.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "tests/app/StoreConnection.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/MailMessageReader.h"

namespace {

namespace fs = std::filesystem;

// A shell line that waits until something exists at `path`.
std::string waitFor(const std::string& path) {
    return "while [ ! -e '" + path + "' ]; do sleep 0.02; done\n";
}

std::string contents(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// An analytics collector on loopback that takes every upload and never answers it (until the
// collector goes). The file `marker` appears once an upload waits for its answer.
class SilentCollector {
  public:
    explicit SilentCollector(const std::string& marker) {
        service_.routes().Post(".*", [this, marker](const httplib::Request&, httplib::Response&) {
            std::ofstream(marker) << "waiting";
            released_.wait();
        });
        service_.start();
    }
    ~SilentCollector() {
        release_.set_value();
        service_.stop();
    }
    std::string url() const { return service_.url("/"); }

  private:
    LoopbackHTTPService service_;
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
};

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
    // Runs the program with a script, and a shell line that runs once a document whose name
    // holds `trigger` exists (a recording's sound file; the movie of an export, which is written
    // under a temporary name that holds its own), with $pid the program's process.
    ProgramOutcome runAndThen(const std::string& script, const std::string& trigger,
                              const std::string& then) {
        std::string launcher = phone_.folder() / "launcher.sh";
        std::ofstream(launcher) << "\"$@\" & pid=$!\n"
                                << "until ls -A '" << phone_.documents() << "' | grep -qF '"
                                << trigger << "'; do sleep 0.02; done\n"
                                << then << "\nwait $pid\n";
        return phone_.runScript(script, Arguments(), Launcher({"sh", launcher}));
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
        Arguments(), Launcher({"sh", launcher}));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(storedRows(store()).size(), 1u);
    EXPECT_FALSE(exists("Video_0002"));
    EXPECT_FALSE(exists("Thumbnail_0002.jpg"));
    EXPECT_FALSE(exists("Audio_0002.caf"));
    expectTheFirstRecordingIntact();
}

// The sound file cannot be written (the disk fills as it grows): the stop stores nothing that
// claims to be whole, the alert says why, and the earlier recording is intact.
TEST_F(FaultTest, ASoundFileThatCannotBeWrittenIsNotStored) {
    recordOneNormally();
    // The header is written; every write after it fails.
    std::string launcher = phone_.folder() / "sound-full.sh";
    std::ofstream(launcher) << "exec strace -f -qq -o /dev/null -P '"
                            << phone_.document("Audio_0002.caf")
                            << "' -e trace=write,writev,pwrite64"
                            << " -e inject=write,writev,pwrite64:error=ENOSPC:when=2+ \"$@\"\n";
    ProgramOutcome run = phone_.runScript(
        "tap button\nwait 1\ntap button\n"
        "expect alert.title Error\nexpect button.title Record\nexpect albumButton.enabled YES\n"
        "alert OK\n",
        Arguments(), Launcher({"sh", launcher}));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Stopped"), std::string::npos) << "the recording never began\n"
                                                          << run.out;
    EXPECT_EQ(storedRows(store()).size(), 1u) << run.out;
    for (const char* name : {"Video_0002", "Audio_0002.caf", "Thumbnail_0002.jpg"})
        EXPECT_FALSE(exists(name)) << name;
    expectTheFirstRecordingIntact();
}

// A recording whose row is never saved before the end: another program holds the store's write
// lock for the whole run, or the disk is full from the stop to the quit (the stop's save says so,
// and the termination's save fails as well, which ends the process loudly, "Unresolved error"),
// or a kill comes between the files' writing and the commit. The files stay, and the next launch
// restores the row with its duration and date, once.
TEST_F(FaultTest, ARecordingNeverSavedBeforeTheEndIsRestoredAtTheNextLaunch) {
    recordOneNormally();
    const std::string journal = store() + "-journal";
    const struct {
        const char* name;
        bool locked;
        std::string launcher;
        const char* afterTheStop;
        int signal;  // that ended the run
    } cases[] = {
        {"store locked", true, "ulimit -c 0\nexec \"$@\"\n",
         "expect alert.title Error\nalert OK\nquit\n", SIGABRT},
        {"disk full", false,
         "ulimit -c 0\nexec strace -f -qq -o /dev/null -P '" + journal +
             "' -e trace=write,pwrite64,pwritev -e inject=write,pwrite64,pwritev:error=ENOSPC "
             "\"$@\"\n",
         "expect alert.title Error\nalert OK\nquit\n", SIGABRT},
        {"killed before the commit", false,
         "exec strace -f -qq -o /dev/null -P '" + journal +
             "' -e trace=openat -e inject=openat:signal=KILL:when=1 \"$@\"\n",
         "wait 5\n", SIGKILL},
    };
    const double referenceToUnix = 978307200.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t rowsBefore = storedRows(store()).size();
        StoreConnection other(store());
        if (c.locked) {
            ASSERT_TRUE(other.holdWriteLock());
        }
        std::string launcher = phone_.folder() / "never-saved.sh";
        std::ofstream(launcher) << c.launcher;
        const double startedBefore = static_cast<double>(std::time(nullptr)) - referenceToUnix;
        ProgramOutcome run =
            phone_.runScript(std::string("tap button\nwait 1.3\ntap button\n") + c.afterTheStop,
                             Arguments(), Launcher({"sh", launcher}));
        const double stoppedAfter = static_cast<double>(std::time(nullptr)) - referenceToUnix + 1;
        other.release();
        EXPECT_TRUE(run.signal == c.signal || run.status == 128 + c.signal) << run.out;
        if (c.signal == SIGABRT) {
            EXPECT_NE(run.out.find("Unresolved error"), std::string::npos) << run.out;
        }
        ASSERT_EQ(storedRows(store()).size(), rowsBefore) << run.out;

        ProgramOutcome next = phone_.runScript("tap albumButton\nexpect table.rows " +
                                               std::to_string(rowsBefore + 1) + "\ntap done\n");
        ASSERT_EQ(next.status, 0) << next.out;
        auto rows = storedRows(store());
        ASSERT_EQ(rows.size(), rowsBefore + 1);
        EXPECT_EQ(rows.back().title, "0:01");
        EXPECT_GE(rows.back().creationDate, startedBefore);
        EXPECT_LE(rows.back().creationDate, stoppedAfter);
        ProgramOutcome after = phone_.runScript("quit\n");
        ASSERT_EQ(after.status, 0) << after.out;
        EXPECT_EQ(storedRows(store()).size(), rowsBefore + 1) << "restored twice";
        expectTheFirstRecordingIntact();
    }
    const auto names =
        NSFileManager::defaultManager().contentsOfDirectoryAtPath(phone_.documents());
    for (const auto& name : names.value_or(std::vector<std::string>{}))
        EXPECT_FALSE(name.ends_with(".pending")) << name;
}

// A recording kept unsaved (the store locked) and deleted from the album, or one whose delete a
// kill cut short after the row's removal was stored: neither comes back at a later launch.
TEST_F(FaultTest, ADeletedRecordingNeverComesBack) {
    recordOneNormally();
    {
        StoreConnection other(store());
        ASSERT_TRUE(other.holdWriteLock());
        ProgramOutcome run = phone_.runScript(
            "tap button\nwait 0.5\ntap button\nexpect alert.title Error\nalert OK\n"
            "tap albumButton\nwait-until table.rows 2 5\ntap edit\ndelete-row 0\nquit\n");
        EXPECT_EQ(run.status, 0) << run.out;
    }
    for (const char* name :
         {"Video_0002", "Audio_0002.caf", "Thumbnail_0002.jpg", "Video_0002.pending"})
        EXPECT_FALSE(exists(name)) << name;
    ProgramOutcome next = phone_.runScript("tap albumButton\nexpect table.rows 1\ntap done\n");
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_EQ(storedRows(store()).size(), 1u);
    expectTheFirstRecordingIntact();
}

// Killed in the middle of a delete, as its frames are removed (its sound is gone by then): the
// store holds the whole recording or none of it, and the other recording is intact.
TEST_F(FaultTest, KilledDuringADeleteLeavesTheWholeRowOrNone) {
    recordOneNormally();
    ProgramOutcome second = phone_.runScript("tap button\nwait 0.5\ntap button\n");
    ASSERT_EQ(second.status, 0) << second.out;
    ASSERT_EQ(storedRows(store()).size(), 2u);
    std::string launcher = phone_.folder() / "delete-kill.sh";
    std::ofstream(launcher) << "exec strace -f -qq -o /dev/null -P '"
                            << phone_.document("Video_0002") << "' -e trace=unlink,unlinkat,rmdir"
                            << " -e inject=unlink,unlinkat,rmdir:signal=KILL:when=1 \"$@\"\n";
    ProgramOutcome killed = phone_.runScript(
        "tap albumButton\nwait-until table.rows 2 5\ntap edit\ndelete-row 0\nwait 5\n", Arguments(),
        Launcher({"sh", launcher}));
    ASSERT_TRUE(killed.status == 128 + SIGKILL || killed.signal == SIGKILL) << killed.out;
    EXPECT_FALSE(exists("Audio_0002.caf")) << "the kill came before the delete began";
    expectTheFirstRecordingIntact();

    ProgramOutcome next = phone_.runScript("tap albumButton\nexpect table.rows 1\ntap done\n");
    EXPECT_EQ(next.status, 0) << "the deleted recording came back\n" << next.out;
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

// An analytics cache that is no database stopped the analytics at every launch ("Analytics start
// failed"); now it is thrown away as a leftover journal is, and the launch goes on with a fresh
// one.
TEST_F(FaultTest, ADamagedAnalyticsCacheIsRepairedAtLaunch) {
    recordOneNormally();
    const std::string database = analyticsCache();
    ASSERT_FALSE(database.empty());
    std::ofstream(database, std::ios::trunc) << "this is no database, only some text in its place";
    std::ofstream(phone_.document("halvorn/stale.sql")) << "another code's cache";

    ProgramOutcome run = phone_.runScript("tap button\nwait 0.3\ntap button\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("Analytics start failed"), std::string::npos) << run.out;
    EXPECT_FALSE(exists("halvorn/stale.sql")) << "the whole folder is wiped";
    std::string header(16, '\0');
    std::ifstream(database, std::ios::binary).read(header.data(), header.size());
    EXPECT_EQ(header, std::string("SQLite format 3\0", 16)) << "a fresh cache";
    EXPECT_EQ(storedRows(store()).size(), 2u);
    expectTheFirstRecordingIntact();
}

// What stands in the analytics cache's place, which failed every launch ("Analytics start
// failed"), or a link there, which was followed (an outside database got the rows, a link to
// nothing made a file at its target): the launch throws the cache folder away and goes on with a
// fresh one, and nothing outside is written or made.
TEST_F(FaultTest, WhatStandsInTheAnalyticsCachesPlaceIsRepairedAtLaunch) {
    recordOneNormally();
    const std::string database = analyticsCache();
    ASSERT_FALSE(database.empty());
    const std::string outside = phone_.folder() / "outside";
    fs::create_directory(outside);
    fs::copy_file(database, outside + "/other.sql");
    struct Damage {
        const char* name;
        std::function<void()> apply;
    };
    const std::string folder = phone_.document("halvorn");
    const Damage damages[] = {
        {"a directory in the file's place", [&] { fs::create_directories(database + "/inside"); }},
        {"a named pipe in the file's place",
         [&] { EXPECT_EQ(::mkfifo(database.c_str(), 0644), 0); }},
        {"a file in the folder's place",
         [&] {
             fs::remove_all(folder);
             std::ofstream(folder) << "no folder";
         }},
        {"a link at the file to another database",
         [&] { fs::create_symlink(outside + "/other.sql", database); }},
        {"a link at the file to nothing",
         [&] { fs::create_symlink(outside + "/nothing.sql", database); }},
    };
    const std::string before = contents(outside + "/other.sql");
    size_t rows = 1;
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        // What the last launch left, whatever it was, gives way to an empty folder.
        fs::remove_all(folder);
        fs::create_directory(folder);
        damage.apply();
        ProgramOutcome run = phone_.runScript("tap button\nwait 0.3\ntap button\n");
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out.find("Analytics start failed"), std::string::npos) << run.out;
        // A pipe left there would block the read.
        const bool file = fs::is_regular_file(fs::symlink_status(database));
        EXPECT_TRUE(file) << "a fresh cache";
        if (file) {
            EXPECT_EQ(contents(database).substr(0, 16), std::string("SQLite format 3\0", 16));
        }
        EXPECT_EQ(contents(outside + "/other.sql"), before) << "the outside database was written";
        EXPECT_FALSE(fs::exists(outside + "/nothing.sql")) << "a link's target was made";
        EXPECT_EQ(storedRows(store()).size(), ++rows);
    }
    expectTheFirstRecordingIntact();
}

// A link at the store of recordings, or at its journal, was opened through (an outside database
// got the rows, a link to nothing made one at its target, a link to text aborted every launch):
// now the launch ends with one line that names the link, and status 1, touching nothing.
TEST_F(FaultTest, ALinkAtTheStoreEndsTheLaunchWithOneLineNamingIt) {
    recordOneNormally();
    const std::string outside = phone_.folder() / "outside";
    fs::create_directory(outside);
    fs::copy_file(store(), outside + "/Videos.sqlite");
    std::ofstream(outside + "/text") << "no database";
    struct Planted {
        const char* name;
        std::string link;
        std::string target;
    };
    const Planted cases[] = {
        {"at another store", store(), outside + "/Videos.sqlite"},
        {"at nothing", store(), outside + "/nothing.sqlite"},
        {"at text", store(), outside + "/text"},
        {"at the journal, at nothing", store() + "-journal", outside + "/nothing-journal"},
    };
    const std::string kept = phone_.folder() / "kept.sqlite";
    fs::rename(store(), kept);
    const std::string outsideStore = contents(outside + "/Videos.sqlite");
    for (const Planted& planted : cases) {
        SCOPED_TRACE(planted.name);
        if (planted.link != store())
            fs::copy_file(kept, store());
        fs::create_symlink(planted.target, planted.link);

        ProgramOutcome run = phone_.runScript("tap button\nwait 0.3\ntap button\n");
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_EQ(run.signal, 0) << run.out;
        EXPECT_EQ(run.out, "tilvex: " + planted.link +
                               " is a symbolic link; the store is not opened through it\n");
        EXPECT_EQ(fs::read_symlink(planted.link), planted.target);
        EXPECT_EQ(contents(outside + "/Videos.sqlite"), outsideStore);
        EXPECT_FALSE(fs::exists(outside + "/nothing.sqlite"));
        EXPECT_FALSE(fs::exists(outside + "/nothing-journal"));
        EXPECT_FALSE(exists("Audio_0002.caf")) << "the launch went on";
        fs::remove(planted.link);
        fs::remove(store());
    }
    fs::rename(kept, store());
    expectTheFirstRecordingIntact();
}

// Documents kept in another folder through a link: the store and the analytics cache open in
// that folder, and a recording is stored there as usual.
TEST_F(FaultTest, ADocumentsFolderThatIsALinkStillWorks) {
    recordOneNormally();
    const std::string elsewhere = phone_.folder() / "elsewhere";
    fs::rename(phone_.documents(), elsewhere);
    fs::create_directory_symlink(elsewhere, phone_.documents());

    ProgramOutcome run = phone_.runScript(
        "tap button\nwait 0.3\ntap button\ntap albumButton\n"
        "wait-until table.rows 2 5\ntap done\n");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("Analytics start failed"), std::string::npos) << run.out;
    EXPECT_EQ(storedRows(elsewhere + "/Videos.sqlite").size(), 2u);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(elsewhere + "/Videos.sqlite")));
    auto cache = NSFileManager::defaultManager().contentsOfDirectoryAtPath(elsewhere + "/halvorn");
    EXPECT_TRUE(cache && cache->size() == 1u);
    EXPECT_TRUE(fs::is_symlink(phone_.documents()));
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
    ProgramOutcome killed = phone_.runScript(script, Arguments(), Launcher({"sh", launcher}));
    ASSERT_EQ(killed.status, 128 + SIGKILL) << "no write was caught\n" << killed.out;

    ProgramOutcome next = phone_.runScript("tap albumButton\nexpect table.rows 1\ntap done\n");
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_FALSE(NSFileManager::defaultManager().fileExistsAtPath(database + "-journal"));
    EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(database))
        << "the launch opened a cache again";
    expectTheFirstRecordingIntact();
}

// One process per home: a second instance started while the first records touches nothing, says
// which home is in use and leaves with status 1; the first stores its recording as usual. The
// lock holds whatever a person did to the files in the home meanwhile.
TEST_F(FaultTest, ASecondInstanceOnTheSameHomeTouchesNothingAndLeaves) {
    recordOneNormally();
    const struct {
        const char* name;
        std::string meanwhile;  // shell lines run before the second starts
    } cases[] = {
        {"the home as it is", ""},
        {"tilvex.lock deleted", "rm -f '" + phone_.home() + "/tilvex.lock'; "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t rowsBefore = storedRows(store()).size();
        const std::string sound = "Audio_000" + std::to_string(rowsBefore + 1) + ".caf";
        const std::string second = phone_.folder() / "second";
        // The first records until the second has come and gone, then SIGTERM ends it.
        ProgramOutcome first = runAndThen(
            "tap button\nwait 60\n", sound,
            c.meanwhile + phone_.command("tap button\nwait 0.5\ntap button\n") + " > '" + second +
                ".out' 2>&1; " + "echo $? > '" + second + ".status'; kill -TERM $pid");
        ASSERT_EQ(first.status, 0) << first.out;
        const std::string out = contents(second + ".out");
        EXPECT_EQ(contents(second + ".status"), "1\n") << out;
        EXPECT_NE(out.find("The home folder " + phone_.home() + " is in use by another process"),
                  std::string::npos)
            << "the message names the home\n"
            << out;
        auto rows = storedRows(store());
        ASSERT_EQ(rows.size(), rowsBefore + 1);
        EXPECT_EQ(rows.back().soundPath, sound);
        EXPECT_FALSE(exists("Audio_000" + std::to_string(rowsBefore + 2) + ".caf"))
            << "the second instance recorded";
        expectTheFirstRecordingIntact();
    }
}

// Two homes whose Documents is one folder through a link: while the first records, a second
// instance on the other home touches nothing, names the Documents folder in use and leaves with
// status 1; the first stores its recording under its own numbers, and no two rows share a file.
TEST_F(FaultTest, ASecondInstanceOnAHomeSharingTheDocumentsFolderLeaves) {
    recordOneNormally();
    TilvexHome other;
    fs::create_directories(other.home());
    fs::create_directory_symlink(phone_.documents(), other.documents());
    const std::string second = phone_.folder() / "second";
    ProgramOutcome first =
        runAndThen("tap button\nwait 60\n", "Audio_0002.caf",
                   other.command("tap button\nwait 0.5\ntap button\n") + " > '" + second +
                       ".out' 2>&1; " + "echo $? > '" + second + ".status'; kill -TERM $pid");
    ASSERT_EQ(first.status, 0) << first.out;
    const std::string out = contents(second + ".out");
    EXPECT_EQ(contents(second + ".status"), "1\n") << out;
    EXPECT_NE(
        out.find("The Documents folder " + other.documents() + " (" +
                 fs::canonical(phone_.documents()).string() + ") is in use by another process"),
        std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(other.home() + "/Library")) << "the second instance touched its home";
    auto rows = storedRows(store());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].soundPath, "Audio_0002.caf");
    EXPECT_FALSE(exists("Audio_0003.caf")) << "the second instance recorded";
    expectTheFirstRecordingIntact();
}

// The launch removes only what the program itself leaves: its own temporary files (plain files of
// exactly the shape it writes), and beside one an empty file under one of its numbered names
// (which older versions reserved first). A person's files and folders of like names stay as they
// are.
TEST_F(FaultTest, TheLaunchRemovesOnlyTheProgramsOwnLeftovers) {
    auto& files = NSFileManager::defaultManager();
    for (const char* folder : {"Documents", "Media/DCIM", "Mail/Outbox", "Library/Preferences"})
        ASSERT_TRUE(files.createDirectoryAtPath(phone_.home() + "/" + folder, true));
    auto path = [&](const std::string& name) { return phone_.home() + "/" + name; };
    // Folders of the program's prefix, one even of its temporary shape, keep what they hold.
    for (const char* folder : {"Media/DCIM/.tilvex-album-backup", "Documents/.tilvex-old.abc123"})
        ASSERT_TRUE(files.createDirectoryAtPath(path(folder), true));
    const std::string persons[] = {
        "Documents/clip.part",
        "Documents/.tilvex-settings.json",
        "Documents/.tilvex-notes.txt.ab-cd!",
        "Media/DCIM/.tmp-holiday.jpg.abcdef",
        "Media/DCIM/IMG_0009.MOV.part",
        "Media/DCIM/.tilvex-album-backup/IMG_0001.MOV",
        "Documents/.tilvex-old.abc123/Video_0001",
        "Mail/Outbox/.tmp-draft.eml.x1y2z3",
        "Library/Preferences/colours.part",
    };
    for (const std::string& name : persons) std::ofstream(path(name)) << "a person's";
    // Empty, and each beside a name that looks like a leftover for it.
    const std::string personsEmpty[] = {"Media/DCIM/IMG_0009.MOV", "Mail/Outbox/draft.eml",
                                        "Documents/notes.txt"};
    for (const std::string& name : personsEmpty) std::ofstream{path(name)};
    std::vector<std::string> programs;
    for (const char* name : {"Documents/notes.txt", "Documents/Video_0007",
                             "Media/DCIM/IMG_0004.MOV", "Library/Preferences/defaults.plist"})
        programs.push_back(NSData::writeToTemporaryFile(Data{1}, path(name)));
    const std::string programsEmpty[] = {"Documents/Video_0007", "Media/DCIM/IMG_0004.MOV"};
    for (const std::string& name : programsEmpty) std::ofstream{path(name)};

    ProgramOutcome run = phone_.runScript("quit\n");
    ASSERT_EQ(run.status, 0) << run.out;
    for (const std::string& name : persons) {
        EXPECT_EQ(contents(path(name)), "a person's") << name;
    }
    for (const std::string& name : personsEmpty)
        EXPECT_TRUE(files.fileExistsAtPath(path(name))) << name;
    for (const std::string& leftover : programs)
        EXPECT_FALSE(files.entryExistsAtPath(leftover)) << leftover;
    for (const std::string& name : programsEmpty)
        EXPECT_FALSE(files.entryExistsAtPath(path(name))) << name;
}

// Killed at the first rename (as a file gets its name) or link of a run that exports to the
// album, sends by mail or stores a recording: no name in the album, the outbox or Documents holds
// less than the whole file, and the next launch removes what the cut-off write left (and
// leftovers planted in Library) while the same road then completes as usual.
struct CutOffCase {
    const char* name;
    const char* road;   // after the player of the one recording is open; "" records instead
    const char* calls;  // killed at the first of them
    const char* file;   // in the home
};
void PrintTo(const CutOffCase& c, std::ostream* out) {
    *out << c.name;
}
constexpr const char* kAlbumRoad =
    "sheet Save to Camera Roll\nwait-until progressPanel.hidden YES 30\n";
constexpr const char* kMailRoad =
    "sheet Email\nwait-until progressPanel.hidden YES 30\nmail send\n";

class CutOffWriteTest : public FaultTest, public ::testing::WithParamInterface<CutOffCase> {};

TEST_P(CutOffWriteTest, LeavesNoHalfFileAndIsClearedAtTheNextLaunch) {
    const CutOffCase& c = GetParam();
    auto& files = NSFileManager::defaultManager();
    // Long enough to be exported (a movie lasts a second at least).
    ProgramOutcome first = phone_.runScript("tap button\nwait 1.5\ntap button\n");
    ASSERT_EQ(first.status, 0) << first.out;
    const bool exports = c.road[0] != 0;
    const std::string road =
        exports ? "tap albumButton\nwait-until table.rows 1 5\nselect-row 0\ntap exportButton\n" +
                      std::string(c.road)
                : "tap button\nwait 0.5\ntap button\n";
    const std::string target = phone_.home() + "/" + c.file;
    std::string launcher = phone_.folder() / "cut-off.sh";
    std::ofstream(launcher) << "exec strace -f -qq -o /dev/null -e trace=" << c.calls
                            << " -e inject=" << c.calls << ":signal=KILL:when=1 \"$@\"\n";
    ProgramOutcome killed = phone_.runScript(road, Arguments(), Launcher({"sh", launcher}));
    ASSERT_TRUE(killed.status == 128 + SIGKILL || killed.signal == SIGKILL) << killed.out;
    // The whole file: a frame archive that reads back, or the movie of the export.
    auto expectWhole = [&] {
        if (!exports) {
            auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(target);
            ASSERT_TRUE(frames.has_value());
            EXPECT_FALSE(frames->arrayRef().empty());
            return;
        }
        auto movie = NSData::dataWithContentsOfFile(phone_.document("temp.mov"));
        ASSERT_TRUE(movie && movie->size() > 1000u);
        if (c.road == kAlbumRoad) {
            EXPECT_TRUE(NSData::dataWithContentsOfFile(target) == movie);
            return;
        }
        auto message = readMailMessage(target, phone_.folder().path());
        ASSERT_EQ(message["attachments"].size(), 1u);
        EXPECT_TRUE(NSData::dataWithContentsOfFile(
                        message["attachments"][0]["file"].get<std::string>()) == movie);
    };
    if (files.entryExistsAtPath(target)) {
        SCOPED_TRACE("after the kill");
        expectWhole();
    }

    std::vector<std::string> planted;
    for (const char* name : {"Library/uniqueIdentifier", "Library/Preferences/defaults.plist",
                             "Library/Cookies/Cookies.binarycookies"})
        planted.push_back(NSData::writeToTemporaryFile(Data{1}, phone_.home() + "/" + name));
    ProgramOutcome next = phone_.runScript(road);
    ASSERT_EQ(next.status, 0) << next.out;
    for (const std::string& path : planted) EXPECT_FALSE(files.entryExistsAtPath(path)) << path;
    for (const char* folder : {"Documents", "Media/DCIM", "Mail/Outbox"}) {
        const auto names = files.contentsOfDirectoryAtPath(phone_.home() + "/" + folder);
        for (const auto& name : names.value_or(std::vector<std::string>{}))
            EXPECT_TRUE(name[0] != '.' && !name.ends_with(".part"))
                << "left over: " << folder << "/" << name;
    }
    SCOPED_TRACE("after the next launch");
    expectWhole();
}

INSTANTIATE_TEST_SUITE_P(
    Roads, CutOffWriteTest,
    ::testing::Values(
        CutOffCase{"AlbumAtARename", kAlbumRoad, "rename", "Media/DCIM/IMG_0001.MOV"},
        CutOffCase{"AlbumAtALink", kAlbumRoad, "link,linkat", "Media/DCIM/IMG_0001.MOV"},
        CutOffCase{"OutboxAtARename", kMailRoad, "rename", "Mail/Outbox/Message_0001.eml"},
        CutOffCase{"OutboxAtALink", kMailRoad, "link,linkat", "Mail/Outbox/Message_0001.eml"},
        CutOffCase{"DocumentsAtARename", "", "rename", "Documents/Video_0002"}),
    [](const auto& info) { return std::string(info.param.name); });

// Quitting while recording with a collector that never answers: the recording is stored and
// saved before the upload waits, so it keeps its true length and survives a kill during that
// wait, whether the end comes from the script, SIGTERM or SIGINT.
TEST_F(FaultTest, ARecordingRunningAtTheEndIsStoredBeforeTheUploadWaits) {
    struct Case {
        const char* name;
        const char* script;
        const char* signal;  // sent 1.2 s into the recording, or nothing
    };
    const Case cases[] = {
        {"quit", "tap button\nwait 1.3\nquit\n", ""},
        {"SIGTERM", "tap button\nwait 60\n", "TERM"},
        {"SIGINT", "tap button\nwait 60\n", "INT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TilvexHome phone;
        const std::string asked = phone.folder() / "collector-asked";
        SilentCollector collector(asked);
        std::string launcher = phone.folder() / "end.sh";
        std::ofstream out(launcher);
        out << "\"$@\" & pid=$!\n" << waitFor(phone.document("Audio_0001.caf"));
        if (c.signal[0])
            out << "sleep 1.2; kill -" << c.signal << " $pid\n";
        out << "i=0; while [ ! -e '" << asked << "' ] && [ $i -lt 1000 ]; do sleep 0.02; "
            << "i=$((i+1)); done\nkill -KILL $pid\nwait $pid\n";
        out.close();
        ProgramOutcome killed = phone.runScript(
            c.script, Arguments("--analytics-url " + collector.url()), Launcher({"sh", launcher}));
        EXPECT_EQ(killed.status, 128 + SIGKILL) << killed.out;
        EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(asked))
            << "the upload at the end never reached the collector\n"
            << killed.out;
        auto rows = storedRows(phone.document("Videos.sqlite"));
        ASSERT_EQ(rows.size(), 1u) << killed.out;
        EXPECT_EQ(rows[0].title, "0:01");
        auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(phone.document(rows[0].videoPath));
        EXPECT_TRUE(frames && !frames->arrayRef().empty());
        EXPECT_TRUE(
            NSFileManager::defaultManager().fileExistsAtPath(phone.document(rows[0].thumbPath)));
    }
}

// Links planted among the application's files, some pointing nowhere: each takes its number, and
// a file that is replaced (temp.mov) replaces the link itself; no target is written or made.
TEST_F(FaultTest, LinksAmongItsFilesAreNeverWrittenThrough) {
    recordOneNormally();
    const std::string outside = phone_.folder() / "outside";
    fs::create_directory(outside);
    std::ofstream(outside + "/precious") << "precious";
    const std::pair<std::string, std::string> links[] = {
        {phone_.document("Audio_0002.caf"), outside + "/sound"},
        {phone_.document("Video_0002"), outside + "/precious"},
        {phone_.document("Thumbnail_0002.jpg"), outside + "/thumbnail"},
        {phone_.home() + "/Media/DCIM/IMG_0001.MOV", outside + "/album"},
        {phone_.document("temp.mov"), outside + "/precious"},
    };
    for (const auto& [link, target] : links) fs::create_symlink(target, link);

    ProgramOutcome run = phone_.runScript(
        "tap button\nwait 1.5\ntap button\n"
        "tap albumButton\nwait-until table.rows 2 5\nselect-row 0\ntap exportButton\n"
        "sheet Save to Camera Roll\nwait-until progressPanel.hidden YES 30\n");
    ASSERT_EQ(run.status, 0) << run.out;

    std::vector<std::string> made;
    for (const auto& entry : fs::directory_iterator(outside))
        made.push_back(entry.path().filename());
    EXPECT_EQ(made, std::vector<std::string>{"precious"}) << "a link was written through";
    EXPECT_TRUE(contents(outside + "/precious") == "precious") << "the link's target was written";
    for (const auto& [link, target] : links) {
        if (link == phone_.document("temp.mov"))
            continue;
        ASSERT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_EQ(fs::read_symlink(link), target);
    }
    EXPECT_FALSE(fs::is_symlink(phone_.document("temp.mov")));
    auto rows = storedRows(store());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].soundPath, "Audio_0003.caf");
    EXPECT_EQ(rows[1].videoPath, "Video_0003");
    EXPECT_EQ(rows[1].thumbPath, "Thumbnail_0003.jpg");
    auto movie = NSData::dataWithContentsOfFile(phone_.document("temp.mov"));
    ASSERT_TRUE(movie && movie->size() > 1000u);
    EXPECT_TRUE(NSData::dataWithContentsOfFile(phone_.home() + "/Media/DCIM/IMG_0002.MOV") ==
                movie);
    expectTheFirstRecordingIntact();
}

}  // namespace
