#include "platform/UIKit/UIDevice.h"

#include <algorithm>
#include <random>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"

namespace {

bool isIdentifier(const std::string& text) {
    return text.size() == 40 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string newIdentifier() {
    std::random_device random;
    std::string identifier;
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 40; ++i) identifier += digits[random() % 16];
    return identifier;
}

}  // namespace

std::shared_ptr<UIDevice> UIDevice::currentDevice() {
    static std::shared_ptr<UIDevice> device = std::make_shared<UIDevice>();
    return device;
}

std::string UIDevice::uniqueIdentifier() const {
    std::lock_guard lock(mutex_);
    std::string library = stringByAppendingPathComponent(NSHomeDirectory(), "Library");
    std::string path = stringByAppendingPathComponent(library, "uniqueIdentifier");
    if (auto bytes = NSData::dataWithContentsOfFile(path)) {
        std::string kept(bytes->begin(), bytes->end());
        if (isIdentifier(kept))
            return kept;
    }
    std::string identifier = newIdentifier();
    NSFileManager::defaultManager().createDirectoryAtPath(library, true, nullptr);
    NSData::writeToFile(Data(identifier.begin(), identifier.end()), path, true);
    return identifier;
}
