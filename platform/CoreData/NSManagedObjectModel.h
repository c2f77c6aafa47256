#pragma once
// An object model: the entities read from model resources (property lists with an "entities"
// array of {"name", "class", "attributes": [{"name", "type": "string" | "date"}]}).

#include <memory>
#include <string>
#include <vector>

#include "platform/CoreData/NSEntityDescription.h"
#include "platform/Foundation/NSBundle.h"

class NSManagedObjectModel {
  public:
    // The model of one model file; nullptr when it cannot be read or is malformed.
    static std::shared_ptr<NSManagedObjectModel> initWithContentsOfFile(const std::string& path);
    // All entities of the model files given; nullptr when one cannot be read, when two define
    // the same entity, or when no file is given.
    static std::shared_ptr<NSManagedObjectModel> mergedModelFromFiles(
        const std::vector<std::string>& paths);

    // The merge of every model resource (files ending in ".mom") of `bundles`, or of the main
    // bundle when none is given; nullptr as for mergedModelFromFiles.
    static std::shared_ptr<NSManagedObjectModel> mergedModelFromBundles(
        const std::vector<std::shared_ptr<NSBundle>>& bundles = {});

    explicit NSManagedObjectModel(std::vector<std::shared_ptr<const NSEntityDescription>> entities);

    // Sorted by name; an entity's number in the store is its place here plus one.
    const std::vector<std::shared_ptr<const NSEntityDescription>>& entities() const {
        return entities_;
    }
    std::shared_ptr<const NSEntityDescription> entityForName(const std::string& name) const;

  private:
    std::vector<std::shared_ptr<const NSEntityDescription>> entities_;
};
