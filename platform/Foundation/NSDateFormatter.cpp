#include "platform/Foundation/NSDateFormatter.h"

#include <unicode/udat.h>
#include <unicode/unistr.h>

namespace {

UDateFormatStyle icuStyle(NSDateFormatterStyle style) {
    switch (style) {
        case NSDateFormatterNoStyle:
            return UDAT_NONE;
        case NSDateFormatterShortStyle:
            return UDAT_SHORT;
        case NSDateFormatterMediumStyle:
            return UDAT_MEDIUM;
        case NSDateFormatterLongStyle:
            return UDAT_LONG;
        case NSDateFormatterFullStyle:
            return UDAT_FULL;
    }
    return UDAT_NONE;
}

}  // namespace

struct NSDateFormatter::Formatter {
    explicit Formatter(UDateFormat* f) : format(f) {}
    ~Formatter() { udat_close(format); }
    Formatter(const Formatter&) = delete;
    Formatter& operator=(const Formatter&) = delete;
    UDateFormat* format;
};

NSDateFormatter::NSDateFormatter()
    : locale_(NSLocale::currentLocale()), zone_(NSTimeZone::systemTimeZone()) {}

NSDateFormatter::~NSDateFormatter() = default;

void NSDateFormatter::setDateStyle(NSDateFormatterStyle style) {
    dateStyle_ = style;
    pattern_.clear();
    formatter_.reset();
}

void NSDateFormatter::setDateFormat(std::string pattern) {
    pattern_ = std::move(pattern);
    formatter_.reset();
}

void NSDateFormatter::setLocale(NSLocale locale) {
    locale_ = std::move(locale);
    formatter_.reset();
}

void NSDateFormatter::setTimeZone(NSTimeZone zone) {
    zone_ = std::move(zone);
    formatter_.reset();
}

NSDateFormatter::Formatter* NSDateFormatter::formatter() {
    if (formatter_)
        return formatter_.get();
    bool usePattern = !pattern_.empty();
    if (!usePattern && dateStyle_ == NSDateFormatterNoStyle)
        return nullptr;
    icu::UnicodeString zone = icu::UnicodeString::fromUTF8(zone_.name());
    icu::UnicodeString pattern = icu::UnicodeString::fromUTF8(pattern_);
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* f = udat_open(
        usePattern ? UDAT_PATTERN : UDAT_NONE, usePattern ? UDAT_PATTERN : icuStyle(dateStyle_),
        locale_.localeIdentifier().c_str(), zone.getBuffer(), zone.length(),
        usePattern ? pattern.getBuffer() : nullptr, usePattern ? pattern.length() : -1, &status);
    if (U_FAILURE(status) || !f)
        return nullptr;
    udat_setLenient(f, false);
    formatter_ = std::make_unique<Formatter>(f);
    return formatter_.get();
}

std::string NSDateFormatter::stringFromDate(const NSDate& date) {
    Formatter* f = formatter();
    if (!f)
        return {};
    UDate millis = date.timeIntervalSince1970() * 1000.0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = udat_format(f->format, millis, nullptr, 0, nullptr, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return {};
    icu::UnicodeString text;
    UChar* buffer = text.getBuffer(length + 1);
    status = U_ZERO_ERROR;
    length = udat_format(f->format, millis, buffer, length + 1, nullptr, &status);
    text.releaseBuffer(U_SUCCESS(status) ? length : 0);
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::optional<NSDate> NSDateFormatter::dateFromString(const std::string& text) {
    Formatter* f = formatter();
    if (!f)
        return std::nullopt;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    int32_t position = 0;
    UErrorCode status = U_ZERO_ERROR;
    UDate millis = udat_parse(f->format, u.getBuffer(), u.length(), &position, &status);
    if (U_FAILURE(status) || position != u.length())
        return std::nullopt;
    return NSDate::dateWithTimeIntervalSince1970(millis / 1000.0);
}
