#include "platform/UIKit/UIColor.h"

#include "platform/Foundation/NSString.h"

std::string UIColor::description() const {
    return stringWithFormat("%g %g %g %g", red_, green_, blue_, alpha_);
}
