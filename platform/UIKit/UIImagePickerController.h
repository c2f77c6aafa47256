#pragma once
// The image picker. With the camera source it shows the camera's live picture full screen and,
// above it, the camera overlay view; the camera (the one the availability check opened, else
// opened from the device's camera setting) is taken when the picker first appears, paused while
// a screen the picker presents covers it, and closed
// when the picker goes. The camera controls themselves are
// not drawn (`showsCameraControls` is kept only as a setting).
//
// Threads: main thread only. The picker retains its overlay view; its delegate is not retained.

#include <memory>

#include "platform/Device/Camera.h"
#include "platform/Foundation/NSNotificationCenter.h"
#include "platform/UIKit/UIViewController.h"

enum UIImagePickerControllerSourceType {
    UIImagePickerControllerSourceTypePhotoLibrary = 0,
    UIImagePickerControllerSourceTypeCamera = 1,
    UIImagePickerControllerSourceTypeSavedPhotosAlbum = 2,
};

// The picker's callbacks (picked media, cancel) are not used by this system: both interfaces
// are empty markers of the delegate's role.
class UINavigationControllerDelegate {
  public:
    virtual ~UINavigationControllerDelegate() = default;
};
class UIImagePickerControllerDelegate {
  public:
    virtual ~UIImagePickerControllerDelegate() = default;
};

class UICameraPreviewView;

class UIImagePickerController : public UIViewController {
  public:
    UIImagePickerController() = default;
    static std::shared_ptr<UIImagePickerController> init() {
        return std::make_shared<UIImagePickerController>();
    }

    // The camera is available when the device's camera setting opens (a setting other than
    // "none" that fails is logged with its reason); the photo library and the saved photos album
    // always are. The camera is opened once: the one this check opens is kept for the next picker
    // set to the camera source, which closes it when it goes (one never taken stays open until
    // the process ends), and a check while the camera is open (kept, or a picker's) opens nothing
    // and answers yes.
    static bool isSourceTypeAvailable(UIImagePickerControllerSourceType sourceType);

    UIImagePickerControllerSourceType sourceType() const { return sourceType_; }
    // Set to the camera, the picker takes the camera that the availability check kept, if any.
    void setSourceType(UIImagePickerControllerSourceType sourceType);
    std::shared_ptr<UIImagePickerControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<UIImagePickerControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // The simulated picker draws no camera controls of its own, so there is nothing to hide.
    void setShowsCameraControls(bool) {}
    void setCameraOverlayView(std::shared_ptr<UIView> overlay);

    // The open camera: the one the check kept, else opened at the first appearance; null when
    // it could not be opened.
    const std::shared_ptr<Camera>& camera() const { return camera_; }

    void loadView() override;
    void viewWillAppear(bool animated) override;
    // Covered by a screen it presents, or while the application is not active (the phone's
    // screen is off), the picker pauses its camera until it shows it again.
    void viewWillDisappear(bool animated) override;

  private:
    void openCamera();
    // The camera works while the picker shows it and the application is active.
    void followActivity(const NSNotification& notification);

    UIImagePickerControllerSourceType sourceType_ = UIImagePickerControllerSourceTypePhotoLibrary;
    std::weak_ptr<UIImagePickerControllerDelegate> delegate_;
    std::shared_ptr<UIView> overlay_;
    std::shared_ptr<UICameraPreviewView> preview_;
    std::shared_ptr<Camera> camera_;
    bool triedCamera_ = false;
    bool shown_ = false;  // appeared and not covered
};
