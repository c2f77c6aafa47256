#include "app/Classes/TilvexViewController.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "app/AnalyticsCalls.h"
#include "app/NSString-PathAdditions.h"
#include "app/RecordingStore.h"
#include "app/Video.h"
#include "app/VideoListViewController.h"
#include "platform/AVFoundation/AVAudioSession.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSKeyedArchiver.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UIGetScreenImage.h"
#include "platform/UIKit/UIImageDrawing.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UIStretchableImage.h"

namespace {

std::string lastPathComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool TilvexViewController::setOutlet(const std::string& name,
                                     const std::shared_ptr<NSObject>& object) {
    if (name == "overlayView")
        return assignOutlet(overlayView_, object);
    if (name == "button")
        return assignOutlet(button_, object);
    if (name == "albumButton")
        return assignOutlet(albumButton_, object);
    return UIViewController::setOutlet(name, object);
}

UINibConnectable::Action TilvexViewController::actionNamed(const std::string& name) {
    if (name == "buttonPressed")
        return bindAction(this, &TilvexViewController::buttonPressed);
    if (name == "showVideos")
        return bindAction(this, &TilvexViewController::showVideos);
    return {};
}

void TilvexViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    button_->setBackgroundImage(
        UIStretchableImage::stretchableImageWithLeftCapWidth(imageNamed("cameraButton.png"), 20, 0),
        UIControlStateNormal);
    createPicker();
    auto self = retained(this);
    auto& center = NSNotificationCenter::defaultCenter();
    center.addObserver(self, &TilvexViewController::saveUnfinished,
                       UIApplicationWillResignActiveNotification, nullptr);
    center.addObserver(self, &TilvexViewController::saveUnfinished,
                       UIApplicationWillTerminateNotification, nullptr);
}

void TilvexViewController::createPicker() {
    if (UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceTypeCamera)) {
        picker_ = UIImagePickerController::init();
        picker_->setSourceType(UIImagePickerControllerSourceTypeCamera);
        picker_->setDelegate(
            std::static_pointer_cast<UIImagePickerControllerDelegate>(retained(this)));
        picker_->setShowsCameraControls(false);
        picker_->setCameraOverlayView(overlayView_);
        overlayView_.reset();  // the picker keeps it from now on
        return;
    }
    auto alert = UIAlertView::initWithTitle(
        "Camera not available!",
        "Please check to make sure that Restrictions are not turned on by going to Settings > "
        "General > Restrictions.",
        std::static_pointer_cast<UIAlertViewDelegate>(retained(this)), "Quit", {});
    alert->setTag(kNoCameraAlertTag);
    alert->show();
}

void TilvexViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    if (!picker_ || animated || notFirstPicker_)
        return;
    presentModalViewController(picker_, false);
    notFirstPicker_ = true;
}

void TilvexViewController::alertViewClickedButtonAtIndex(UIAlertView* alertView, int buttonIndex) {
    (void)buttonIndex;
    if (alertView->tag() != kNoCameraAlertTag)
        return;
    // The process ends here, as on the phone: no termination messages.
    std::fflush(nullptr);
    std::_Exit(0);
}

void TilvexViewController::buttonPressed() {
    std::string title = button_->titleForState(UIControlStateNormal);
    if (title == kRecordTitle)
        startRecording();
    else if (title == kStopTitle)
        stopRecording();
}

void TilvexViewController::saveUnfinished(const NSNotification& notification) {
    (void)notification;
    if (button_->titleForState(UIControlStateNormal) == kStopTitle)
        buttonPressed();
}

void TilvexViewController::changeTitleToRed() {
    button_->setTitleColor(kBlinkRed, UIControlStateNormal);
    performSelector(retained(this), &TilvexViewController::changeTitleToBlack, kBlinkInterval);
}

void TilvexViewController::changeTitleToBlack() {
    button_->setTitleColor(UIColor::blackColor(), UIControlStateNormal);
    performSelector(retained(this), &TilvexViewController::changeTitleToRed, kBlinkInterval);
}

void TilvexViewController::showVideos() {
    if (!picker_)
        return;  // the album button lives on the picker's overlay
    auto list = VideoListViewController::initWithContext(managedObjectContext_);
    list->setWantsFullScreenLayout(true);
    auto navigation = UINavigationController::initWithRootViewController(list);
    navigation->navigationBar()->setBarStyle(UIBarStyleBlackTranslucent);
    list->navigationItem()->setRightBarButtonItem(UIBarButtonItem::initWithBarButtonSystemItem(
        UIBarButtonSystemItemDone, retained(this), &TilvexViewController::cancelVideos));
    auto application = UIApplication::sharedApplication();
    application->setStatusBarStyle(UIStatusBarStyleBlackTranslucent, true);
    application->setStatusBarHidden(false, true);
    picker_->presentModalViewController(navigation, true);
    recordAnalyticsEvent("Video Roll");
}

void TilvexViewController::cancelVideos() {
    picker_->dismissModalViewControllerAnimated(true);
    UIApplication::sharedApplication()->setStatusBarHidden(true, true);
}

void TilvexViewController::startRecording() {
    NSLog("Recording");
    const NSDate pressed = NSDate::date();
    // The recorder comes first so that a recorder that cannot record leaves the screen idle.
    Value settings = Value::dictionary();
    auto& s = settings.dictionaryRef();
    s.set(AVFormatIDKey, Value(kAudioFormatLinearPCM));
    s.set(AVSampleRateKey, Value(44100.0));
    s.set(AVNumberOfChannelsKey, Value(2));
    s.set(AVLinearPCMBitDepthKey, Value(16));
    s.set(AVLinearPCMIsBigEndianKey, Value(false));
    s.set(AVLinearPCMIsFloatKey, Value(false));
    auto session = AVAudioSession::sharedInstance();
    session->setCategory(AVAudioSessionCategoryRecord);
    session->setActive(true);
    NSErrorPtr error;
    auto recorder = AVAudioRecorder::initWithURL(
        PathAdditions::findUniquePath("Audio", ".caf",
                                      RecordingStore::namesInRows(managedObjectContext_)),
        settings, &error);
    auto soundError = [&] {
        return "The sound recorder cannot record: " +
               (error ? error->localizedDescription() : std::string("unknown reason"));
    };
    if (!recorder || !recorder->prepareToRecord(&error)) {
        showError(soundError());  // nothing was created
        return;
    }
    // Both threads start before anything shows a recording, so that one that cannot start
    // leaves the screen idle and no file behind.
    std::string reason;
    if (!startCapture(&reason)) {
        abandonRecording(*recorder, "The recording cannot start: " + reason);
        return;
    }
    if (!recorder->record(&error)) {
        endCapture();
        results_.clear();
        abandonRecording(*recorder, soundError());
        return;
    }

    button_->setTitle(kStopTitle, UIControlStateNormal);
    performSelector(retained(this), &TilvexViewController::changeTitleToRed, kBlinkInterval);
    albumButton_->setEnabled(false);
    date_ = pressed;
    recorder_ = recorder;
}

bool TilvexViewController::startCapture(std::string* reason) {
    results_.clear();
    {
        std::lock_guard lock(captureMutex_);
        captureStopped_ = false;
        timer_.reset();
    }
    auto self = retained(this);
    try {
        captureThread_ = NSThread::detachNewThread([self] { self->startTimerThread(); });
    } catch (const std::system_error& failure) {
        *reason =
            std::string("no thread can start for the frame capture (") + failure.what() + ").";
        return false;
    }
    return true;
}

void TilvexViewController::abandonRecording(AVAudioRecorder& recorder, const std::string& message) {
    recorder.stop();
    NSFileManager::defaultManager().removeItemAtPath(recorder.url());
    showError(message);
}

void TilvexViewController::stopRecording() {
    NSLog("Stopped");
    double duration = recorder_->currentTime();
    recorder_->stop();
    endCapture();
    NSLog("%f", 1.0f / static_cast<float>(duration / static_cast<double>(results_.size())));

    button_->setTitle(kRecordTitle, UIControlStateNormal);
    cancelPreviousPerformRequestsWithTarget(this, &TilvexViewController::changeTitleToRed);
    cancelPreviousPerformRequestsWithTarget(this, &TilvexViewController::changeTitleToBlack);
    button_->setTitleColor(UIColor::blackColor(), UIControlStateNormal);

    std::string reason;
    if (storeRecording(duration, &reason)) {
        saveStore();
        recordAnalyticsEvent("Videos");
    } else {
        NSFileManager::defaultManager().removeItemAtPath(recorder_->url());
        showError("The recording could not be stored: " + reason);
    }
    albumButton_->setEnabled(true);
    results_.clear();
    recorder_.reset();
}

void TilvexViewController::endCapture() {
    std::shared_ptr<CADisplayLink> link;
    {
        std::lock_guard lock(captureMutex_);
        captureStopped_ = true;
        link = timer_;
    }
    if (link)
        link->invalidate();
    if (captureThread_)
        captureThread_->join();
    captureThread_.reset();
    std::lock_guard lock(captureMutex_);
    timer_.reset();
}

bool TilvexViewController::storeRecording(double duration, std::string* reason) {
    if (NSErrorPtr soundError = recorder_->fileError()) {
        *reason = soundError->localizedDescription();
        return false;
    }
    if (results_.empty()) {
        *reason = "no picture of the screen could be grabbed.";
        return false;
    }
    auto& files = NSFileManager::defaultManager();
    const std::set<std::string> named = RecordingStore::namesInRows(managedObjectContext_);
    std::string videoFile = PathAdditions::findUniquePath("Video", "", named);
    NSErrorPtr error;
    if (!NSData::writeToFile(NSKeyedArchiver::archivedDataWithRootObject(Value(results_)),
                             videoFile, true, &error)) {
        *reason = error ? error->localizedDescription() : "the frames could not be written.";
        return false;
    }
    auto first = UIImage::initWithData(results_.front().data());
    auto square = first ? UIImage::imageWithCGImage(
                              CGImageCreateWithImageInRect(first->CGImage(), kThumbnailRect))
                        : nullptr;
    Data thumbnail = UIImageJPEGRepresentation(square, kThumbnailQuality);
    std::string thumbFile = PathAdditions::findUniquePath("Thumbnail", ".jpg", named);
    if (thumbnail.empty() || !NSData::writeToFile(thumbnail, thumbFile, true, &error)) {
        files.removeItemAtPath(videoFile);
        *reason = thumbnail.empty() || !error ? "the thumbnail could not be made."
                                              : error->localizedDescription();
        return false;
    }
    if (!managedObjectContext_)
        return true;
    auto video = std::static_pointer_cast<Video>(
        managedObjectContext_->insertNewObjectForEntityForName("Video"));
    video->setVideoPath(lastPathComponent(videoFile));
    video->setCreationDate(date_);
    video->setSoundPath(lastPathComponent(recorder_->url()));
    video->setTitle(PathAdditions::stringFromInterval(duration));
    video->setThumbPath(lastPathComponent(thumbFile));
    // Should every save fail until the end, the next launch restores the row from this record.
    // Without it the row may still be saved, so the stop goes on.
    NSErrorPtr intentError;
    if (!RecordingStore::writeIntent(*video, &intentError))
        NSLog("Cannot write the record that restores this recording: %s",
              intentError ? intentError->localizedDescription().c_str() : "unknown reason");
    return true;
}

void TilvexViewController::saveStore() {
    NSErrorPtr error;
    if (RecordingStore::save(managedObjectContext_, &error))
        return;
    showError("The recording is kept but not saved yet: " +
              (error ? error->localizedDescription() : std::string("unknown reason")));
}

void TilvexViewController::showError(const std::string& message) {
    UIAlertView::initWithTitle("Error", message, {}, "OK", {})->show();
}

void TilvexViewController::startTimerThread() {
    auto loop = NSRunLoop::currentRunLoop();
    auto link =
        CADisplayLink::displayLinkWithTarget(retained(this), &TilvexViewController::takePicture);
    {
        std::lock_guard lock(captureMutex_);
        timer_ = link;
        // A stop that came first still gets the first frame, and then the loop ends at once.
        if (captureStopped_)
            link->invalidate();
    }
    // An invalidated link stays off the loop.
    link->addToRunLoop(loop);
    takePicture(link.get());
    loop->run();
}

void TilvexViewController::takePicture(CADisplayLink* link) {
    (void)link;
    auto grab = UIImage::imageWithCGImage(UIGetScreenImage());
    if (!grab)
        return;
    Data jpeg = UIImageJPEGRepresentation(grab, kFrameQuality);
    if (!jpeg.empty())
        results_.emplace_back(std::move(jpeg));
}
