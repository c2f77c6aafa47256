#include "app/Classes/VideoPlayerViewController.h"

#include <cstdint>

#include "app/Classes/QvProgressHUD.h"
#include "app/Classes/output.h"
#include "app/NSString-PathAdditions.h"
#include "platform/AVFoundation/AVAudioSession.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIImageDrawing.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UIPasteboard.h"
#include "platform/UIKit/UISaveVideoAtPathToSavedPhotosAlbum.h"
#include "platform/UIKit/UIStretchableImage.h"
#include "platform/UIKit/UIWindow.h"

namespace {

using V = VideoPlayerViewController;

// Past this share of the work the album and pasteboard roads hold the bar and say what follows.
constexpr float kHoldProgress = 0.9f;
constexpr double kExportDelay = 1.0;
constexpr double kHideProgressDelay = 1.0;

}  // namespace

std::shared_ptr<VideoPlayerViewController> VideoPlayerViewController::initWithImages(
    const ValueArray& images, const std::string& soundFile) {
    auto controller = std::make_shared<VideoPlayerViewController>();
    controller->setNibName(kNibName);
    controller->player_ = AVAudioPlayer::initWithContentsOfURL(soundFile);
    if (controller->player_) {
        controller->player_->setDelegate(
            std::static_pointer_cast<AVAudioPlayerDelegate>(controller));
        controller->player_->prepareToPlay();
        controller->soundSeconds_ = static_cast<float>(controller->player_->duration());
        controller->soundURL_ = controller->player_->url();
    }
    // A new array of the same data objects.
    controller->images_ = images;
    controller->lastImageCount_ = -1;
    controller->imageCount_ = 0;
    return controller;
}

VideoPlayerViewController::~VideoPlayerViewController() {
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

void VideoPlayerViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto self = retained(this);
    auto& center = NSNotificationCenter::defaultCenter();
    center.addObserver(self, &V::setProgress, "progress", nullptr);
    center.addObserver(self, &V::applicationWillTerminate, UIApplicationWillTerminateNotification,
                       nullptr);
    auto session = AVAudioSession::sharedInstance();
    session->setCategory(AVAudioSessionCategoryPlayback);
    session->setActive(true);

    imageView_->setTransform(CGAffineTransformMakeScale(kPictureScale, kPictureScale));
    imageView_->setAccessibilityValue("-1");
    // A transparent button over the whole picture: a tap toggles the bars.
    tapButton_ = UIButton::buttonWithType(UIButtonTypeCustom);
    tapButton_->setName("tapButton");
    tapButton_->addTarget(self, &VideoPlayerViewController::hideOrShow,
                          UIControlEventTouchUpInside);
    tapButton_->setFrame(imageView_->frame());
    view()->insertSubviewAboveSubview(tapButton_, imageView_);

    const double duration = soundDuration();
    seekSlider_->setMinimumValue(0.0f);
    // The last tenth of a second stays out of reach, so that a seek never lands past the last
    // frame.
    seekSlider_->setMaximumValue(
        std::max(0.0f, static_cast<float>(duration - static_cast<double>(0.1f))));
    seekSlider_->setThumbImage(imageNamed("thumb.png"), UIControlStateNormal);
    seekSlider_->setMaximumTrackImage(
        UIStretchableImage::stretchableImageWithLeftCapWidth(imageNamed("maxTrack.png"), 3, 0),
        UIControlStateNormal);
    seekSlider_->setMinimumTrackImage(
        UIStretchableImage::stretchableImageWithLeftCapWidth(imageNamed("minTrack.png"), 3, 0),
        UIControlStateNormal);

    auto loop = NSRunLoop::currentRunLoop();
    auto durationTimer = NSTimer::timerWithFireDate(
        NSDate::date(), 1.0, NSTimer::action(self, &VideoPlayerViewController::updateDuration),
        Value(), true);
    loop->addTimer(durationTimer);
    durationTimer_ = durationTimer;
    updateDuration();

    // Without sound or without frames there is no interval to pace a picture by.
    const size_t count = images_.size();
    frameInterval_ = count > 0 && duration > 0
                         ? static_cast<float>(duration / static_cast<double>(count))
                         : 0.0f;
    NSLog("%f", frameInterval_ > 0 ? 1 / frameInterval_ : 0.0f);
    imageCount_ = 2;
    if (frameInterval_ > 0) {
        auto frameTimer = NSTimer::timerWithFireDate(
            NSDate::date(), frameInterval_,
            NSTimer::action(self, &VideoPlayerViewController::changeImage), Value(), true);
        loop->addTimer(frameTimer);
        timer_ = frameTimer;
        changeImage();
    }
    play();
}

void VideoPlayerViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    cancelPreviousPerformRequestsWithTarget(this, &VideoPlayerViewController::hideOrShow);
    UIApplication::sharedApplication()->setStatusBarHidden(false, true);
    if (modalViewController())
        return;
    if (auto timer = timer_.lock())
        timer->invalidate();
    if (auto timer = durationTimer_.lock())
        timer->invalidate();
    if (player_)
        player_->stop();
    // A seek's pending resume would start the sound again behind the list. A running export is
    // left to finish: the person chose it, and its steps keep the controller alive.
    cancelPreviousPerformRequestsWithTarget(this, &V::restoreState);
}

void VideoPlayerViewController::showFrame(int index) {
    const Value& frame = images_[static_cast<size_t>(index)];
    auto image = frame.isData() ? UIImage::initWithData(frame.data()) : nullptr;
    imageView_->setImage(image);
    frameOnScreen_ = image ? index : -1;
    imageView_->setAccessibilityValue(std::to_string(frameOnScreen_));
}

void VideoPlayerViewController::changeImage() {
    if (static_cast<uint32_t>(imageCount_) >= images_.size())
        return;
    if (imageCount_ == lastImageCount_)
        return;
    showFrame(imageCount_);
    lastImageCount_ = imageCount_;
    if (isPlaying())
        ++imageCount_;
}

void VideoPlayerViewController::updateDuration() {
    const double now = player_ ? player_->currentTime() : 0.0;
    durationLabel_->setText(PathAdditions::stringFromInterval(now) + "/" +
                            PathAdditions::stringFromInterval(soundDuration()));
    seekSlider_->setValue(static_cast<float>(now));
}

void VideoPlayerViewController::play() {
    if (isPlaying()) {
        pause();
        return;
    }
    performSelector(retained(this), &VideoPlayerViewController::hideOrShow, kAutoHideDelay);
    UIApplication::sharedApplication()->setIdleTimerDisabled(true);
    if (player_)
        player_->play();
    lastImageCount_ = -1;
    bottombar_->setItems({exportButton_, fixedSpace_, pauseButton_});
}

void VideoPlayerViewController::pause() {
    cancelPreviousPerformRequestsWithTarget(this, &VideoPlayerViewController::hideOrShow);
    UIApplication::sharedApplication()->setIdleTimerDisabled(false);
    if (player_)
        player_->pause();
    bottombar_->setItems({exportButton_, fixedSpace_, playButton_});
}

void VideoPlayerViewController::exportVideo() {
    cancelPreviousPerformRequestsWithTarget(this, &V::hideOrShow);
    if (exporting_)
        return;
    auto sheet = UIActionSheet::initWithTitle("", weakly(this), "Cancel", "",
                                              {"Email", "Save to Camera Roll"});
    sheet->showFromToolbar(bottombar_);
}

void VideoPlayerViewController::actionSheetClickedButtonAtIndex(UIActionSheet* actionSheet,
                                                                int buttonIndex) {
    if (buttonIndex == actionSheet->cancelButtonIndex() || exporting_)
        return;
    pause();
    progressLabel_->setText("Encoding...");
    progressView_->setProgress(0.0f);
    if (auto panel = progressPanel())
        panel->setHidden(false);
    if (buttonIndex != 0 && buttonIndex != 1)
        return;
    exporting_ = true;
    exportButton_->setEnabled(false);
    exportKeepAlive_ = retained(this);
    movieUnderWay_ = true;
    UIApplication::sharedApplication()->beginIgnoringInteractionEvents();
    ignoringTouches_ = true;
    performSelector(retained(this), buttonIndex == 0 ? &V::email : &V::saveToCameraRoll,
                    kExportDelay);
}

void VideoPlayerViewController::email() {
    encodeInBackground(&V::showComposer);
}

void VideoPlayerViewController::encodeInBackground(void (VideoPlayerViewController::*next)()) {
    NSThread::detachNewThread([self = retained(this), next]() mutable {
        self->output();
        std::string failure = std::move(self->outputFailure_);
        // The progress posted before this runs first; the last reference goes back to the main
        // thread with the work, so the controller is never freed here.
        NSRunLoop::mainRunLoop()->post(
            [self = std::move(self), failure = std::move(failure), next] {
                self->movieUnderWay_ = false;
                if (failure.empty())
                    ((*self).*next)();
                else
                    self->encodingFailed(failure);
            });
    });
}

void VideoPlayerViewController::showComposer() {
    auto composer = MFMailComposeViewController::init();
    composer->setMailComposeDelegate(weakly(this));
    // The movie is read as the message is written, never whole into memory.
    if (!composer->addAttachmentWithContentsOfFile(outputPath(), "video/quicktime", "Video.mov"))
        composer->addAttachmentData(Data(), "video/quicktime", "Video.mov");
    presentModalViewController(composer, true);
    cancelPreviousPerformRequestsWithTarget(this, &V::hideOrShow);
    auto application = UIApplication::sharedApplication();
    application->setStatusBarStyle(UIStatusBarStyleDefault, false);
    application->setStatusBarHidden(false, true);
    if (auto panel = progressPanel())
        panel->setHidden(true);
    // The composer covers the player; the road is over.
    allowTouches();
    endExport();
}

void VideoPlayerViewController::mailComposeControllerDidFinishWithResult(
    MFMailComposeViewController* controller, MFMailComposeResult result, const NSErrorPtr& error) {
    (void)controller;
    (void)result;
    if (error)
        showError(error->localizedDescription());
    dismissModalViewControllerAnimated(true);
    UIApplication::sharedApplication()->setStatusBarStyle(UIStatusBarStyleBlackTranslucent, true);
}

void VideoPlayerViewController::saveToCameraRoll() {
    saving_ = true;
    encodeInBackground(&V::saveVideo);
}

void VideoPlayerViewController::saveVideo() {
    UISaveVideoAtPathToSavedPhotosAlbum(outputPath(), retained(this),
                                        &V::videoDidFinishSavingWithError, nullptr);
}

void VideoPlayerViewController::videoDidFinishSavingWithError(const std::string& videoPath,
                                                              const NSErrorPtr& error,
                                                              void* contextInfo) {
    (void)videoPath;
    (void)contextInfo;
    allowTouches();
    if (error) {
        NSLogString(error->localizedDescription());
        showError(error->localizedDescription());
    }
    saving_ = false;
    updateProgress(1.0f);
    performSelector(retained(this), &V::hideProgress, kHideProgressDelay);
    NSLog("Finished Saving");
}

void VideoPlayerViewController::setProgress(const NSNotification& notification) {
    const float value = static_cast<float>(notification.userInfo()["progress"].doubleValue());
    if (NSThread::isMainThread()) {
        updateProgress(value);
        return;
    }
    std::weak_ptr<V> weak = weakly(this);
    NSRunLoop::mainRunLoop()->post([weak, value] {
        if (auto self = weak.lock())
            self->updateProgress(value);
    });
}

void VideoPlayerViewController::updateProgress(float value) {
    progressView_->setProgress(value);
    if (progressView_->progress() > kHoldProgress && saving_) {
        progressView_->setProgress(kHoldProgress);
        progressLabel_->setText("Saving...");
    }
    if (progressView_->progress() > kHoldProgress && copying_) {
        progressView_->setProgress(kHoldProgress);
        progressLabel_->setText("Copying...");
    }
}

// The album road ends here, not at the save's completion: an export chosen while this call was
// still due would have its panel hidden by it.
void VideoPlayerViewController::hideProgress() {
    if (auto panel = progressPanel())
        panel->setHidden(true);
    endExport();
}

void VideoPlayerViewController::applicationWillTerminate(const NSNotification& notification) {
    (void)notification;
    if (movieUnderWay_ || copying_)
        NSLog("Export abandoned: the application ended before the movie was written");
}

void VideoPlayerViewController::output() {
    const std::string path = outputPath();
    const char* const argv[] = {"tilvex", path.c_str()};
    outputFailure_.clear();
    if (::output(2, argv, images_, soundSeconds_, soundURL_, progressView_) == 0)
        return;
    std::string message = output_error();
    while (!message.empty() && message.back() == '\n') message.pop_back();
    outputFailure_ = message.empty() ? "The movie could not be written." : message;
}

std::string VideoPlayerViewController::outputPath() {
    return PathAdditions::documentsDirectory() + "/temp.mov";
}

std::string VideoPlayerViewController::copyPath() {
    return PathAdditions::documentsDirectory() + "/tempCopy.mov";
}

void VideoPlayerViewController::copyMovie() {
    auto self = retained(this);
    auto main = NSRunLoop::mainRunLoop();
    auto application = UIApplication::sharedApplication();
    copying_ = true;
    main->postAndWait([&] { application->beginIgnoringInteractionEvents(); });
    output();
    const std::string failure = std::move(outputFailure_);
    main->postAndWait([&] { application->endIgnoringInteractionEvents(); });
    main->postAndWait([&] {
        if (failure.empty())
            addToPasteboard();
        else
            encodingFailed(failure);
    });
    copying_ = false;
}

void VideoPlayerViewController::addToPasteboard() {
    NSFileManager::defaultManager().moveItemAtPath(outputPath(), copyPath());
    ValueDictionary item;
    item.set("public.utf8-plain-text", Value("Video.mov"));
    item.set("public.url", Value("file://" + copyPath()));
    auto pasteboard = UIPasteboard::generalPasteboard();
    pasteboard->setItems({Value(std::move(item))});
    NSLogString(Value(pasteboard->items()).description());
    progressView_->setProgress(1.0f);
    if (auto panel = progressPanel())
        panel->setHidden(true);
}

void VideoPlayerViewController::videoEditorControllerDidSaveEditedVideoToPath(
    UIViewController* editor, const std::string& editedVideoPath) {
    (void)editor;
    if (!UIVideoAtPathIsCompatibleWithSavedPhotosAlbum(editedVideoPath)) {
        showError("Video cannot be exported to the photos album");
        return;
    }
    auto hud = QvProgressHUD::initWithText(std::string("Saving"), true);
    // Centred on the screen: (160, 240).
    const CGRect frame = hud->frame();
    hud->setFrame(CGRectMake(160 - frame.size.width / 2, 240 - frame.size.height / 2,
                             frame.size.width, frame.size.height));
    if (auto window = UIWindow::keyWindow())
        window->addSubview(hud);
    HUD_ = hud;
    UISaveVideoAtPathToSavedPhotosAlbum(editedVideoPath, retained(this),
                                        &V::videoDidFinishSavingWithError, nullptr);
}

void VideoPlayerViewController::videoEditorControllerDidFailWithError(UIViewController* editor,
                                                                      const NSErrorPtr& error) {
    (void)editor;
    showError(error ? error->localizedDescription() : std::string());
}

void VideoPlayerViewController::videoEditorControllerDidCancel(UIViewController* editor) {
    (void)editor;
    dismissModalViewControllerAnimated(true);
    UIApplication::sharedApplication()->setStatusBarHidden(false, true);
}

void VideoPlayerViewController::showError(const std::string& message) {
    UIAlertView::initWithTitle("Error", message, {}, "OK", {})->show();
}

void VideoPlayerViewController::allowTouches() {
    if (!ignoringTouches_)
        return;
    ignoringTouches_ = false;
    UIApplication::sharedApplication()->endIgnoringInteractionEvents();
}

void VideoPlayerViewController::endExport() {
    exporting_ = false;
    exportButton_->setEnabled(true);
    // Last: this may free the controller of a closed player.
    auto keepAlive = std::move(exportKeepAlive_);
}

void VideoPlayerViewController::encodingFailed(const std::string& message) {
    saving_ = false;
    copying_ = false;
    allowTouches();
    showError(message);
    if (auto panel = progressPanel())
        panel->setHidden(true);
    endExport();
}

void VideoPlayerViewController::startSeek() {
    cancelPreviousPerformRequestsWithTarget(this, &VideoPlayerViewController::hideOrShow);
}

void VideoPlayerViewController::seek() {
    if (isPlaying())
        wasPlaying_ = true;
    if (!player_)
        return;
    // The audio player's own pause: bar items, idle timer and auto-hide stay as they are.
    player_->pause();
    player_->setCurrentTime(static_cast<double>(seekSlider_->value()));
    const double t = player_->currentTime();
    const double d = player_->duration();
    if (d > 0 && !images_.empty())
        imageCount_ = static_cast<int>(t * (static_cast<double>(images_.size()) / d));
}

void VideoPlayerViewController::finishedSeek() {
    if (!wasPlaying_)
        return;
    wasPlaying_ = false;
    performSelector(retained(this), &VideoPlayerViewController::restoreState, 0.0);
}

void VideoPlayerViewController::restoreState() {
    if (player_)
        player_->play();
    lastImageCount_ = -1;
}

void VideoPlayerViewController::fadeBars(double alpha) {
    UIView::beginAnimations("bars");
    UIView::setAnimationDuration(kBarFadeDuration);
    topBar_->setAlpha(alpha);
    if (auto navigation = navigationController())
        navigation->navigationBar()->setAlpha(alpha);
    durationLabel_->setAlpha(alpha);
    bottombar_->setAlpha(alpha);
    UIView::commitAnimations();
}

void VideoPlayerViewController::hideOrShow() {
    cancelPreviousPerformRequestsWithTarget(this, &VideoPlayerViewController::hideOrShow);
    auto application = UIApplication::sharedApplication();
    // The status bar follows its own state, not the bars'.
    application->setStatusBarHidden(!application->isStatusBarHidden(), true);
    fadeBars(topBar_->alpha() == 0.0 ? 1.0 : 0.0);
}

void VideoPlayerViewController::audioPlayerDidFinishPlaying(AVAudioPlayer& player,
                                                            bool successfully) {
    (void)player;
    if (!successfully)
        return;
    if (topBar_->alpha() == 0.0) {
        UIApplication::sharedApplication()->setStatusBarHidden(false, true);
        cancelPreviousPerformRequestsWithTarget(this, &VideoPlayerViewController::hideOrShow);
        fadeBars(1.0);
    }
    bottombar_->setItems({exportButton_, fixedSpace_, playButton_});
    imageCount_ = 0;
    lastImageCount_ = -1;
}

bool VideoPlayerViewController::setOutlet(const std::string& name,
                                          const std::shared_ptr<NSObject>& object) {
    if (name == "imageView")
        return assignOutlet(imageView_, object);
    if (name == "topBar")
        return assignOutlet(topBar_, object);
    if (name == "bottombar")
        return assignOutlet(bottombar_, object);
    if (name == "seekSlider")
        return assignOutlet(seekSlider_, object);
    if (name == "durationLabel")
        return assignOutlet(durationLabel_, object);
    if (name == "playButton")
        return assignOutlet(playButton_, object);
    if (name == "pauseButton")
        return assignOutlet(pauseButton_, object);
    if (name == "fixedSpace")
        return assignOutlet(fixedSpace_, object);
    if (name == "exportButton")
        return assignOutlet(exportButton_, object);
    if (name == "progressView")
        return assignOutlet(progressView_, object);
    if (name == "progressLabel")
        return assignOutlet(progressLabel_, object);
    return UIViewController::setOutlet(name, object);
}

UINibConnectable::Action VideoPlayerViewController::actionNamed(const std::string& name) {
    if (name == "play")
        return bindAction(this, &V::play);
    if (name == "pause")
        return bindAction(this, &V::pause);
    if (name == "export")
        return bindAction(this, &V::exportVideo);
    if (name == "hideOrShow")
        return bindAction(this, &V::hideOrShow);
    if (name == "startSeek")
        return bindAction(this, &V::startSeek);
    if (name == "seek")
        return bindAction(this, &V::seek);
    if (name == "finishedSeek")
        return bindAction(this, &V::finishedSeek);
    return {};
}
