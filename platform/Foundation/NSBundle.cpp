#include "platform/Foundation/NSBundle.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/PropertyList.h"

namespace {

std::string programFolder() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

std::string mainResourcePath() {
    const char* env = std::getenv("TILVEX_RESOURCES");
    if (env && *env)
        return env;
    std::string folder = programFolder();
    for (const char* candidate : {"Resources", "../share/tilvex"}) {
        std::string path = stringByAppendingPathComponent(folder, candidate);
        bool isDirectory = false;
        if (NSFileManager::defaultManager().fileExistsAtPath(path, &isDirectory) && isDirectory)
            return path;
    }
    return stringByAppendingPathComponent(folder, "Resources");
}

Value readInfo(const std::string& resourcePath) {
    auto bytes =
        NSData::dataWithContentsOfFile(stringByAppendingPathComponent(resourcePath, "Info.plist"));
    std::optional<Value> info = bytes ? PropertyList::read(*bytes) : std::nullopt;
    return info && info->isDictionary() ? *info : Value::dictionary();
}

}  // namespace

std::shared_ptr<NSBundle> NSBundle::mainBundle() {
    static const std::shared_ptr<NSBundle> main = [] {
        std::string path = mainResourcePath();
        return std::make_shared<NSBundle>(path, readInfo(path));
    }();
    return main;
}

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const std::string& resourcePath) {
    bool isDirectory = false;
    if (!NSFileManager::defaultManager().fileExistsAtPath(resourcePath, &isDirectory) ||
        !isDirectory)
        return nullptr;
    return std::make_shared<NSBundle>(resourcePath, readInfo(resourcePath));
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name,
                                                     const std::string& type) const {
    std::string file = name;
    if (!type.empty())
        file += type[0] == '.' ? type : "." + type;
    std::string path = stringByAppendingPathComponent(resourcePath_, file);
    if (!NSFileManager::defaultManager().fileExistsAtPath(path))
        return std::nullopt;
    return path;
}

std::string NSBundle::bundleIdentifier() const {
    return objectForInfoDictionaryKey("CFBundleIdentifier").string();
}
