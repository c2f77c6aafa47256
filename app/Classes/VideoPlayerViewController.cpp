#include "app/Classes/VideoPlayerViewController.h"

#include <cstdint>

#include "app/NSString-PathAdditions.h"
#include "platform/AVFoundation/AVAudioSession.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UIImageDrawing.h"
#include "platform/UIKit/UINavigationController.h"
#include "platform/UIKit/UIStretchableImage.h"

std::shared_ptr<VideoPlayerViewController> VideoPlayerViewController::initWithImages(
    const ValueArray& images, const std::string& soundFile) {
    auto controller = std::make_shared<VideoPlayerViewController>();
    controller->setNibName(kNibName);
    controller->player_ = AVAudioPlayer::initWithContentsOfURL(soundFile);
    if (controller->player_) {
        controller->player_->setDelegate(
            std::static_pointer_cast<AVAudioPlayerDelegate>(controller));
        controller->player_->prepareToPlay();
    }
    // A new array of the same data objects.
    controller->images_ = images;
    controller->lastImageCount_ = -1;
    controller->imageCount_ = 0;
    return controller;
}

void VideoPlayerViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto self = retained(this);
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
    // A seek's pending resume would start the sound again behind the list.
    cancelPreviousPerformRequestsWithTarget(this, &VideoPlayerViewController::restoreState);
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

void VideoPlayerViewController::exportVideo() {}

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
    using V = VideoPlayerViewController;
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
