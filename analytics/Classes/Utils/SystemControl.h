#pragma once
// The system control query of the phone's kernel, as far as the analytics library asks it:
// "hw.machine" is the machine's hardware name, here the one uname reports.

#include <cstddef>

// Copies the value of `name` with its terminating zero into `oldp` (`*oldlenp` bytes at most)
// and stores its length in `*oldlenp`; with `oldp` null only the length is stored. Returns 0,
// or -1 with errno ENOENT for an unknown name, ENOMEM for a short buffer, EPERM for a write.
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen);
