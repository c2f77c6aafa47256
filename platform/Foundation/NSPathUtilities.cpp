#include "platform/Foundation/NSPathUtilities.h"

#include <cstdlib>
#include <mutex>

#include "platform/Foundation/NSString.h"

namespace {

std::mutex homeMutex;
std::string homeOverride;

std::string envOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

std::string homeDirectoryFromEnvironment() {
    std::string home = envOrEmpty("TILVEX_HOME");
    if (!home.empty())
        return stringByExpandingTildeInPath(home);
    std::string data = envOrEmpty("XDG_DATA_HOME");
    if (!data.empty())
        return stringByAppendingPathComponent(data, "tilvex");
    return stringByExpandingTildeInPath("~/.local/share/tilvex");
}

std::string NSHomeDirectory() {
    {
        std::lock_guard lock(homeMutex);
        if (!homeOverride.empty())
            return homeOverride;
    }
    return homeDirectoryFromEnvironment();
}

void NSSetHomeDirectory(std::string path) {
    std::lock_guard lock(homeMutex);
    homeOverride = std::move(path);
}

std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domainMask,
                                                             bool expandTilde) {
    if (directory != NSDocumentDirectory || !(domainMask & NSUserDomainMask))
        return {};
    std::string documents = stringByAppendingPathComponent(NSHomeDirectory(), "Documents");
    return {expandTilde ? stringByExpandingTildeInPath(documents) : documents};
}
