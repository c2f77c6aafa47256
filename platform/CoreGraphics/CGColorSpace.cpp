#include "platform/CoreGraphics/CGColorSpace.h"

#include <new>

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
    return std::shared_ptr<CGColorSpace>(new (std::nothrow) CGColorSpace(CGColorSpace::Model::RGB));
}
