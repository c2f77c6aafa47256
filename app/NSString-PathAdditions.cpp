#include "app/NSString-PathAdditions.h"

#include <algorithm>
#include <cmath>

#include "platform/Foundation/NSDateFormatter.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"

std::string PathAdditions::documentsDirectory() {
    return NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true).back();
}

std::string PathAdditions::appendPath(const std::string& name) {
    return stringWithFormat("%s/%s", documentsDirectory().c_str(), name.c_str());
}

std::string PathAdditions::findUniquePath(const std::string& base, const std::string& ext,
                                          const std::set<std::string>& taken) {
    const NSFileManager& files = NSFileManager::defaultManager();
    for (long n = 1;; ++n) {
        std::string name = stringWithFormat("%s_%04ld%s", base.c_str(), n, ext.c_str());
        std::string candidate =
            stringWithFormat("%s/%s", documentsDirectory().c_str(), name.c_str());
        // A link that points nowhere takes its number too: the file is never written through it.
        // A name a row still names, its file gone, stays that row's: its delete removes the name.
        if (!files.entryExistsAtPath(candidate) && !taken.count(name))
            return candidate;
    }
}

std::string PathAdditions::stringFromDate(const NSDate& date) {
    NSDateFormatter formatter;
    formatter.setDateStyle(NSDateFormatterLongStyle);
    formatter.setDateFormat("yyyy/MM/dd HH:mm");
    formatter.setFormatterBehavior(NSDateFormatterBehavior10_4);
    formatter.setLocale(NSLocale("en_US"));
    return formatter.stringFromDate(date);
}

std::string PathAdditions::stringFromInterval(double seconds) {
    // Keeps the integer conversions below defined for any input.
    if (!std::isfinite(seconds))
        seconds = 0;
    seconds = std::clamp(seconds, -1e15, 1e15);
    long long s = static_cast<long long>(seconds) % 60;
    long long m = static_cast<long long>(seconds / 60.0);
    std::string secondsText = s >= 10 ? stringWithFormat("%lld", s) : stringWithFormat("0%lld", s);
    return stringWithFormat("%lld:%s", m, secondsText.c_str());
}
