// CTest labels: threads

// The recording screen in this process, under the manual clock: the record/stop state machine,
// the title blink and the album button, with a real store in a temporary home (on a nearly full
// disk of its own for the store's failures).

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/Classes/TilvexAppDelegate.h"
#include "app/Classes/TilvexViewController.h"
#include "app/RecordingStore.h"
#include "app/Video.h"
#include "platform/Device/Compositor.h"
#include "platform/Device/DeviceHome.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Device/Microphone.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/UIKit/UIApplication.h"
#include "tests/app/StoreConnection.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/NoNewThreads.h"
#include "tests/support/RunLoopTesting.h"
#include "tests/support/TemporaryFolder.h"

namespace {

class TilvexViewControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DeviceHome::prepare(home_.path()));
        Microphone::setDeviceInput("lavfi:sine=frequency=440:sample_rate=44100");
        // Something on screen to grab.
        Compositor().compose(nullptr);
        delegate_ = std::make_shared<TilvexAppDelegate>();
        controller_ = std::make_shared<TilvexViewController>();
        controller_->setNibName("TilvexViewController");
        controller_->setManagedObjectContext(delegate_->managedObjectContext().get());
        controller_->view();
    }
    void TearDown() override { NSSetHomeDirectory(""); }

    UIButton& button() { return *controller_->button(); }
    std::string title() { return button().titleForState(UIControlStateNormal); }
    UIColor titleColor() { return button().titleColorForState(UIControlStateNormal); }
    size_t storedRecordings() {
        NSFetchRequest request;
        request.setEntity(delegate_->managedObjectContext()->entityForName("Video"));
        return delegate_->managedObjectContext()->executeFetchRequest(request, nullptr)->size();
    }
    std::shared_ptr<Video> onlyRecording() {
        NSFetchRequest request;
        request.setEntity(delegate_->managedObjectContext()->entityForName("Video"));
        auto rows = *delegate_->managedObjectContext()->executeFetchRequest(request, nullptr);
        return rows.size() == 1 ? std::static_pointer_cast<Video>(rows[0]) : nullptr;
    }

    static std::string storeFile() { return DeviceHome::documents() + "/Videos.sqlite"; }
    static bool exists(const std::string& path) {
        return NSFileManager::defaultManager().fileExistsAtPath(path);
    }
    // The three files of every row saved in the store exist.
    static void expectEverySavedRowWhole() {
        for (const StoredRow& row : storedRows(storeFile()))
            for (const auto& name : {row.videoPath, row.soundPath, row.thumbPath})
                EXPECT_TRUE(exists(DeviceHome::documents() + "/" + name)) << name;
    }
    // Records one recording (no time passes) with another connection holding the store's write
    // lock across the stop, longer than the store waits for it.
    void recordWhileTheStoreIsLocked(double seconds = 0) {
        StoreConnection other(storeFile());
        ASSERT_TRUE(other.holdWriteLock());
        controller_->buttonPressed();
        time_.advance(seconds);
        controller_->buttonPressed();
        auto alert = UIAlertView::topAlert();
        ASSERT_TRUE(alert) << "the failed save went unnoticed";
        EXPECT_EQ(alert->title(), "Error");
        EXPECT_NE(alert->message().find("database is locked"), std::string::npos)
            << alert->message();
        alert->pressButtonWithTitle("OK");
    }

    // The intent records in Documents.
    static std::vector<std::string> intentRecords() {
        std::vector<std::string> records;
        auto names =
            NSFileManager::defaultManager().contentsOfDirectoryAtPath(DeviceHome::documents());
        for (const auto& name : names.value_or(std::vector<std::string>{}))
            if (name.ends_with(RecordingStore::kIntentExtension))
                records.push_back(name);
        return records;
    }
    // What the next launch does with the store: a context of its own, restoring what is due.
    static std::shared_ptr<NSManagedObjectContext> relaunch(
        std::shared_ptr<TilvexAppDelegate>* keep) {
        *keep = std::make_shared<TilvexAppDelegate>();
        auto context = (*keep)->managedObjectContext();
        RecordingStore::restoreUnsavedRecordings(context.get());
        return context;
    }

    TemporaryFolder home_;
    ManualClockScope time_;
    std::shared_ptr<TilvexAppDelegate> delegate_;
    std::shared_ptr<TilvexViewController> controller_;
};

TEST_F(TilvexViewControllerTest, TheTitleBlinksRedAndBlackEveryHalfSecondWhileRecording) {
    const UIColor black = UIColor::blackColor();
    const UIColor red = TilvexViewController::kBlinkRed;
    EXPECT_EQ(red.description(), "0.482353 0.0705882 0.0705882 1");
    controller_->buttonPressed();
    ASSERT_EQ(title(), "Stop");
    // (seconds since the press, colour then)
    const std::pair<double, UIColor> steps[] = {
        {0.49, black}, {0.5, red}, {0.99, red}, {1.0, black}, {1.5, red}, {2.0, black},
    };
    double now = 0;
    for (const auto& [at, colour] : steps) {
        time_.advance(at - now);
        now = at;
        EXPECT_EQ(titleColor(), colour) << "at " << at << " s";
    }
    time_.advance(0.6);  // red again
    controller_->buttonPressed();
    EXPECT_EQ(title(), "Record");
    EXPECT_EQ(titleColor(), black);
    time_.advance(3);
    EXPECT_EQ(titleColor(), black) << "a blink survived the stop";
}

TEST_F(TilvexViewControllerTest, AStopWithinTheFirstHalfSecondCancelsTheRed) {
    controller_->buttonPressed();
    time_.advance(0.3);
    controller_->buttonPressed();
    time_.advance(2);
    EXPECT_EQ(titleColor(), UIColor::blackColor());
    EXPECT_EQ(storedRecordings(), 1u);
}

TEST_F(TilvexViewControllerTest, TheAlbumButtonIsDisabledFromThePressToTheEndOfTheStop) {
    auto album = controller_->albumButton();
    EXPECT_TRUE(album->isEnabled());
    controller_->buttonPressed();
    EXPECT_FALSE(album->isEnabled());
    time_.advance(1);
    EXPECT_FALSE(album->isEnabled());
    controller_->buttonPressed();
    EXPECT_TRUE(album->isEnabled());
}

TEST_F(TilvexViewControllerTest, AnyOtherTitleMakesTheButtonDoNothing) {
    button().setTitle("Wait", UIControlStateNormal);
    controller_->buttonPressed();
    controller_->saveUnfinished(
        NSNotification("UIApplicationWillResignActiveNotification", nullptr, Value()));
    EXPECT_EQ(title(), "Wait");
    EXPECT_TRUE(controller_->albumButton()->isEnabled());
    auto documents =
        NSFileManager::defaultManager().contentsOfDirectoryAtPath(DeviceHome::documents());
    for (const auto& name : *documents) EXPECT_FALSE(name.starts_with("Audio_")) << name;
}

TEST_F(TilvexViewControllerTest, TheTitleIsTheDurationAndTheRowIsSavedAtOnce) {
    controller_->buttonPressed();
    NSDate started = NSDate::date();
    time_.advance(75.5);
    controller_->buttonPressed();
    auto video = onlyRecording();
    ASSERT_TRUE(video);
    EXPECT_EQ(video->title(), "1:15");
    EXPECT_EQ(video->creationDate(), started);
    EXPECT_FALSE(delegate_->managedObjectContext()->hasChanges());
    for (const auto& name : {video->videoPath(), video->soundPath(), video->thumbPath()})
        EXPECT_TRUE(
            NSFileManager::defaultManager().fileExistsAtPath(DeviceHome::documents() + "/" + name))
            << name;
}

TEST_F(TilvexViewControllerTest, ARecordingWithoutAnyFrameStoresNothingAndSaysWhy) {
    Screen::mainScreen().setLastComposed(nullptr);
    controller_->buttonPressed();
    time_.advance(1);
    controller_->buttonPressed();
    EXPECT_EQ(storedRecordings(), 0u);
    auto alert = UIAlertView::topAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Error");
    EXPECT_NE(alert->message().find("no picture"), std::string::npos) << alert->message();
    alert->pressButtonWithTitle("OK");
    auto documents =
        NSFileManager::defaultManager().contentsOfDirectoryAtPath(DeviceHome::documents());
    for (const auto& name : *documents)
        EXPECT_TRUE(name == "Videos.sqlite" || name == "Videos.sqlite-journal") << name;
    EXPECT_EQ(title(), "Record");
    EXPECT_TRUE(controller_->albumButton()->isEnabled());
}

// A save that meets a lock keeps the recording: the alert says why at once, the album shows it,
// and the next save stores it once the lock has gone, the next recording's or the termination's.
// A press while no thread can start (the process is out of address space): the capture thread
// cannot start, so the screen stays idle, the alert "Error" says why and no sound file is left.
TEST_F(TilvexViewControllerTest, ARecordingWhoseThreadCannotStartShowsAnErrorAndLeavesNothing) {
    {
        NoNewThreads noThreads;
        controller_->buttonPressed();
    }
    EXPECT_EQ(title(), "Record");
    EXPECT_TRUE(controller_->albumButton()->isEnabled());
    auto alert = UIAlertView::topAlert();
    ASSERT_TRUE(alert) << "the failure went unnoticed";
    EXPECT_EQ(alert->title(), "Error");
    EXPECT_NE(alert->message().find("no thread can start"), std::string::npos) << alert->message();
    alert->pressButtonWithTitle("OK");
    auto files = NSFileManager::defaultManager().contentsOfDirectoryAtPath(DeviceHome::documents());
    for (const auto& name : files.value_or(std::vector<std::string>{}))
        EXPECT_FALSE(name.starts_with("Audio_")) << name;

    // Once threads start again, so does a recording.
    controller_->buttonPressed();
    EXPECT_EQ(title(), "Stop");
    controller_->buttonPressed();
    EXPECT_EQ(storedRecordings(), 1u);
}

TEST_F(TilvexViewControllerTest, ARecordingWhoseSaveMeetsALockIsKeptForTheNextSave) {
    recordWhileTheStoreIsLocked();
    EXPECT_TRUE(delegate_->managedObjectContext()->hasChanges());
    EXPECT_EQ(storedRecordings(), 1u) << "the album no longer shows the recording";
    EXPECT_TRUE(storedRows(storeFile()).empty());
    controller_->buttonPressed();
    controller_->buttonPressed();
    EXPECT_FALSE(UIAlertView::topAlert());
    EXPECT_EQ(storedRows(storeFile()).size(), 2u) << "the next recording's save stores both";

    recordWhileTheStoreIsLocked();
    delegate_->applicationWillTerminate(UIApplication::sharedApplication().get());
    EXPECT_FALSE(delegate_->managedObjectContext()->hasChanges());
    EXPECT_EQ(storedRows(storeFile()).size(), 3u) << "the termination's save stores it";
    expectEverySavedRowWhole();
}

// A recording whose saves all fail until the end (the process goes without storing it): the
// next launch that can save restores its row, with its duration and date, once; a launch that
// cannot save keeps it for the one after.
TEST_F(TilvexViewControllerTest, ARecordingNeverSavedIsRestoredByTheNextLaunchThatCanSave) {
    const NSDate started = NSDate::date();
    recordWhileTheStoreIsLocked(75.5);
    ASSERT_EQ(intentRecords().size(), 1u);
    std::shared_ptr<TilvexAppDelegate> next;
    {
        StoreConnection other(storeFile());
        ASSERT_TRUE(other.holdWriteLock());
        auto locked = relaunch(&next);
        EXPECT_FALSE(locked->hasChanges());
    }
    EXPECT_TRUE(storedRows(storeFile()).empty());
    ASSERT_EQ(intentRecords().size(), 1u) << "a launch that could not save lost the recording";

    for (int launch = 0; launch < 2; ++launch) {
        relaunch(&next);
        auto rows = storedRows(storeFile());
        ASSERT_EQ(rows.size(), 1u) << launch;
        EXPECT_EQ(rows[0].title, "1:15");
        EXPECT_EQ(rows[0].creationDate, started.timeIntervalSinceReferenceDate());
        EXPECT_TRUE(intentRecords().empty());
    }
    expectEverySavedRowWhole();
}

// A recording kept unsaved and then deleted from the album goes for good, files and all.
TEST_F(TilvexViewControllerTest, AnUnsavedRecordingThatIsDeletedNeverComesBack) {
    recordWhileTheStoreIsLocked();
    auto video = onlyRecording();
    ASSERT_TRUE(video);
    EXPECT_TRUE(
        RecordingStore::deleteRecording(delegate_->managedObjectContext().get(), video, nullptr));
    EXPECT_FALSE(delegate_->managedObjectContext()->hasChanges());
    for (const auto& name : {video->videoPath(), video->soundPath(), video->thumbPath()})
        EXPECT_FALSE(exists(DeviceHome::documents() + "/" + name)) << name;
    std::shared_ptr<TilvexAppDelegate> next;
    relaunch(&next);
    EXPECT_TRUE(storedRows(storeFile()).empty());
    EXPECT_TRUE(intentRecords().empty());
}

// A row whose files a person removed by hand keeps its names: the next recording takes others,
// and deleting the stale row leaves the new recording whole.
TEST_F(TilvexViewControllerTest, ANewRecordingNeverTakesTheNamesOfARowWhoseFilesWentMissing) {
    controller_->buttonPressed();
    controller_->buttonPressed();
    auto stale = onlyRecording();
    ASSERT_TRUE(stale);
    for (const auto& name : {stale->videoPath(), stale->soundPath(), stale->thumbPath()})
        ASSERT_TRUE(
            NSFileManager::defaultManager().removeItemAtPath(DeviceHome::documents() + "/" + name));
    controller_->buttonPressed();
    controller_->buttonPressed();
    ASSERT_EQ(storedRows(storeFile()).size(), 2u);
    EXPECT_TRUE(
        RecordingStore::deleteRecording(delegate_->managedObjectContext().get(), stale, nullptr));
    auto rows = storedRows(storeFile());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(rows[0].videoPath, stale->videoPath());
    EXPECT_NE(rows[0].soundPath, stale->soundPath());
    EXPECT_NE(rows[0].thumbPath, stale->thumbPath());
    expectEverySavedRowWhole();
}

// A reader (a backup tool, an sqlite3 shell) that holds the store for a moment while a Stop
// saves: the save waits for it rather than failing.
TEST_F(TilvexViewControllerTest, AReaderHoldingTheStoreForAMomentDoesNotFailTheStop) {
    StoreConnection reader(storeFile());
    ASSERT_TRUE(reader.holdReadTransaction());
    // The reader lets go once the save waits for it: the save's journal is there.
    std::thread letGo([&reader] {
        const std::string journal = storeFile() + "-journal";
        for (int i = 0; i < 10000 && !exists(journal); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        reader.release();
    });
    controller_->buttonPressed();
    controller_->buttonPressed();
    letGo.join();
    auto alert = UIAlertView::topAlert();
    EXPECT_FALSE(alert) << alert->message();
    if (alert)
        alert->pressButtonWithTitle("OK");
    EXPECT_FALSE(delegate_->managedObjectContext()->hasChanges());
    EXPECT_EQ(storedRows(storeFile()).size(), 1u);
    expectEverySavedRowWhole();
}

// The home on a small file system of its own, filled so that a recording's files fit but the
// store's journal does not: the save after the recording fails.
class NearlyFullDiskTest : public TilvexViewControllerTest {
  protected:
    void SetUp() override {
        if (::mount("tilvex-test", home_.path().c_str(), "tmpfs", 0, "size=4m,mode=0755") != 0)
            GTEST_SKIP() << "no small file system can be mounted here: " << std::strerror(errno);
        mounted_ = true;
        TilvexViewControllerTest::SetUp();
    }
    void TearDown() override {
        TilvexViewControllerTest::TearDown();
        if (mounted_)
            ::umount2(home_.path().c_str(), MNT_DETACH);
    }
    static uintmax_t blocks(const std::string& path) {
        const uintmax_t size = std::filesystem::file_size(path);
        return (size + kBlock - 1) / kBlock * kBlock;
    }
    // Fills the disk until `room` bytes stay free.
    void leaveFree(uintmax_t room) {
        struct statvfs disk {};
        ASSERT_EQ(::statvfs(home_.path().c_str(), &disk), 0);
        const uintmax_t free = static_cast<uintmax_t>(disk.f_bavail) * disk.f_frsize;
        ASSERT_GT(free, room);
        std::ofstream(home_ / "filler") << std::string(free - room, 'x');
        ASSERT_EQ(::statvfs(home_.path().c_str(), &disk), 0);
        ASSERT_EQ(static_cast<uintmax_t>(disk.f_bavail) * disk.f_frsize, room);
    }
    static constexpr uintmax_t kBlock = 4096;
    bool mounted_ = false;
};

TEST_F(NearlyFullDiskTest, ARecordingWhoseSaveFailsIsKeptUntilThereIsRoomAndTheAlertSaysWhy) {
    // No time passes while recording: each recording holds the one frame grabbed at its start,
    // the same picture, so the second one's files take exactly the room of the first one's.
    controller_->buttonPressed();
    controller_->buttonPressed();
    auto first = onlyRecording();
    ASSERT_TRUE(first);
    const std::string documents = DeviceHome::documents() + "/";
    // Room for the archive, the thumbnail and the sound file's header; none for the journal.
    leaveFree(blocks(documents + first->videoPath()) + blocks(documents + first->thumbPath()) +
              kBlock);

    controller_->buttonPressed();
    controller_->buttonPressed();
    auto alert = UIAlertView::topAlert();
    ASSERT_TRUE(alert) << "the failed save went unnoticed";
    EXPECT_EQ(alert->title(), "Error");
    EXPECT_NE(alert->message().find("disk is full"), std::string::npos) << alert->message();
    alert->pressButtonWithTitle("OK");
    EXPECT_TRUE(delegate_->managedObjectContext()->hasChanges());
    EXPECT_EQ(storedRecordings(), 2u);
    for (const char* name : {"Video_0002", "Audio_0002.caf", "Thumbnail_0002.jpg"})
        EXPECT_TRUE(exists(documents + name)) << name;
    // Room again: the termination's save stores it.
    std::filesystem::remove(home_ / "filler");
    delegate_->applicationWillTerminate(UIApplication::sharedApplication().get());
    auto saved = storedRows(DeviceHome::documents() + "/Videos.sqlite");
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].videoPath, first->videoPath());
    EXPECT_EQ(saved[1].videoPath, "Video_0002");
    expectEverySavedRowWhole();
}

}  // namespace
