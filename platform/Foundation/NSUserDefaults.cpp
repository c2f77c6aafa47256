#include "platform/Foundation/NSUserDefaults.h"

#include <strings.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Foundation/NSBundle.h"
#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSLog.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/PropertyList.h"

namespace {

std::mutex sharedMutex;
std::shared_ptr<NSUserDefaults> shared;

// Arrays and dictionaries are shared by reference; the defaults keep their own.
Value deepCopy(const Value& v) {
    return v.deepCopy();
}

std::string standardPath() {
    std::string name = NSBundle::mainBundle()->bundleIdentifier();
    if (name.empty())
        name = program_invocation_short_name;
    std::string preferences =
        stringByAppendingPathComponent(NSHomeDirectory(), "Library/Preferences");
    return stringByAppendingPathComponent(preferences, name + ".plist");
}

// The dictionary in the file at `path`; empty when there is none, and then `damaged` says
// whether a file was there all the same.
Value readFile(const std::string& path, bool& damaged) {
    damaged = false;
    auto bytes = NSData::dataWithContentsOfFile(path);
    if (!bytes)
        return Value::dictionary();
    std::optional<Value> root = PropertyList::read(*bytes);
    if (root && root->isDictionary())
        return *root;
    damaged = true;
    NSLog(
        "User defaults: %s is %s; the defaults start empty and the file will be kept aside "
        "when they are next saved.",
        path.c_str(),
        root ? "a property list without a dictionary at its root" : "not a property list");
    return Value::dictionary();
}

// A name beside `path` that is not taken, for keeping a damaged file.
std::string asideName(const std::string& path) {
    auto& files = NSFileManager::defaultManager();
    std::string name = path + ".damaged";
    for (int n = 2; files.fileExistsAtPath(name); ++n)
        name = path + ".damaged-" + std::to_string(n);
    return name;
}

}  // namespace

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
    std::lock_guard lock(sharedMutex);
    if (!shared)
        shared = std::make_shared<NSUserDefaults>(standardPath());
    return shared;
}

void NSUserDefaults::resetStandardUserDefaults() {
    std::lock_guard lock(sharedMutex);
    shared.reset();
}

NSUserDefaults::NSUserDefaults(std::string path)
    : path_(std::move(path)), values_(readFile(path_, damaged_)) {}

Value NSUserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return deepCopy(values_[key]);
}

bool NSUserDefaults::boolForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (v.isNumber())
        return v.boolValue();
    if (!v.isString())
        return false;
    const std::string& s = v.string();
    return strcasecmp(s.c_str(), "yes") == 0 || strcasecmp(s.c_str(), "true") == 0 ||
           std::atoll(s.c_str()) != 0;
}

int64_t NSUserDefaults::integerForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (v.isNumber())
        return v.integerValue();
    if (v.isString())
        return std::atoll(v.string().c_str());
    return 0;
}

std::optional<std::string> NSUserDefaults::stringForKey(const std::string& key) const {
    Value v = objectForKey(key);
    if (v.isString())
        return v.string();
    if (v.isNumber() && v.type() != Value::Type::Boolean)
        return v.description();
    return std::nullopt;
}

void NSUserDefaults::setObject(const Value& value, const std::string& key) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    Value copy = deepCopy(value);
    std::lock_guard lock(mutex_);
    values_.dictionaryRef().set(key, std::move(copy));
}

void NSUserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.dictionaryRef().remove(key);
}

bool NSUserDefaults::synchronize() {
    // The lock is held through the write, so an older snapshot never replaces a newer one.
    std::lock_guard lock(mutex_);
    std::optional<Data> bytes = PropertyList::writeBinary(values_);
    if (!bytes)
        return false;
    auto slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0)
        NSFileManager::defaultManager().createDirectoryAtPath(path_.substr(0, slash), true);
    if (damaged_) {
        const std::string aside = asideName(path_);
        // A file that has gone meanwhile needs no keeping.
        if (std::rename(path_.c_str(), aside.c_str()) != 0 && errno != ENOENT) {
            NSLog("User defaults: could not keep the damaged %s aside as %s (%s); not saved.",
                  path_.c_str(), aside.c_str(), std::strerror(errno));
            return false;
        }
        damaged_ = false;
    }
    return NSData::writeToFile(*bytes, path_, true);
}

Value NSUserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return deepCopy(values_);
}
