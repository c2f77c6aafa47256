#include "platform/Foundation/NSTimeZone.h"

#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <cstdlib>

namespace {

bool knownZone(const std::string& name) {
    icu::UnicodeString id = icu::UnicodeString::fromUTF8(name);
    if (id.isEmpty())
        return false;
    UChar canonical[128];
    UBool isSystem = false;
    UErrorCode status = U_ZERO_ERROR;
    ucal_getCanonicalTimeZoneID(id.getBuffer(), id.length(), canonical, 128, &isSystem, &status);
    return U_SUCCESS(status);
}

std::string icuDefaultZone() {
    UChar id[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = ucal_getDefaultTimeZone(id, 128, &status);
    if (U_FAILURE(status))
        return "UTC";
    std::string out;
    icu::UnicodeString(id, length).toUTF8String(out);
    return out;
}

}  // namespace

std::optional<NSTimeZone> NSTimeZone::timeZoneWithName(const std::string& name) {
    if (!knownZone(name))
        return std::nullopt;
    return NSTimeZone(name);
}

NSTimeZone NSTimeZone::systemTimeZone() {
    const char* tz = std::getenv("TZ");
    if (!tz)
        return NSTimeZone(icuDefaultZone());
    std::string name = tz[0] == ':' ? tz + 1 : tz;
    if (name.empty())
        return NSTimeZone("UTC");
    return NSTimeZone(knownZone(name) ? name : "GMT");
}
