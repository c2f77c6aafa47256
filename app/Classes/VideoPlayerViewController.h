#pragma once
// The player of one stored recording: its frames (JPEG data, in capture order) shown one per tick
// of a frame timer in an image view, beside its sound played by an audio player. With d the
// sound's length and N the frame count the frame interval is d / N; the picture moves by one
// frame per tick while the sound plays, and follows the sound's time only when the user seeks.
// Playback starts by itself when the view loads, at frame 2.
//
// The screen: the picture (scaled 1.25 about its centre; a tap on it shows or hides the bars),
// a top bar with the seek slider, the position/length label, and a bottom bar with the export
// item and the play or pause item. The bars fade out 2.0 s after playback starts; a seek keeps
// them up. The view and its outlets come from the interface file "VideoPlayerViewController".
//
// A sound file that cannot be opened or a recording without frames opens the screen without a
// picture: no frame timer runs, nothing divides by zero, no frame outside the list is read, and
// the controls still work.
//
// The image view's accessibility value is the index, in the frame list, of the frame it shows
// ("-1" while it shows none).
//
// Threads: main thread only. Both timers are held by the main run loop, which keeps the
// controller alive until viewWillDisappear invalidates them; delayed calls keep it alive until
// they run or are cancelled.

#include <memory>
#include <string>

#include "platform/AVFoundation/AVAudioPlayer.h"
#include "platform/Foundation/NSTimer.h"
#include "platform/Foundation/Value.h"
#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UIProgressView.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UIToolbar.h"
#include "platform/UIKit/UIViewController.h"

class VideoPlayerViewController : public UIViewController, public AVAudioPlayerDelegate {
  public:
    static constexpr const char* kNibName = "VideoPlayerViewController";
    // Seconds from play to the bars' fading out, and the fade's length.
    static constexpr double kAutoHideDelay = 2.0;
    static constexpr double kBarFadeDuration = 0.4;
    static constexpr double kPictureScale = 1.25;

    // `images` are the frames (an array of JPEG data, frame 0 first); `soundFile` the sound's
    // absolute path. A sound file that cannot be opened leaves the controller without an audio
    // player. Never null.
    static std::shared_ptr<VideoPlayerViewController> initWithImages(const ValueArray& images,
                                                                     const std::string& soundFile);

    void viewDidLoad() override;
    // Stops both timers and the sound, unless a modal controller is up.
    void viewWillDisappear(bool animated) override;

    // Actions: the play item (toggles), the pause item, the tap on the picture, and the seek
    // slider's touch down, value changed and touch up inside or outside.
    void play();
    void pause();
    // The export item's action "export" (a keyword in C++, hence the name): the export menu is
    // not built yet, so it does nothing.
    void exportVideo();
    void hideOrShow();
    void startSeek();
    void seek();
    void finishedSeek();
    // The delayed end of a seek that interrupted playback: the sound goes on from the new time.
    void restoreState();
    // The frame timer's step and the 1 s position display.
    void changeImage();
    void updateDuration();

    bool respondsToAudioPlayerDidFinishPlaying() const override { return true; }
    // The end of the sound: the bars come back, the picture goes back to frame 0.
    void audioPlayerDidFinishPlaying(AVAudioPlayer& player, bool successfully) override;

    // Null when the sound file could not be opened.
    const std::shared_ptr<AVAudioPlayer>& player() const { return player_; }
    const ValueArray& images() const { return images_; }
    // The frame interval d / N in seconds; 0 when there is no sound or no frame.
    float frameInterval() const { return frameInterval_; }
    // The index of the frame on screen, -1 for none.
    int frameIndexOnScreen() const { return frameOnScreen_; }

    const std::shared_ptr<UIImageView>& imageView() const { return imageView_; }
    const std::shared_ptr<UIToolbar>& topBar() const { return topBar_; }
    const std::shared_ptr<UIToolbar>& bottombar() const { return bottombar_; }
    const std::shared_ptr<UISlider>& seekSlider() const { return seekSlider_; }
    const std::shared_ptr<UILabel>& durationLabel() const { return durationLabel_; }
    const std::shared_ptr<UIBarButtonItem>& playButton() const { return playButton_; }
    const std::shared_ptr<UIBarButtonItem>& pauseButton() const { return pauseButton_; }
    const std::shared_ptr<UIBarButtonItem>& fixedSpace() const { return fixedSpace_; }
    const std::shared_ptr<UIBarButtonItem>& exportButton() const { return exportButton_; }
    const std::shared_ptr<UIProgressView>& progressView() const { return progressView_; }
    const std::shared_ptr<UILabel>& progressLabel() const { return progressLabel_; }
    // The transparent button over the picture, made by viewDidLoad; its view name is
    // "tapButton".
    const std::shared_ptr<UIButton>& tapButton() const { return tapButton_; }

    // Outlets imageView, topBar, bottombar, seekSlider, durationLabel, playButton, pauseButton,
    // fixedSpace, exportButton, progressView, progressLabel besides the controller's own.
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override;
    // Actions play, pause, export, hideOrShow, startSeek, seek, finishedSeek.
    Action actionNamed(const std::string& name) override;

  private:
    bool isPlaying() const { return player_ && player_->isPlaying(); }
    double soundDuration() const { return player_ ? player_->duration() : 0.0; }
    // Puts the frame at `index` in the image view (none when it does not decode).
    void showFrame(int index);
    // The bars and the status bar to `alpha` in one fade.
    void fadeBars(double alpha);

    std::shared_ptr<UIImageView> imageView_;
    std::weak_ptr<NSTimer> timer_;
    std::shared_ptr<AVAudioPlayer> player_;
    ValueArray images_;
    int imageCount_ = 0;
    std::shared_ptr<UIToolbar> bottombar_;
    std::shared_ptr<UIToolbar> topBar_;
    std::shared_ptr<UISlider> seekSlider_;
    std::shared_ptr<UILabel> durationLabel_;
    std::shared_ptr<UIBarButtonItem> playButton_;
    std::shared_ptr<UIBarButtonItem> pauseButton_;
    std::shared_ptr<UIBarButtonItem> fixedSpace_;
    std::weak_ptr<NSTimer> durationTimer_;
    int lastImageCount_ = -1;
    bool wasPlaying_ = false;
    std::shared_ptr<UIBarButtonItem> exportButton_;
    std::shared_ptr<UIProgressView> progressView_;
    std::shared_ptr<UILabel> progressLabel_;

    float frameInterval_ = 0;
    int frameOnScreen_ = -1;
    std::shared_ptr<UIButton> tapButton_;
};
