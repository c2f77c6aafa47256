#pragma once
// A moment in time, as seconds since the reference date 2001-01-01 00:00:00 UTC.
// `date()` reads the installed Clock.

#include <string>

#include "platform/Foundation/Clock.h"

class NSDate {
  public:
    // Seconds from 1970-01-01 to 2001-01-01.
    static constexpr NSTimeInterval kReferenceToUnix = 978307200.0;

    NSDate() = default;
    static NSDate date();
    static NSDate dateWithTimeIntervalSinceNow(NSTimeInterval t);
    static NSDate dateWithTimeIntervalSince1970(NSTimeInterval t);
    static NSDate dateWithTimeIntervalSinceReferenceDate(NSTimeInterval t);

    NSTimeInterval timeIntervalSinceReferenceDate() const { return sinceReference_; }
    NSTimeInterval timeIntervalSince1970() const { return sinceReference_ + kReferenceToUnix; }
    NSTimeInterval timeIntervalSinceNow() const;
    NSTimeInterval timeIntervalSinceDate(const NSDate& other) const {
        return sinceReference_ - other.sinceReference_;
    }
    NSDate dateByAddingTimeInterval(NSTimeInterval t) const {
        return dateWithTimeIntervalSinceReferenceDate(sinceReference_ + t);
    }

    auto operator<=>(const NSDate&) const = default;

    // "YYYY-MM-DD HH:MM:SS +0000" in UTC.
    std::string description() const;

  private:
    explicit NSDate(NSTimeInterval sinceReference) : sinceReference_(sinceReference) {}
    NSTimeInterval sinceReference_ = 0;
};
