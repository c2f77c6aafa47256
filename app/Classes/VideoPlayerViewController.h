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
// the controls still work. A sound file other than the recorder's (a header that claims another
// rate, format or length than its data, a named pipe) is one that cannot be opened: its header
// never sets a length, and its export fails as a damaged file's does.
//
// The image view's accessibility value is the index, in the frame list, of the frame it shows
// ("-1" while it shows none).
//
// Export: the export item opens a menu "Email" / "Save to Camera Roll" / "Cancel". Either road
// pauses playback, shows the progress panel with "Encoding..." and an empty bar, and 1.0 s later
// encodes the recording into "temp.mov" in Documents (rewritten by every export), with the
// encoder's "progress" notifications on the bar; then, on the next run-loop pass, the e-mail road
// presents a mail composer with the movie attached as "Video.mov" (video/quicktime; read as the
// message is written, never whole into memory) and hides the panel, and the album road hands the
// movie to the photo album (the bar holds at 0.9 with "Saving..." until the album reports, then
// fills and hides 1.0 s later). The export item is disabled from the menu choice until the composer
// is up or the album has reported, so no second export starts while one runs. An encoding that
// fails shows the alert "Error" with the encoder's message and hides the panel; playback stays
// paused.
//
// While an export runs the application ignores touches, from the menu choice until the composer
// is up, the album has reported or the failure alert shows: a click then (Done included) goes
// nowhere, and the export a person chose always ends in the composer, the album entry or an
// alert. A player closed by other means meanwhile still finishes its export: the export holds the
// controller until its road ends.
//
// Threads: main thread only, except the encoding of both menu roads, which runs on a worker
// thread of its own (the window keeps drawing; the encoder's "progress" reaches the bar through
// the main run loop, and the road goes on there once the movie is written), and copyMovie, which
// runs on a thread of its own. Both timers are held by the main run loop, which keeps the
// controller alive until viewWillDisappear invalidates them; delayed calls keep it alive until
// they run or are cancelled.

#include <atomic>
#include <memory>
#include <string>

#include "platform/AVFoundation/AVAudioPlayer.h"
#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSTimer.h"
#include "platform/Foundation/Value.h"
#include "platform/MessageUI/MFMailComposeViewController.h"
#include "platform/UIKit/UIActionSheet.h"
#include "platform/UIKit/UIBarButtonItem.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UIProgressView.h"
#include "platform/UIKit/UISlider.h"
#include "platform/UIKit/UIToolbar.h"
#include "platform/UIKit/UIViewController.h"

class QvProgressHUD;

class VideoPlayerViewController : public UIViewController,
                                  public AVAudioPlayerDelegate,
                                  public UIActionSheetDelegate,
                                  public MFMailComposeViewControllerDelegate {
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
    ~VideoPlayerViewController() override;

    void viewDidLoad() override;
    // Stops both timers and the sound, unless a modal controller is up. A running export goes
    // on.
    void viewWillDisappear(bool animated) override;

    // Actions: the play item (toggles), the pause item, the tap on the picture, and the seek
    // slider's touch down, value changed and touch up inside or outside.
    void play();
    void pause();
    // The export item's action "export" (a keyword in C++, hence the name): keeps the bars up
    // and shows the export menu from the bottom bar. Nothing while an export runs.
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

    // The menu's answer: "Cancel" changes nothing; "Email" (0) and "Save to Camera Roll" (1)
    // start their road.
    void actionSheetClickedButtonAtIndex(UIActionSheet* actionSheet, int buttonIndex) override;
    // The e-mail road's delayed steps: output() on a worker thread, then, back on the main
    // thread, the composer.
    void email();
    void showComposer();
    // The composer's end: an error is shown; the composer goes and the status bar turns black
    // translucent again.
    void mailComposeControllerDidFinishWithResult(MFMailComposeViewController* controller,
                                                  MFMailComposeResult result,
                                                  const NSErrorPtr& error) override;
    // The album road's delayed steps: output() on a worker thread, then, back on the main
    // thread, the album save of "temp.mov".
    void saveToCameraRoll();
    void saveVideo();
    // The album's report (also of the video editor's save): an error is logged and shown, the
    // bar fills, the panel hides 1.0 s later and "Finished Saving" is logged.
    void videoDidFinishSavingWithError(const std::string& videoPath, const NSErrorPtr& error,
                                       void* contextInfo);

    // The "progress" observer: its value goes to updateProgress on the main thread (at once
    // there, posted from another thread).
    void setProgress(const NSNotification& notification);
    // The UIApplicationWillTerminateNotification observer: an export whose movie is not written
    // yet (from the menu choice until the encoding is back, or a running copyMovie) is dropped
    // with the process, and the log says so in one line: "Export abandoned: the application
    // ended before the movie was written".
    void applicationWillTerminate(const NSNotification& notification);
    // The bar to `value` (pinned to 0 ... 1); past 0.9 while saving or copying the bar holds at
    // 0.9 with "Saving..." or "Copying...". Main thread.
    void updateProgress(float value);
    void hideProgress();

    // "temp.mov" and "tempCopy.mov" in Documents.
    static std::string outputPath();
    static std::string copyPath();

    // The pasteboard road, which nothing in the application starts: run copyMovie on a thread of
    // its own while the main run loop runs (the caller keeps the controller alive until it
    // returns). It ignores touches around output(), which it calls on that thread, then has
    // addToPasteboard run on the main thread and waits for it. A failed encoding is shown as on
    // the menu roads.
    void copyMovie();
    // Moves "temp.mov" to "tempCopy.mov" (a failure, such as an older copy in the way, is
    // ignored), puts one item on the general pasteboard — "Video.mov" as
    // "public.utf8-plain-text" and the copy's file URL as "public.url" — logs the items, fills
    // the bar and hides the panel. Main thread.
    void addToPasteboard();

    // The video editor's delegate messages, which nothing in the application sends. A saved
    // movie the album would take goes to the album under a "Saving" overlay on the key window
    // (which nothing removes); one it would not take is refused with an alert.
    void videoEditorControllerDidSaveEditedVideoToPath(UIViewController* editor,
                                                       const std::string& editedVideoPath);
    void videoEditorControllerDidFailWithError(UIViewController* editor, const NSErrorPtr& error);
    void videoEditorControllerDidCancel(UIViewController* editor);

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
    // The superview of the bar and its label (view name "progressPanel").
    std::shared_ptr<UIView> progressPanel() const {
        return progressView_ ? progressView_->superview() : nullptr;
    }
    // The video editor's overlay, while its window holds it.
    std::shared_ptr<QvProgressHUD> HUD() const { return HUD_.lock(); }
    bool isSaving() const { return saving_; }
    bool isCopying() const { return copying_; }
    // From the menu choice until the composer is up or the album has reported.
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
    static void showError(const std::string& message);
    // The export's encoding: runs the encoder driver on the calling thread with the frames, the
    // sound's duration and its file into "temp.mov", and returns once the movie is written or
    // the encoding failed; outputFailure_ then holds "" or the encoder's message (one line). The
    // "progress" values it posts reach the bar through the main run loop. Never on the main
    // thread, which would stop drawing until the movie is written: email and saveToCameraRoll
    // call it on the export's worker (encodeInBackground), copyMovie on its own thread. One at a
    // time per controller; the menu roads let no second export start while one runs.
    void output();
    // The export's worker: runs output() on a thread of its own; once it returns, `next` (or
    // encodingFailed) runs on the main thread, on a later pass than every progress value it
    // posted.
    void encodeInBackground(void (VideoPlayerViewController::*next)());
    // Touches are handled again (once per export).
    void allowTouches();
    // The end of an export road: the export item works again, and the export lets go of the
    // controller (the last reference of a closed player).
    void endExport();
    // An encoding that failed with `message`: alert, panel hidden, export ended.
    void encodingFailed(const std::string& message);

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
    // Held by the key window.
    std::weak_ptr<QvProgressHUD> HUD_;
    // Written by the thread of the road that sets them, read by updateProgress on the main one.
    std::atomic<bool> saving_{false};
    std::atomic<bool> copying_{false};
    bool exporting_ = false;
    bool ignoringTouches_ = false;
    // Held from the menu choice to the road's end, so that a closed player still finishes it.
    std::shared_ptr<VideoPlayerViewController> exportKeepAlive_;
    // From the menu choice until the encoding is back on the main thread.
    bool movieUnderWay_ = false;
    // Written and read by output()'s thread.
    std::string outputFailure_;
    // The sound's length and file as the encoder takes them, read when the controller is made:
    // output() runs off the main thread, and the audio player belongs to the main one.
    float soundSeconds_ = 0;
    std::string soundURL_;

    float frameInterval_ = 0;
    int frameOnScreen_ = -1;
    std::shared_ptr<UIButton> tapButton_;
};
