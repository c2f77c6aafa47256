#pragma once
// One entity of an object model: its name, the class its objects are made of and its attributes
// (sorted by name, which is also their column order in the store). Immutable once built.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class NSAttributeType { String, Date };

struct NSAttributeDescription {
    std::string name;
    NSAttributeType attributeType;
};

class NSEntityDescription {
  public:
    NSEntityDescription(std::string name, std::string managedObjectClassName,
                        std::vector<NSAttributeDescription> attributes);

    const std::string& name() const { return name_; }
    const std::string& managedObjectClassName() const { return className_; }
    const std::vector<NSAttributeDescription>& attributes() const { return attributes_; }
    std::optional<size_t> indexOfAttribute(std::string_view key) const;
    // Changes whenever the name or an attribute's name or type changes.
    uint64_t versionHash() const;

  private:
    std::string name_;
    std::string className_;
    std::vector<NSAttributeDescription> attributes_;
};
