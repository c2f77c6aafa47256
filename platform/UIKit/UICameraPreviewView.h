#pragma once
// The camera's live picture, scaled to fill the view, centred and cropped; grey while the
// camera has no picture (or there is none). The screen is composed again for the preview only
// while the camera's picture changes: drawnPreviewChanged tells it, for the previews drawn in
// the last composition.
//
// Threads: main thread only. The view shares the camera with its picker.

#include <memory>
#include <vector>

#include "platform/Device/Camera.h"
#include "platform/UIKit/UIView.h"

class UICameraPreviewView : public UIView {
  public:
    UICameraPreviewView() = default;
    void setCamera(std::shared_ptr<Camera> camera) {
        camera_ = std::move(camera);
        setNeedsDisplay();
    }
    const std::shared_ptr<Camera>& camera() const { return camera_; }

    // The composition of the screen begins: no preview has been drawn in it yet.
    static void forgetDrawnPreviews();
    // A preview drawn in the last composition has a newer camera picture to show, unlike the
    // one it drew.
    static bool drawnPreviewChanged();

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    static std::vector<std::weak_ptr<UICameraPreviewView>>& drawnPreviews();

    std::shared_ptr<Camera> camera_;
    std::shared_ptr<const CameraPicture> drawn_;  // the picture of the last drawing
};
