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

const char* resourcesVariable() {
    const char* env = std::getenv("TILVEX_RESOURCES");
    return env && *env ? env : nullptr;
}

// Where the main bundle's resources may be, in the order they are tried.
std::vector<std::string> resourceCandidates() {
    if (const char* env = resourcesVariable())
        return {env};
    std::string folder = programFolder();
    return {stringByAppendingPathComponent(folder, "Resources"),
            stringByAppendingPathComponent(folder, "../share/tilvex")};
}

bool isFolder(const std::string& path) {
    bool isDirectory = false;
    return NSFileManager::defaultManager().fileExistsAtPath(path, &isDirectory) && isDirectory;
}

// The first candidate that is a folder; the first candidate when none is.
std::string mainResourcePath() {
    auto candidates = resourceCandidates();
    for (const std::string& path : candidates)
        if (isFolder(path))
            return path;
    return candidates.front();
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

std::optional<std::string> NSBundle::mainBundleNotFound() {
    if (isFolder(mainBundle()->resourcePath()))
        return std::nullopt;
    std::string places;
    for (const std::string& path : resourceCandidates())
        places += (places.empty() ? "" : ", ") + path;
    return "no resource folder found; looked for " + places +
           (resourcesVariable() ? " (named by TILVEX_RESOURCES)"
                                : " (TILVEX_RESOURCES names another folder)");
}

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const std::string& resourcePath) {
    if (!isFolder(resourcePath))
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
