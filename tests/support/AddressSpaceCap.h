#pragma once
// Caps the address space of this process at what it maps now plus `headroom` bytes, so that the
// child of a death test can show that some work needs no more memory than that (a file handled a
// piece at a time, not read whole). The cap tells nothing under a sanitizer, which reserves
// address space of its own: kAddressSpaceCapTells says whether it does here.

#include <sys/resource.h>

#include <cstddef>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAddressSpaceCapTells = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kAddressSpaceCapTells = false;
#else
inline constexpr bool kAddressSpaceCapTells = true;
#endif
#else
inline constexpr bool kAddressSpaceCapTells = true;
#endif

// False when the cap cannot be set.
inline bool capAddressSpace(size_t headroom) {
    std::ifstream status("/proc/self/status");
    size_t mappedKiB = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            mappedKiB = std::stoul(line.substr(7));
    if (mappedKiB == 0)
        return false;
    const rlimit cap{mappedKiB * 1024 + headroom, mappedKiB * 1024 + headroom};
    return ::setrlimit(RLIMIT_AS, &cap) == 0;
}
