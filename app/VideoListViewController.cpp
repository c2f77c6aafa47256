#include "app/VideoListViewController.h"

#include "app/NSString-PathAdditions.h"
#include "app/RecordingStore.h"
#include "platform/CoreData/NSFetchRequest.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/RegularFile.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UINavigationController.h"

namespace {

bool hasBareFileNames(const Video& video) {
    return VideoListViewController::isBareFileName(video.videoPath()) &&
           VideoListViewController::isBareFileName(video.soundPath()) &&
           VideoListViewController::isBareFileName(video.thumbPath());
}

}  // namespace

bool VideoListViewController::isBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::shared_ptr<VideoListViewController> VideoListViewController::initWithContext(
    NSManagedObjectContext* context) {
    auto list = std::make_shared<VideoListViewController>();
    list->setTitle("Videos");
    list->managedObjectContext_ = context;
    list->tableView()->setRowHeight(kRowHeight);

    if (!context)
        return list;
    NSFetchRequest request;
    request.setEntity(context->entityForName("Video"));
    request.setSortDescriptors({NSSortDescriptor("creationDate", false)});
    auto rows = request.entity() ? context->executeFetchRequest(request, nullptr) : std::nullopt;
    if (rows) {
        for (const auto& row : *rows) {
            if (auto video = std::dynamic_pointer_cast<Video>(row))
                list->eventsArray_.push_back(std::move(video));
        }
    }
    return list;
}

void VideoListViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    navigationItem()->setLeftBarButtonItem(editButtonItem());
}

int VideoListViewController::numberOfSectionsInTableView(UITableView* tableView) {
    (void)tableView;
    return 1;
}

int VideoListViewController::tableViewNumberOfRowsInSection(UITableView* tableView, int section) {
    (void)tableView;
    (void)section;
    return static_cast<int>(eventsArray_.size());
}

std::shared_ptr<UITableViewCell> VideoListViewController::tableViewCellForRowAtIndexPath(
    UITableView* tableView, NSIndexPath indexPath) {
    auto cell = tableView->dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell)
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, kCellIdentifier);
    const Video& video = *eventsArray_.at(static_cast<size_t>(indexPath.row));
    cell->textLabel()->setText(video.title());
    cell->detailTextLabel()->setText(PathAdditions::stringFromDate(video.creationDate()));
    std::shared_ptr<UIImage> thumbnail;
    if (isBareFileName(video.thumbPath())) {
        // A named pipe or a link in the thumbnail's place is a missing thumbnail, never waited on.
        auto file = RegularFile::open(PathAdditions::appendPath(video.thumbPath()));
        auto bytes = file ? file->contents() : std::nullopt;
        if (bytes)
            thumbnail = UIImage::initWithData(*bytes);
    }
    cell->imageView()->setImage(thumbnail);
    return cell;
}

bool VideoListViewController::tableViewCanEditRowAtIndexPath(UITableView* tableView,
                                                             NSIndexPath indexPath) {
    (void)tableView;
    (void)indexPath;
    return true;
}

void VideoListViewController::tableViewCommitEditingStyleForRowAtIndexPath(
    UITableView* tableView, UITableViewCellEditingStyle style, NSIndexPath indexPath) {
    if (style != UITableViewCellEditingStyleDelete)
        return;
    const size_t index = static_cast<size_t>(indexPath.row);
    if (index >= eventsArray_.size())
        return;
    auto video = eventsArray_[index];
    eventsArray_.erase(eventsArray_.begin() + static_cast<std::ptrdiff_t>(index));
    tableView->deleteRowsAtIndexPaths({indexPath}, UITableViewRowAnimationRight);
    NSErrorPtr error;
    if (!RecordingStore::deleteRecording(managedObjectContext_, video, &error))
        showDeleteError(error);
}

void VideoListViewController::tableViewDidSelectRowAtIndexPath(UITableView* tableView,
                                                               NSIndexPath indexPath) {
    (void)tableView;
    const size_t index = static_cast<size_t>(indexPath.row);
    if (index >= eventsArray_.size())
        return;
    const Video& video = *eventsArray_[index];
    if (!hasBareFileNames(video)) {
        showOpenError();
        return;
    }
    NSErrorPtr error;
    auto frames = NSKeyedUnarchiver::unarchiveObjectWithFile(
        PathAdditions::appendPath(video.videoPath()), &error);
    if (!frames || !frames->isArray()) {
        if (error)
            NSLogString(error->localizedDescription());
        showOpenError();
        return;
    }
    auto player = VideoPlayerViewController::initWithImages(
        frames->arrayRef(), PathAdditions::appendPath(video.soundPath()));
    videoPlayer_ = player;
    player->navigationItem()->setRightBarButtonItem(navigationItem()->rightBarButtonItem());
    player->setTitle(PathAdditions::stringFromDate(video.creationDate()));
    if (auto navigation = navigationController())
        navigation->pushViewController(player, true);
}

void VideoListViewController::showOpenError() {
    auto alert = UIAlertView::initWithTitle(
        "Error", "The recording cannot be opened: its frames are missing or damaged.", {}, "OK",
        {});
    alert->show();
}

void VideoListViewController::showDeleteError(const NSErrorPtr& error) {
    auto alert = UIAlertView::initWithTitle(
        "Error",
        "The recording could not be deleted: " +
            (error ? error->localizedDescription() : std::string("unknown reason")),
        {}, "OK", {});
    alert->show();
}

void VideoListViewController::setEditing(bool editing, bool animated) {
    UITableViewController::setEditing(editing, animated);
    auto item = navigationItem();
    if (editing) {
        setDoneButtonItem(item->rightBarButtonItem());
        item->setRightBarButtonItem(nullptr, true);
    } else {
        item->setRightBarButtonItem(doneButtonItem_, true);
        setDoneButtonItem(nullptr);
    }
}
