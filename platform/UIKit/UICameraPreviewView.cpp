#include "platform/UIKit/UICameraPreviewView.h"

#include "platform/Device/Compositor.h"

void UICameraPreviewView::drawContent(cairo_t* cr) {
    std::shared_ptr<const CameraPicture> picture;
    if (camera_)
        picture = camera_->newestPicture();
    Compositor::drawPreview(cr, picture.get(), frame().size.width, frame().size.height);
}
