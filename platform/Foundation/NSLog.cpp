#include "platform/Foundation/NSLog.h"
#include <cerrno>

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSString.h"

void NSLogString(const std::string& message) {
    double now = Clock::current().now();
    time_t secs = static_cast<time_t>(std::floor(now));
    int millis = static_cast<int>((now - std::floor(now)) * 1000.0);
    struct tm tm {};
    localtime_r(&secs, &tm);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::string line = stamp;
    char rest[64];
    std::snprintf(rest, sizeof rest, ".%03d %s[%d] ", millis, program_invocation_short_name,
                  static_cast<int>(getpid()));
    line += rest;
    line += message;
    line += '\n';
    // One write per line keeps lines from different threads whole.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void NSLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = stringWithFormatV(format, args);
    va_end(args);
    NSLogString(message);
}
