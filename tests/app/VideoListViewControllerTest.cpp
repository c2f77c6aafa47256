// The album: its rows from the store, deletion, edit mode and opening the player, in a temporary
// home with a real store, presented the way the album button presents it.

#include "app/VideoListViewController.h"

#include <gtest/gtest.h>

#include "app/NSString-PathAdditions.h"
#include "platform/CoreData/NSFetchRequest.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UIWindow.h"
#include "tests/app/StoreConnection.h"
#include "tests/app/StoredRecordings.h"
#include "tests/app/TilvexProgram.h"
#include "tests/support/NamedPipe.h"

namespace {

// 2011-03-13 10:00 (in the test's zone whatever it is: only the order and the texts matter).
NSDate at(int minutesAfterTen) {
    return NSDate::dateWithTimeIntervalSince1970(1300010400.0 + 60.0 * minutesAfterTen);
}

class VideoListViewControllerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& alert : UIAlertView::visibleAlerts())
            alert->dismissWithClickedButtonIndex(0, false);
    }

    // The album as the album button opens it: in a navigation controller with a Done item,
    // presented over a screen on a visible window.
    void open() {
        list = VideoListViewController::initWithContext(store.context());
        list->setWantsFullScreenLayout(true);
        navigation = UINavigationController::initWithRootViewController(list);
        navigation->navigationBar()->setBarStyle(UIBarStyleBlackTranslucent);
        done = UIBarButtonItem::initWithBarButtonSystemItem(UIBarButtonSystemItemDone, navigation,
                                                            [] {});
        list->navigationItem()->setRightBarButtonItem(done);
        window->makeKeyAndVisible();
        window->addSubview(screen->view());
        screen->presentModalViewController(navigation, true);
    }
    UITableView& table() { return *list->tableView(); }
    std::shared_ptr<UITableViewCell> cell(int row) {
        return table().cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    }
    size_t savedRows() {
        auto context = store.freshContext();
        NSFetchRequest request;
        request.setEntity(context->entityForName("Video"));
        return context->executeFetchRequest(request, nullptr)->size();
    }

    ManualClockScope time;
    StoredRecordings store;
    std::shared_ptr<UIWindow> window = UIWindow::initWithFrame(CGRectMake(0, 0, 320, 480));
    std::shared_ptr<UIViewController> screen = std::make_shared<UIViewController>();
    std::shared_ptr<VideoListViewController> list;
    std::shared_ptr<UINavigationController> navigation;
    std::shared_ptr<UIBarButtonItem> done;
};

TEST_F(VideoListViewControllerTest, AnEmptyStoreGivesNoRowsAndAnEditButton) {
    open();
    EXPECT_EQ(list->title(), "Videos");
    EXPECT_EQ(table().numberOfRowsInSection(0), 0);
    EXPECT_EQ(table().rowHeight(), 60.0);
    // Full screen under the translucent bars, the first row below the navigation bar.
    EXPECT_EQ(table().frame(), CGRectMake(0, 0, 320, 480));
    EXPECT_EQ(table().contentInsetTop(), 64.0);
    EXPECT_EQ(list->navigationItem()->leftBarButtonItem(), list->editButtonItem());
    EXPECT_EQ(navigation->navigationBar()->itemNamed("edit"), list->editButtonItem());
}

TEST_F(VideoListViewControllerTest, RowsAreNewestFirstWithDurationDateAndThumbnail) {
    store.add(at(0), 10, 1.0, time.clock());
    store.add(at(10), 10, 75.5, time.clock());
    store.add(at(5), 10, 2.0, time.clock());
    open();
    ASSERT_EQ(table().numberOfRowsInSection(0), 3);
    const char* titles[] = {"1:15", "0:02", "0:01"};
    const int minutes[] = {10, 5, 0};
    for (int row = 0; row < 3; ++row) {
        auto c = cell(row);
        ASSERT_TRUE(c) << row;
        EXPECT_EQ(c->reuseIdentifier(), "Cell");
        EXPECT_EQ(c->textLabel()->text(), titles[row]);
        EXPECT_EQ(c->detailTextLabel()->text(), PathAdditions::stringFromDate(at(minutes[row])));
        ASSERT_TRUE(c->imageView()->image()) << row;
        EXPECT_EQ(c->imageView()->image()->size(), CGSizeMake(320, 320));
    }
}

TEST_F(VideoListViewControllerTest, ARowWithoutAReadableThumbnailShowsNoImage) {
    auto missing = store.add(at(0), 10, 1.0, time.clock());
    // A damaged row naming a picture outside Documents that exists.
    auto damaged = store.add(at(1), 10, 1.0, time.clock());
    auto picture = NSData::dataWithContentsOfFile(PathAdditions::appendPath(damaged->thumbPath()));
    ASSERT_TRUE(picture);
    ASSERT_TRUE(NSData::writeToFile(*picture, store.documents() + "/../outside.jpg", false));
    damaged->setThumbPath("../outside.jpg");
    ASSERT_TRUE(NSFileManager::defaultManager().removeItemAtPath(
        PathAdditions::appendPath(missing->thumbPath())));
    open();
    ASSERT_EQ(table().numberOfRowsInSection(0), 2);
    EXPECT_FALSE(cell(0)->imageView()->image());
    EXPECT_FALSE(cell(1)->imageView()->image());
    EXPECT_EQ(cell(1)->textLabel()->text(), "0:01");
}

TEST_F(VideoListViewControllerTest, DeleteRemovesTheThreeFilesThenTheSavedRow) {
    auto kept = store.add(at(0), 10, 1.0, time.clock());
    auto gone = store.add(at(5), 10, 1.0, time.clock());
    open();
    ASSERT_TRUE(store.exists(gone->videoPath()));
    EXPECT_TRUE(table().commitDeleteOnRow(0));
    for (const auto& name : {gone->videoPath(), gone->soundPath(), gone->thumbPath()})
        EXPECT_FALSE(store.exists(name)) << name;
    for (const auto& name : {kept->videoPath(), kept->soundPath(), kept->thumbPath()})
        EXPECT_TRUE(store.exists(name)) << name;
    EXPECT_EQ(savedRows(), 1u);
    EXPECT_EQ(list->eventsArray().size(), 1u);
    ASSERT_EQ(table().numberOfRowsInSection(0), 1);
    EXPECT_EQ(cell(0)->detailTextLabel()->text(), PathAdditions::stringFromDate(at(0)));

    EXPECT_TRUE(table().commitDeleteOnRow(0));
    EXPECT_EQ(table().numberOfRowsInSection(0), 0);
    EXPECT_EQ(savedRows(), 0u);
}

// A delete whose save fails (another program holds the store's write lock longer than the store
// waits) says why, and the store still holds the whole row: its files are removed only once
// the row's removal is saved.
TEST_F(VideoListViewControllerTest, ADeleteWhoseSaveFailsSaysWhyAndLeavesTheWholeRow) {
    auto video = store.add(at(0), 10, 1.0, time.clock());
    const std::string storeFile = store.documents() + "/Videos.sqlite";
    open();
    {
        StoreConnection other(storeFile);
        ASSERT_TRUE(other.holdWriteLock());
        EXPECT_TRUE(table().commitDeleteOnRow(0));
    }
    auto alert = UIAlertView::topAlert();
    ASSERT_TRUE(alert) << "the failed save went unnoticed";
    EXPECT_EQ(alert->title(), "Error");
    EXPECT_NE(alert->message().find("database is locked"), std::string::npos) << alert->message();
    auto rows = storedRows(storeFile);
    ASSERT_EQ(rows.size(), 1u);
    for (const auto& name : {rows[0].videoPath, rows[0].soundPath, rows[0].thumbPath})
        EXPECT_TRUE(store.exists(name)) << name;
}

// A delete whose save fails leaves its files only until a later save stores the removal: after
// the next delete every file of both rows is gone, and no row is left.
TEST_F(VideoListViewControllerTest, AFailedDeletesFilesGoWithTheSaveThatStoresIt) {
    auto first = store.add(at(0), 10, 1.0, time.clock());
    auto second = store.add(at(5), 10, 1.0, time.clock());
    const std::string storeFile = store.documents() + "/Videos.sqlite";
    open();
    {
        StoreConnection other(storeFile);
        ASSERT_TRUE(other.holdWriteLock());
        EXPECT_TRUE(table().commitDeleteOnRow(0));
    }
    ASSERT_TRUE(UIAlertView::topAlert());
    UIAlertView::topAlert()->pressButtonWithTitle("OK");
    EXPECT_TRUE(store.exists(second->videoPath())) << "files went before their row";
    EXPECT_TRUE(table().commitDeleteOnRow(0));
    EXPECT_FALSE(UIAlertView::topAlert());
    EXPECT_EQ(savedRows(), 0u);
    for (const auto& video : {first, second}) {
        for (const auto& name : {video->videoPath(), video->soundPath(), video->thumbPath()})
            EXPECT_FALSE(store.exists(name)) << name;
    }
}

// A row naming what is no file of its own (the store, the analytics folder, a path outside
// Documents, another row's file, a folder under a recording name): its delete removes the row
// and leaves every such file; the other row stays whole.
TEST_F(VideoListViewControllerTest, ADeleteRemovesOnlyTheRecordingsOwnPlainFiles) {
    auto& files = NSFileManager::defaultManager();
    ASSERT_TRUE(files.createDirectoryAtPath(store.documents() + "/halvorn", true));
    ASSERT_TRUE(NSData::writeToFile(Data{1}, store.documents() + "/halvorn/cache.sql", false));
    ASSERT_TRUE(NSData::writeToFile(Data{1}, store.documents() + "/../x", false));
    ASSERT_TRUE(files.createDirectoryAtPath(store.documents() + "/Thumbnail_0099.jpg", true));
    ASSERT_TRUE(NSData::writeToFile(Data{1}, store.documents() + "/Thumbnail_0099.jpg/a", false));
    auto kept = store.add(at(0), 10, 1.0, time.clock());
    struct Case {
        const char* name;
        std::function<void(Video&)> damage;
        std::string survivor;  // in Documents
    };
    const Case cases[] = {
        {"the store", [](Video& v) { v.setThumbPath("Videos.sqlite"); }, "Videos.sqlite"},
        {"the analytics folder", [](Video& v) { v.setThumbPath("halvorn"); }, "halvorn/cache.sql"},
        {"outside Documents", [](Video& v) { v.setVideoPath("../x"); }, "../x"},
        {"another row's sound", [&](Video& v) { v.setSoundPath(kept->soundPath()); },
         kept->soundPath()},
        {"another row's archive as its own", [&](Video& v) { v.setVideoPath(kept->videoPath()); },
         kept->videoPath()},
        {"a folder", [](Video& v) { v.setThumbPath("Thumbnail_0099.jpg"); },
         "Thumbnail_0099.jpg/a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto victim = store.add(at(10), 10, 1.0, time.clock());
        c.damage(*victim);
        ASSERT_TRUE(store.context()->save(nullptr));
        open();
        ASSERT_EQ(table().numberOfRowsInSection(0), 2);
        EXPECT_TRUE(table().commitDeleteOnRow(0));
        EXPECT_TRUE(files.fileExistsAtPath(store.documents() + "/" + c.survivor));
        for (const auto& name : {kept->videoPath(), kept->soundPath(), kept->thumbPath()})
            EXPECT_TRUE(store.exists(name)) << name;
        EXPECT_EQ(storedRows(store.documents() + "/Videos.sqlite").size(), 1u);
        screen->dismissModalViewControllerAnimated(false);
    }
}

TEST_F(VideoListViewControllerTest, ADamagedRowIsDeletedWithoutTouchingAnyFile) {
    auto video = store.add(at(0), 10, 1.0, time.clock());
    const std::string outside = store.documents() + "/../keep.me";
    ASSERT_TRUE(NSData::writeToFile(Data{1}, outside, false));
    const std::string sound = video->soundPath();
    video->setVideoPath("../keep.me");
    ASSERT_TRUE(store.context()->save(nullptr));
    open();
    EXPECT_TRUE(table().commitDeleteOnRow(0));
    EXPECT_TRUE(NSFileManager::defaultManager().fileExistsAtPath(outside));
    EXPECT_TRUE(store.exists(sound)) << "a damaged row's files are left alone";
    EXPECT_EQ(savedRows(), 0u);
}

TEST_F(VideoListViewControllerTest, EditModeSetsDoneAsideAndBringsTheSameItemBack) {
    store.add(at(0), 10, 1.0, time.clock());
    open();
    auto bar = navigation->navigationBar();
    EXPECT_TRUE(bar->pressItemNamed("edit"));
    EXPECT_TRUE(list->isEditing());
    EXPECT_TRUE(table().isEditing());
    EXPECT_EQ(list->navigationItem()->rightBarButtonItem(), nullptr);
    EXPECT_EQ(list->doneButtonItem(), done);
    EXPECT_FALSE(bar->pressItemNamed("done")) << "the album cannot be closed while editing";
    EXPECT_EQ(list->editButtonItem()->title(), "Done");
    EXPECT_TRUE(bar->pressItemNamed("edit"));
    EXPECT_FALSE(list->isEditing());
    EXPECT_EQ(list->navigationItem()->rightBarButtonItem(), done);
    EXPECT_EQ(list->doneButtonItem(), nullptr);
}

TEST_F(VideoListViewControllerTest, SelectingARowPushesThePlayerOnItsRecording) {
    auto video = store.add(at(0), 30, 3.0, time.clock());
    open();
    ASSERT_TRUE(table().selectRow(0));
    auto player =
        std::dynamic_pointer_cast<VideoPlayerViewController>(navigation->topViewController());
    ASSERT_TRUE(player);
    EXPECT_EQ(list->videoPlayer(), player);
    EXPECT_EQ(player->images().size(), 30u);
    ASSERT_TRUE(player->player());
    EXPECT_EQ(player->player()->url(), PathAdditions::appendPath(video->soundPath()));
    EXPECT_EQ(player->title(), PathAdditions::stringFromDate(at(0)));
    // The album's Done closes it from the player as well.
    EXPECT_EQ(player->navigationItem()->rightBarButtonItem(), done);
    EXPECT_TRUE(navigation->navigationBar()->showsBackButton());
}

TEST_F(VideoListViewControllerTest, ARecordingThatCannotBeOpenedShowsAnErrorAndNoPlayer) {
    struct Case {
        const char* what;
        std::function<void(Video&)> damage;
    };
    const Case cases[] = {
        {"missing archive",
         [](Video& v) {
             NSFileManager::defaultManager().removeItemAtPath(
                 PathAdditions::appendPath(v.videoPath()));
         }},
        {"unreadable archive",
         [](Video& v) {
             NSData::writeToFile(Data{'n', 'o'}, PathAdditions::appendPath(v.videoPath()), false);
         }},
        {"archive name with a slash", [](Video& v) { v.setVideoPath("sub/Video_0001"); }},
        {"sound name ..", [](Video& v) { v.setSoundPath(".."); }},
        {"empty archive name", [](Video& v) { v.setVideoPath(""); }},
    };
    for (const Case& c : cases) {
        auto video = store.add(at(0), 10, 1.0, time.clock());
        c.damage(*video);
        open();
        EXPECT_TRUE(table().selectRow(0)) << c.what;
        EXPECT_EQ(navigation->topViewController(), list) << c.what;
        auto alert = UIAlertView::topAlert();
        ASSERT_TRUE(alert) << c.what;
        EXPECT_EQ(alert->title(), "Error");
        EXPECT_EQ(alert->buttonTitleAtIndex(0), "OK");
        EXPECT_TRUE(alert->pressButtonWithTitle("OK"));
        screen->dismissModalViewControllerAnimated(false);
        store.context()->deleteObject(video);
        ASSERT_TRUE(store.context()->save(nullptr));
    }
}

// A named pipe in place of one of a recording's files is that file missing: the album shows the
// row, opening it goes the missing file's road, and nothing waits for a writer that never comes.
TEST_F(VideoListViewControllerTest, ANamedPipeInPlaceOfAFileIsThatFileMissing) {
    enum class Road { NoThumbnail, Error, PlayerWithoutSound };
    struct Case {
        const char* what;
        std::string (Video::*file)() const;
        Road road;
    };
    for (const Case& c : {Case{"thumbnail", &Video::thumbPath, Road::NoThumbnail},
                          Case{"frame archive", &Video::videoPath, Road::Error},
                          Case{"sound file", &Video::soundPath, Road::PlayerWithoutSound}}) {
        auto video = store.add(at(0), 10, 1.0, time.clock());
        const std::string path = PathAdditions::appendPath(((*video).*c.file)());
        ASSERT_TRUE(NSFileManager::defaultManager().removeItemAtPath(path));
        NamedPipe pipe(path);
        ASSERT_TRUE(pipe) << c.what;
        WaitAlarm alarm;
        ASSERT_TRUE(alarm);
        open();
        ASSERT_EQ(table().numberOfRowsInSection(0), 1) << c.what;
        EXPECT_EQ(cell(0)->imageView()->image() == nullptr, c.road == Road::NoThumbnail) << c.what;
        EXPECT_TRUE(table().selectRow(0)) << c.what;
        auto player =
            std::dynamic_pointer_cast<VideoPlayerViewController>(navigation->topViewController());
        if (c.road == Road::PlayerWithoutSound) {
            ASSERT_TRUE(player) << c.what;
            EXPECT_FALSE(player->player()) << c.what;
        } else if (c.road == Road::Error) {
            EXPECT_FALSE(player) << c.what;
            auto alert = UIAlertView::topAlert();
            ASSERT_TRUE(alert) << c.what;
            EXPECT_EQ(alert->title(), "Error") << c.what;
            EXPECT_TRUE(alert->pressButtonWithTitle("OK"));
        } else {
            EXPECT_TRUE(player) << c.what;
        }
        EXPECT_FALSE(alarm.rang()) << c.what << ": something waited on the pipe";
        screen->dismissModalViewControllerAnimated(false);
        store.context()->deleteObject(video);
        ASSERT_TRUE(store.context()->save(nullptr));
    }
}

}  // namespace
