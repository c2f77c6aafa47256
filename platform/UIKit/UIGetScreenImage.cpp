#include "platform/UIKit/UIGetScreenImage.h"

#include "platform/Device/Screen.h"

CGImageRef UIGetScreenImage() {
    return Screen::mainScreen().lastComposed();
}
