#include "platform/Device/DeviceHome.h"

#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"

namespace {

std::string inHome(const char* folder) {
    return stringByAppendingPathComponent(NSHomeDirectory(), folder);
}

}  // namespace

const std::vector<std::string>& DeviceHome::folders() {
    static const std::vector<std::string> names = {
        "Documents", "Library/Preferences", "Library/Cookies", "Mail/Outbox", "Media/DCIM", "tmp",
    };
    return names;
}

bool DeviceHome::prepare(const std::string& path, NSErrorPtr* error) {
    const NSFileManager& files = NSFileManager::defaultManager();
    for (const std::string& folder : folders()) {
        if (!files.createDirectoryAtPath(stringByAppendingPathComponent(path, folder), true, error))
            return false;
    }
    NSSetHomeDirectory(path);
    return true;
}

std::string DeviceHome::path() {
    return NSHomeDirectory();
}
std::string DeviceHome::documents() {
    return inHome("Documents");
}
std::string DeviceHome::preferences() {
    return inHome("Library/Preferences");
}
std::string DeviceHome::cookies() {
    return inHome("Library/Cookies");
}
std::string DeviceHome::outbox() {
    return inHome("Mail/Outbox");
}
std::string DeviceHome::photoAlbum() {
    return inHome("Media/DCIM");
}
std::string DeviceHome::tmp() {
    return inHome("tmp");
}
