#pragma once
// The recording screen: the live camera preview full screen under the overlay with the record
// button and the album button. The record button's title is the recording state: "Record" is
// idle, "Stop" is recording; any other title makes the button do nothing.
//
// A press of "Record" starts a recording: the sound recorder on a new Audio_NNNN.caf and the
// capture thread, which grabs the screen at every display refresh and keeps each grab as JPEG in
// memory. A press of "Stop" (or the application resigning active or terminating) stops it and
// stores it: the frame archive Video_NNNN, the thumbnail Thumbnail_NNNN.jpg and one Video row,
// saved at once, then the event "Videos" for the analytics.
//
// A recording that cannot be stored whole (a sound file that could not be written, no frame
// grabbed, an archive or thumbnail that cannot be written) stores nothing: its files are removed
// and an alert "Error" says why; earlier recordings stay as they were. A store that cannot be
// saved at the stop (locked by another program, a full disk) keeps the row among the context's
// pending changes, with its files, for the next save (another recording's, a delete's, the
// termination's), and an alert "Error" says why at once; should no save succeed before the end,
// the next launch restores the row (RecordingStore). New files never take a name that a row
// still names. A sound recorder that cannot be prepared, or a thread of the recording (the
// microphone's, the capture's) that cannot start, shows an alert "Error": no recording starts
// and no file is left.
//
// A camera or microphone that stops answering mid-recording ends its input within a bound (see
// MediaInput): the recording goes on, and its stop (a press, a quit, a termination) stores what
// was captured, the sound written so far with silence after it.
//
// Threads: everything runs on the main thread except startTimerThread and takePicture, which run
// on the capture thread. The capture thread is the only writer of the frame list; the stop reads
// it only after that thread has ended. The context is not retained: the application delegate
// that gives it keeps it for the whole process.

#include <memory>
#include <mutex>
#include <string>

#include "platform/AVFoundation/AVAudioRecorder.h"
#include "platform/CoreData/NSManagedObjectContext.h"
#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/Foundation/NSThread.h"
#include "platform/Foundation/Value.h"
#include "platform/QuartzCore/CADisplayLink.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIButton.h"
#include "platform/UIKit/UIImagePickerController.h"
#include "platform/UIKit/UIViewController.h"

class TilvexViewController : public UIViewController,
                             public UINavigationControllerDelegate,
                             public UIImagePickerControllerDelegate,
                             public UIAlertViewDelegate {
  public:
    static constexpr const char* kRecordTitle = "Record";
    static constexpr const char* kStopTitle = "Stop";
    // The tag of the no-camera alert, whose button ends the process.
    static constexpr int kNoCameraAlertTag = 1;
    // The title colour of the blink's red phase.
    static constexpr UIColor kBlinkRed = UIColor(123 / 255.0, 18 / 255.0, 18 / 255.0, 1.0);
    // Seconds of each phase of the blink.
    static constexpr NSTimeInterval kBlinkInterval = 0.5;
    // JPEG quality of the frames and of the thumbnail.
    static constexpr double kFrameQuality = 0.5;
    static constexpr double kThumbnailQuality = 0.0;
    // The thumbnail: the centred square of the 320 x 426 preview area.
    static constexpr CGRect kThumbnailRect = {{0, 53}, {320, 320}};

    NSManagedObjectContext* managedObjectContext() const { return managedObjectContext_; }
    void setManagedObjectContext(NSManagedObjectContext* context) {
        managedObjectContext_ = context;
    }
    const std::shared_ptr<UIView>& overlayView() const { return overlayView_; }
    const std::shared_ptr<UIButton>& button() const { return button_; }
    const std::shared_ptr<UIButton>& albumButton() const { return albumButton_; }
    const std::shared_ptr<UIImagePickerController>& picker() const { return picker_; }

    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    // Builds the camera picker with the overlay, or shows the no-camera alert.
    void createPicker();

    // The record/stop state machine of the record button.
    void buttonPressed();
    // Stops and stores a running recording; nothing while idle.
    void saveUnfinished(const NSNotification& notification);
    void changeTitleToRed();
    void changeTitleToBlack();
    // The album button: the list of recordings in a navigation controller over the picker, with
    // the status bar shown; its Done button closes the album and hides the status bar again.
    void showVideos();
    void cancelVideos();

    // The no-camera alert's button ends the process with status 0.
    void alertViewClickedButtonAtIndex(UIAlertView* alertView, int buttonIndex) override;

    // The capture thread's life: a display link on this thread's run loop that calls
    // takePicture at every refresh, one frame grabbed at once, until the stop invalidates it.
    void startTimerThread();
    // Grabs the screen, encodes it as JPEG and appends it to the frame list. A grab that yields
    // no picture appends nothing.
    void takePicture(CADisplayLink* link);

    // Outlets "overlayView", "button", "albumButton" besides the controller's own.
    bool setOutlet(const std::string& name, const std::shared_ptr<NSObject>& object) override;
    // Actions "buttonPressed", "showVideos".
    Action actionNamed(const std::string& name) override;

  private:
    void startRecording();
    // Starts the capture thread on an empty frame list; false with `*reason` when no thread can
    // start.
    bool startCapture(std::string* reason);
    // For a recording that could not start: stops `recorder`, removes its file, and shows the
    // alert "Error" with `message`.
    void abandonRecording(AVAudioRecorder& recorder, const std::string& message);
    void stopRecording();
    // Invalidates the display link and waits for the capture thread to end.
    void endCapture();
    // Checks the sound file, writes the recording's archive and thumbnail and inserts its row
    // (not saved yet); false with `*reason` when something could not be written (then nothing
    // of it stays but the sound file, which the caller removes).
    bool storeRecording(double duration, std::string* reason);
    // Saves the context; a failure keeps the changes pending and shows the alert "Error".
    void saveStore();
    void showError(const std::string& message);

    std::shared_ptr<UIImagePickerController> picker_;
    bool notFirstPicker_ = false;
    std::shared_ptr<UIView> overlayView_;
    std::shared_ptr<UIButton> button_;
    std::shared_ptr<UIButton> albumButton_;
    std::shared_ptr<AVAudioRecorder> recorder_;
    NSManagedObjectContext* managedObjectContext_ = nullptr;
    NSDate date_;

    // The capture: the frame list (written by the capture thread only while it runs), the
    // display link and the thread. `captureMutex_` guards `timer_` and `captureStopped_`, so
    // that a stop before the link exists still ends the thread.
    ValueArray results_;
    std::mutex captureMutex_;
    std::shared_ptr<CADisplayLink> timer_;
    bool captureStopped_ = false;
    std::shared_ptr<NSThread> captureThread_;
};
