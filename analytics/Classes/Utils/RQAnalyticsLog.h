#pragma once
// The analytics library's diagnostic log and the user's opt-out test, which every piece of the
// library consults (the facade, the upload, the hand-over, the cache file), also before any
// facade exists. The facade's class operations of the same names delegate here.
//
// State is one set per process. Threads: no lock; every caller is on the main thread.

#include <cstdarg>

class RQAnalyticsLog {
  public:
    RQAnalyticsLog() = delete;

    // The opt-out test of the user default kEnableHalvornStatsCollection (missing counts as
    // true): true when analytics is off, with a debug-log line. The first read of the process
    // fixes whether analytics can be on at all; after a true first read each call follows the
    // current value.
    static bool statsDisabled();
    // Turns the debug log on for the rest of the process; its first line says so.
    static void enableDebugMode();
    // One debug-log line on standard output, "<date> libRQAnalytics: <message>", while the debug
    // log is on; nothing otherwise. printf-style format (%s where the platform writes %@).
    static void log(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void logV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

    // Debug log off, opt-out not read yet (test set-up only).
    static void resetForTesting();
};
