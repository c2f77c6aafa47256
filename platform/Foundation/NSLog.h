#pragma once
// The platform log: one line to standard error,
// "YYYY-MM-DD HH:MM:SS.mmm program[pid] message". Safe from any thread.

#include <string>

void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void NSLogString(const std::string& message);
