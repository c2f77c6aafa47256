#include "platform/Foundation/NSDate.h"

#include <cmath>
#include <ctime>

NSDate NSDate::date() {
    return dateWithTimeIntervalSince1970(Clock::current().now());
}

NSDate NSDate::dateWithTimeIntervalSinceNow(NSTimeInterval t) {
    return dateWithTimeIntervalSince1970(Clock::current().now() + t);
}

NSDate NSDate::dateWithTimeIntervalSince1970(NSTimeInterval t) {
    return NSDate(t - kReferenceToUnix);
}

NSDate NSDate::dateWithTimeIntervalSinceReferenceDate(NSTimeInterval t) {
    return NSDate(t);
}

NSTimeInterval NSDate::timeIntervalSinceNow() const {
    return timeIntervalSince1970() - Clock::current().now();
}

std::string NSDate::description() const {
    time_t t = static_cast<time_t>(std::floor(timeIntervalSince1970()));
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[40];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return buf;
}
