#include "platform/CoreData/NSEntityDescription.h"

#include <algorithm>
#include <cstdint>

namespace {

// FNV-1a: small, and the same on every build, so stores stay openable.
void mix(uint64_t& hash, std::string_view text) {
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    hash ^= 0xff;
    hash *= 1099511628211ull;
}

}  // namespace

NSEntityDescription::NSEntityDescription(std::string name, std::string managedObjectClassName,
                                         std::vector<NSAttributeDescription> attributes)
    : name_(std::move(name)),
      className_(std::move(managedObjectClassName)),
      attributes_(std::move(attributes)) {
    std::sort(attributes_.begin(), attributes_.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
}

std::optional<size_t> NSEntityDescription::indexOfAttribute(std::string_view key) const {
    for (size_t i = 0; i < attributes_.size(); ++i)
        if (attributes_[i].name == key)
            return i;
    return std::nullopt;
}

uint64_t NSEntityDescription::versionHash() const {
    uint64_t hash = 14695981039346656037ull;
    mix(hash, name_);
    for (const auto& a : attributes_) {
        mix(hash, a.name);
        mix(hash, a.attributeType == NSAttributeType::String ? "string" : "date");
    }
    return hash;
}
