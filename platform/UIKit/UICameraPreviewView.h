#pragma once
// The camera's live picture, scaled to fill the view, centred and cropped; grey while the
// camera has no picture (or there is none).
//
// Threads: main thread only. The view shares the camera with its picker.

#include <memory>

#include "platform/Device/Camera.h"
#include "platform/UIKit/UIView.h"

class UICameraPreviewView : public UIView {
  public:
    UICameraPreviewView() = default;
    void setCamera(std::shared_ptr<Camera> camera) { camera_ = std::move(camera); }
    const std::shared_ptr<Camera>& camera() const { return camera_; }

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    std::shared_ptr<Camera> camera_;
};
