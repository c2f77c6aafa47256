#pragma once
// One position fix: coordinate in degrees and the moment it was taken. Immutable.

#include <memory>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSObject.h"

using CLLocationDegrees = double;

struct CLLocationCoordinate2D {
    CLLocationDegrees latitude = 0;
    CLLocationDegrees longitude = 0;
};

class CLLocation : public NSObject {
  public:
    // A fix taken at `timestamp`.
    static std::shared_ptr<CLLocation> initWithCoordinate(CLLocationCoordinate2D coordinate,
                                                          NSDate timestamp);

    CLLocationCoordinate2D coordinate() const { return coordinate_; }
    NSDate timestamp() const { return timestamp_; }

  private:
    CLLocation(CLLocationCoordinate2D coordinate, NSDate timestamp)
        : coordinate_(coordinate), timestamp_(timestamp) {}
    CLLocationCoordinate2D coordinate_;
    NSDate timestamp_;
};
