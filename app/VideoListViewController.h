#pragma once
// The album: a table of the stored recordings, newest first, each row showing the duration, the
// date and the thumbnail. A row can be deleted (its Video row, saved at once, then its three
// files, RecordingStore::deleteRecording); selecting one pushes the player on that recording. The
// rows are fetched once, when the list is made; a new list is made at every opening of the album.
//
// A row whose file names are not bare names (empty, holding a "/", or "." or "..": a damaged
// store) is never joined to the Documents path: it shows no thumbnail, and opening it shows the
// alert "Error" like a frame archive that is missing or cannot be read, without pushing a player.
// A delete removes files of the recording names only, never one that another row names.
//
// The recording's files are read as RegularFiles: a named pipe (or anything but a regular file)
// in place of the thumbnail, the frame archive or the sound file is that file missing, never
// waited on. A frame archive whose elements name one frame share it; the reason an archive is
// refused goes to the log beside the alert.
//
// Threads: main thread only. The context is not retained: the application delegate that owns it
// outlives the list. The player is not kept after the push: the navigation controller holds it.

#include <memory>
#include <string>
#include <vector>

#include "app/Classes/VideoPlayerViewController.h"
#include "app/Video.h"
#include "platform/CoreData/NSManagedObjectContext.h"
#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UITableViewController.h"

class VideoListViewController : public UITableViewController {
  public:
    static constexpr const char* kCellIdentifier = "Cell";
    static constexpr double kRowHeight = 60.0;

    // The list of every Video row of `context`, newest first (none when the fetch fails).
    static std::shared_ptr<VideoListViewController> initWithContext(
        NSManagedObjectContext* context);

    // The Edit/Done item as the left bar button.
    void viewDidLoad() override;

    int numberOfSectionsInTableView(UITableView* tableView) override;
    int tableViewNumberOfRowsInSection(UITableView* tableView, int section) override;
    std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView* tableView,
                                                                    NSIndexPath indexPath) override;
    bool tableViewCanEditRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) override;
    bool respondsToCommitEditingStyle() const override { return true; }
    // The delete style removes the recording's row and its table row and saves, then removes
    // its three files. A save that fails shows the alert "Error" with the store's reason and
    // leaves the files; the deletion stays pending in the context, and the next save that
    // stores it removes them.
    void tableViewCommitEditingStyleForRowAtIndexPath(UITableView* tableView,
                                                      UITableViewCellEditingStyle style,
                                                      NSIndexPath indexPath) override;
    // Opens the player on the row's recording.
    void tableViewDidSelectRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) override;
    // Edit mode sets the right bar button aside (in doneButtonItem) and brings it back after.
    void setEditing(bool editing, bool animated) override;

    const std::shared_ptr<UIBarButtonItem>& doneButtonItem() const { return doneButtonItem_; }
    void setDoneButtonItem(std::shared_ptr<UIBarButtonItem> item) {
        doneButtonItem_ = std::move(item);
    }
    const std::vector<std::shared_ptr<Video>>& eventsArray() const { return eventsArray_; }
    // The player opened last, while the navigation controller keeps it.
    std::shared_ptr<VideoPlayerViewController> videoPlayer() const { return videoPlayer_.lock(); }

    // A file name that may be joined to the Documents path.
    static bool isBareFileName(const std::string& name);

  private:
    void showOpenError();
    void showDeleteError(const NSErrorPtr& error);

    std::vector<std::shared_ptr<Video>> eventsArray_;
    NSManagedObjectContext* managedObjectContext_ = nullptr;
    std::weak_ptr<VideoPlayerViewController> videoPlayer_;
    std::shared_ptr<UIBarButtonItem> doneButtonItem_;
};
