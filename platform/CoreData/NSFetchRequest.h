#pragma once
// What to fetch: every object of one entity, in the order of the sort descriptors (the first
// descriptor decides, later ones break ties; unsorted fetches come in store order).

#include <memory>
#include <vector>

#include "platform/CoreData/NSEntityDescription.h"
#include "platform/CoreData/NSSortDescriptor.h"

class NSFetchRequest {
  public:
    void setEntity(std::shared_ptr<const NSEntityDescription> entity) {
        entity_ = std::move(entity);
    }
    const std::shared_ptr<const NSEntityDescription>& entity() const { return entity_; }
    void setSortDescriptors(std::vector<NSSortDescriptor> d) { sortDescriptors_ = std::move(d); }
    const std::vector<NSSortDescriptor>& sortDescriptors() const { return sortDescriptors_; }

  private:
    std::shared_ptr<const NSEntityDescription> entity_;
    std::vector<NSSortDescriptor> sortDescriptors_;
};
