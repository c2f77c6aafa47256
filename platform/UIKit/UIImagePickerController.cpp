#include "platform/UIKit/UIImagePickerController.h"

#include "platform/Device/DeviceSettings.h"
#include "platform/Device/Screen.h"
#include "platform/Foundation/NSLog.h"
#include "platform/UIKit/UIApplication.h"
#include "platform/UIKit/UICameraPreviewView.h"

namespace {

// The phone's one camera, opened once (see Camera::open): the availability check keeps what it
// opened for the picker that shows it, and a check while a picker shows it opens nothing.
struct DeviceCamera {
    std::string input;  // the setting it was opened from
    std::shared_ptr<Camera> checked;
    std::weak_ptr<Camera> inUse;
};
// Never destroyed: a camera still kept at the end of the process must not be closed while the
// process tears down what its thread uses, so it ends with the process.
DeviceCamera& deviceCamera() {
    static DeviceCamera* camera = new DeviceCamera();
    return *camera;
}

// The camera of the current setting that is open already, or nullptr.
std::shared_ptr<Camera> cameraAlreadyOpen(const std::string& input) {
    DeviceCamera& device = deviceCamera();
    if (device.input != input)
        return nullptr;
    return device.checked ? device.checked : device.inUse.lock();
}

}  // namespace

bool UIImagePickerController::isSourceTypeAvailable(UIImagePickerControllerSourceType sourceType) {
    if (sourceType != UIImagePickerControllerSourceTypeCamera)
        return true;
    const std::string input = DeviceSettings::current().camera;
    if (input == "none")
        return false;
    if (cameraAlreadyOpen(input))
        return true;
    NSErrorPtr error;
    std::shared_ptr<Camera> camera = Camera::open(input, &error);
    if (!camera) {
        NSLog("The camera is not available: %s",
              error ? error->localizedDescription().c_str() : "unknown reason");
        return false;
    }
    deviceCamera() = {input, camera, camera};
    return true;
}

void UIImagePickerController::setSourceType(UIImagePickerControllerSourceType sourceType) {
    sourceType_ = sourceType;
    DeviceCamera& device = deviceCamera();
    if (sourceType_ == UIImagePickerControllerSourceTypeCamera && !camera_ &&
        device.input == DeviceSettings::current().camera)
        camera_ = std::move(device.checked);
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
    if (!camera_) {
        const std::string input = DeviceSettings::current().camera;
        NSErrorPtr error;
        camera_ = Camera::open(input, &error);
        if (!camera_) {
            NSLog("The camera cannot be opened: %s",
                  error ? error->localizedDescription().c_str() : "unknown reason");
            return;
        }
        deviceCamera() = {input, nullptr, camera_};
    }
    if (preview_)
        preview_->setCamera(camera_);
    auto& center = NSNotificationCenter::defaultCenter();
    center.addObserver(retained(this), &UIImagePickerController::followActivity,
                       UIApplicationWillResignActiveNotification, nullptr);
    center.addObserver(retained(this), &UIImagePickerController::followActivity,
                       UIApplicationDidBecomeActiveNotification, nullptr);
}
