#include "platform/CoreLocation/CLLocation.h"

std::shared_ptr<CLLocation> CLLocation::initWithCoordinate(CLLocationCoordinate2D coordinate,
                                                           NSDate timestamp) {
    return std::shared_ptr<CLLocation>(new CLLocation(coordinate, timestamp));
}
