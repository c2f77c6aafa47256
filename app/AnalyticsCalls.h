#pragma once
// The application's four calls into the analytics library, each guarded: whatever the library
// raises (a cache that cannot be opened, a statement that fails) is caught here and logged, and
// the application goes on.
//
// Threads: main thread only, like the library.

#include <string>

// Starts the analytics with the application's compiled-in code, location off, wi-fi-only off.
void startAnalytics();
// Records the untimed event `name` on the shared facade (nothing before the start).
void recordAnalyticsEvent(const std::string& name);
// Ends the analytics session of the shared facade (nothing before the start).
void endAnalytics();
