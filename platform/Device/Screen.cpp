#include "platform/Device/Screen.h"

#include <cairo.h>

Screen& Screen::mainScreen() {
    static Screen screen;
    return screen;
}

void Screen::setLastComposed(CGImageRef image) {
    std::lock_guard lock(mutex_);
    last_ = std::move(image);
}

CGImageRef Screen::lastComposed() const {
    std::lock_guard lock(mutex_);
    return last_;
}

NSErrorPtr Screen::writePNG(const std::string& path) const {
    auto image = lastComposed();
    if (!image)
        return NSError::make(NSCocoaErrorDomain, 1, "Nothing has been composed yet");
    cairo_status_t status = cairo_surface_write_to_png(image->surface(), path.c_str());
    if (status != CAIRO_STATUS_SUCCESS)
        return NSError::make(NSCocoaErrorDomain, 2,
                             "Cannot write " + path + ": " + cairo_status_to_string(status));
    return nullptr;
}
