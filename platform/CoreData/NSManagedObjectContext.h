#pragma once
// A scratch pad of managed objects over a coordinator: inserts, changes and deletions stay in
// memory until `save`, which writes them all in one SQLite transaction. Main thread only. Objects
// point back at their context weakly; the context keeps changed objects alive until saved.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/CoreData/NSFetchRequest.h"
#include "platform/CoreData/NSManagedObject.h"
#include "platform/CoreData/NSPersistentStoreCoordinator.h"

class NSManagedObjectContext : public NSObject {
  public:
    void setPersistentStoreCoordinator(std::shared_ptr<NSPersistentStoreCoordinator> c);
    const std::shared_ptr<NSPersistentStoreCoordinator>& persistentStoreCoordinator() const {
        return coordinator_;
    }
    // The model's entity of that name, nullptr when there is none or no coordinator.
    std::shared_ptr<const NSEntityDescription> entityForName(const std::string& name) const;

    // A new object of the entity, inserted (pending until saved). Raises NSException
    // (NSInvalidArgumentException) for an unknown entity. The context must be owned by a
    // shared_ptr.
    std::shared_ptr<NSManagedObject> insertNewObjectForEntityForName(const std::string& name);
    // Marks a saved object for deletion at the next save; an unsaved one is simply dropped.
    // An object of another context, or one already deleted, is ignored.
    void deleteObject(const std::shared_ptr<NSManagedObject>& object);
    bool hasChanges() const;
    // The objects that the next save inserts, and those it deletes (in the order they were
    // inserted; the deleted ones in no particular order).
    std::vector<std::shared_ptr<NSManagedObject>> insertedObjects() const { return inserted_; }
    std::vector<std::shared_ptr<NSManagedObject>> deletedObjects() const;
    // Writes every pending change; with none, does nothing and succeeds. On failure the changes
    // stay pending, nothing is written, and `*error` is set.
    bool save(NSErrorPtr* error);
    // The objects of the request's entity (saved ones and pending inserts, without pending
    // deletions), sorted; the same object each time for the same row while it is alive.
    std::optional<std::vector<std::shared_ptr<NSManagedObject>>> executeFetchRequest(
        const NSFetchRequest& request, NSErrorPtr* error);

  private:
    friend class NSManagedObject;
    void objectDidChange(NSManagedObject* object);

    std::shared_ptr<NSPersistentStoreCoordinator> coordinator_;
    std::vector<std::shared_ptr<NSManagedObject>> inserted_;
    std::map<NSManagedObject*, std::shared_ptr<NSManagedObject>> updated_;
    std::map<NSManagedObject*, std::shared_ptr<NSManagedObject>> deleted_;
    // Saved objects by entity name and primary key.
    std::map<std::pair<std::string, int64_t>, std::weak_ptr<NSManagedObject>> registered_;
};
