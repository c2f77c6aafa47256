#include "platform/UIKit/UICameraPreviewView.h"

#include "platform/Device/Compositor.h"

std::vector<std::weak_ptr<UICameraPreviewView>>& UICameraPreviewView::drawnPreviews() {
    static std::vector<std::weak_ptr<UICameraPreviewView>> previews;
    return previews;
}

void UICameraPreviewView::forgetDrawnPreviews() {
    drawnPreviews().clear();
}

namespace {

bool samePicture(const CameraPicture& a, const CameraPicture& b) {
    return a.width == b.width && a.height == b.height && a.stride == b.stride && a.bytes == b.bytes;
}

}  // namespace

bool UICameraPreviewView::drawnPreviewChanged() {
    for (const auto& weak : drawnPreviews()) {
        auto preview = weak.lock();
        if (!preview || !preview->camera_)
            continue;
        auto newest = preview->camera_->newestPicture();
        if (newest == preview->drawn_)
            continue;
        // A still camera still sends pictures: the same pixels show no change.
        if (!newest || !preview->drawn_ || !samePicture(*newest, *preview->drawn_))
            return true;
        preview->drawn_ = std::move(newest);
    }
    return false;
}

void UICameraPreviewView::drawContent(cairo_t* cr) {
    drawn_ = camera_ ? camera_->newestPicture() : nullptr;
    drawnPreviews().push_back(weakly(this));
    Compositor::drawPreview(cr, drawn_.get(), frame().size.width, frame().size.height);
}
