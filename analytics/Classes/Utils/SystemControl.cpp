#include "analytics/Classes/Utils/SystemControl.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstring>
#include <string_view>

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, const void* newp, size_t newlen) {
    if (!name || std::string_view(name) != "hw.machine") {
        errno = ENOENT;
        return -1;
    }
    if (newp || newlen) {
        errno = EPERM;
        return -1;
    }
    struct utsname system {};
    if (uname(&system) != 0 || !oldlenp)
        return -1;
    const size_t needed = std::strlen(system.machine) + 1;
    if (oldp) {
        if (*oldlenp < needed) {
            errno = ENOMEM;
            return -1;
        }
        std::memcpy(oldp, system.machine, needed);
    }
    *oldlenp = needed;
    return 0;
}
