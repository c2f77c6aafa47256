#include "platform/UIKit/UIImagePickerController.h"

#include "platform/Device/DeviceSettings.h"
#include "platform/Device/Screen.h"
#include "platform/Foundation/NSLog.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UICameraPreviewView.h"

bool UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceType sourceType) {
    if (sourceType != UIImagePickerControllerSourceTypeCamera)
        return true;
    const std::string& input = DeviceSettings::current().camera;
    if (input == "none")
        return false;
    NSErrorPtr error;
    if (Camera::canOpen(input, &error))
        return true;
    NSLog("The camera is not available: %s",
          error ? error->localizedDescription().c_str() : "unknown reason");
    return false;
}

void UIImagePickerController::setCameraOverlayView(std::shared_ptr<UIView> overlay) {
    if (overlay_ && isViewLoaded())
        overlay_->removeFromSuperview();
    overlay_ = std::move(overlay);
    if (overlay_ && isViewLoaded())
        view()->addSubview(overlay_);
}

void UIImagePickerController::loadView() {
    CGRect screen = CGRectMake(0, 0, Screen::kWidth, Screen::kHeight);
    auto root = UIView::initWithFrame(screen);
    root->setBackgroundColor(UIColor::blackColor());
    preview_ = std::make_shared<UICameraPreviewView>();
    preview_->setFrame(screen);
    preview_->setName("cameraPreview");
    preview_->setHidden(sourceType_ != UIImagePickerControllerSourceTypeCamera);
    root->addSubview(preview_);
    if (overlay_)
        root->addSubview(overlay_);
    setView(root);
}

void UIImagePickerController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (sourceType_ == UIImagePickerControllerSourceTypeCamera)
        openCamera();
    shown_ = true;
    if (camera_)
        camera_->setPaused(false);
    if (preview_)
        preview_->setHidden(sourceType_ != UIImagePickerControllerSourceTypeCamera);
}

void UIImagePickerController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    shown_ = false;
    if (camera_)
        camera_->setPaused(true);
}

void UIImagePickerController::followActivity(const NSNotification& notification) {
    if (camera_)
        camera_->setPaused(!shown_ ||
                           notification.name() == UIApplicationWillResignActiveNotification);
}

void UIImagePickerController::openCamera() {
    if (triedCamera_)
        return;
    triedCamera_ = true;
    NSErrorPtr error;
    std::unique_ptr<Camera> camera = Camera::open(DeviceSettings::current().camera, &error);
    if (!camera) {
        NSLog("The camera cannot be opened: %s",
              error ? error->localizedDescription().c_str() : "unknown reason");
        return;
    }
    camera_ = std::move(camera);
    if (preview_)
        preview_->setCamera(camera_);
    auto& center = NSNotificationCenter::defaultCenter();
    center.addObserver(retained(this), &UIImagePickerController::followActivity,
                       UIApplicationWillResignActiveNotification, nullptr);
    center.addObserver(retained(this), &UIImagePickerController::followActivity,
                       UIApplicationDidBecomeActiveNotification, nullptr);
}
