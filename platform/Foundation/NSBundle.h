#pragma once
// The application's bundle: its Info.plist and its resource files.
//
// The main bundle's resources are the folder named by env TILVEX_RESOURCES when set, else
// <program folder>/Resources (the build copies them there), else <program folder>/../share/tilvex
// (after install); the first that exists. It is found once, on the first call; when none
// exists, its resources are missing (see mainBundleNotFound).
//
// Threads: any thread; a bundle does not change after it is made.

#include <memory>
#include <optional>
#include <string>

#include "platform/Foundation/Value.h"

class NSBundle {
  public:
    static std::shared_ptr<NSBundle> mainBundle();
    // nullopt when the main bundle's resource folder exists; otherwise a message naming every
    // place it was looked for.
    static std::optional<std::string> mainBundleNotFound();
    // A bundle of the resources in `resourcePath`; its Info.plist may be missing (then the
    // info dictionary is empty). nullptr when the folder does not exist.
    static std::shared_ptr<NSBundle> bundleWithPath(const std::string& resourcePath);

    const std::string& resourcePath() const { return resourcePath_; }

    // The path of the resource "name.type" ("name" alone when `type` is empty; a leading dot of
    // `type` is ignored), when such a file or folder exists.
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) const;

    // Info.plist as a dictionary (empty when it is missing or unreadable).
    const Value& infoDictionary() const { return info_; }
    // A member of Info.plist, null when absent.
    Value objectForInfoDictionaryKey(const std::string& key) const { return info_[key]; }
    // CFBundleIdentifier, "" when absent.
    std::string bundleIdentifier() const;

    explicit NSBundle(std::string resourcePath, Value info)
        : resourcePath_(std::move(resourcePath)), info_(std::move(info)) {}

  private:
    std::string resourcePath_;
    Value info_;
};
