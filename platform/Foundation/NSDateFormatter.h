#pragma once
// Dates to text and back, on ICU patterns ("yyyy/MM/dd HH:mm", "MMMM d, yyyy").
//
// A new formatter has no style and no pattern, the user's locale (NSLocale::currentLocale) and
// the device's current zone (NSTimeZone::systemTimeZone, read when the formatter is made).
// An explicit pattern decides the text; setting a style afterwards clears the pattern.
// Parsing is strict and must use the whole string.
//
// Threads: one formatter is used by one thread at a time.

#include <memory>
#include <optional>
#include <string>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSLocale.h"
#include "platform/Foundation/NSTimeZone.h"

enum NSDateFormatterStyle {
    NSDateFormatterNoStyle = 0,
    NSDateFormatterShortStyle = 1,
    NSDateFormatterMediumStyle = 2,
    NSDateFormatterLongStyle = 3,
    NSDateFormatterFullStyle = 4,
};

// Only the ICU-pattern behaviour exists; the older one is accepted and behaves the same.
enum NSDateFormatterBehavior {
    NSDateFormatterBehaviorDefault = 0,
    NSDateFormatterBehavior10_0 = 1000,
    NSDateFormatterBehavior10_4 = 1040,
};

class NSDateFormatter {
  public:
    NSDateFormatter();
    ~NSDateFormatter();
    NSDateFormatter(const NSDateFormatter&) = delete;
    NSDateFormatter& operator=(const NSDateFormatter&) = delete;

    void setDateStyle(NSDateFormatterStyle style);
    void setDateFormat(std::string pattern);
    void setFormatterBehavior(NSDateFormatterBehavior) {}
    void setLocale(NSLocale locale);
    void setTimeZone(NSTimeZone zone);

    const NSLocale& locale() const { return locale_; }
    const NSTimeZone& timeZone() const { return zone_; }

    // "" when neither a style nor a pattern is set.
    std::string stringFromDate(const NSDate& date);
    // nullopt when the text does not match the pattern.
    std::optional<NSDate> dateFromString(const std::string& text);

  private:
    struct Formatter;
    Formatter* formatter();

    NSDateFormatterStyle dateStyle_ = NSDateFormatterNoStyle;
    std::string pattern_;
    NSLocale locale_;
    NSTimeZone zone_;
    // Made on first use from the settings above, dropped when one changes.
    std::unique_ptr<Formatter> formatter_;
};
