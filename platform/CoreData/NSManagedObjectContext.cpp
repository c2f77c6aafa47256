#include "platform/CoreData/NSManagedObjectContext.h"

#include <algorithm>

#include "platform/Foundation/NSException.h"

void NSManagedObjectContext::setPersistentStoreCoordinator(
    std::shared_ptr<NSPersistentStoreCoordinator> c) {
    coordinator_ = std::move(c);
}

std::shared_ptr<const NSEntityDescription> NSManagedObjectContext::entityForName(
    const std::string& name) const {
    return coordinator_ ? coordinator_->managedObjectModel()->entityForName(name) : nullptr;
}

std::shared_ptr<NSManagedObject> NSManagedObjectContext::insertNewObjectForEntityForName(
    const std::string& name) {
    auto entity = entityForName(name);
    if (!entity)
        NSException::raise(NSInvalidArgumentException, "no entity named " + name);
    auto object = NSManagedObject::make(std::move(entity));
    object->context_ = weakly(this);
    inserted_.push_back(object);
    return object;
}

void NSManagedObjectContext::deleteObject(const std::shared_ptr<NSManagedObject>& object) {
    if (!object || object->context_.lock().get() != this)
        return;
    auto pending = std::find(inserted_.begin(), inserted_.end(), object);
    if (pending != inserted_.end()) {
        inserted_.erase(pending);
        object->context_.reset();
        return;
    }
    updated_.erase(object.get());
    deleted_[object.get()] = object;
}

bool NSManagedObjectContext::hasChanges() const {
    return !inserted_.empty() || !updated_.empty() || !deleted_.empty();
}

std::vector<std::shared_ptr<NSManagedObject>> NSManagedObjectContext::deletedObjects() const {
    std::vector<std::shared_ptr<NSManagedObject>> objects;
    for (const auto& [o, keep] : deleted_) objects.push_back(keep);
    return objects;
}

void NSManagedObjectContext::objectDidChange(NSManagedObject* object) {
    if (object->primaryKey_ == 0 || deleted_.count(object))
        return;
    updated_[object] = retained(object);
}

bool NSManagedObjectContext::save(NSErrorPtr* error) {
    if (!hasChanges())
        return true;
    if (!coordinator_) {
        if (error)
            *error = NSError::make(NSCocoaErrorDomain, NSSQLiteError, "no coordinator");
        return false;
    }
    std::vector<NSManagedObject*> inserted, updated, deleted;
    for (const auto& o : inserted_) inserted.push_back(o.get());
    for (const auto& [o, keep] : updated_) updated.push_back(o);
    for (const auto& [o, keep] : deleted_) deleted.push_back(o);
    std::vector<int64_t> keys;
    if (!coordinator_->saveChanges(inserted, updated, deleted, &keys, error))
        return false;
    for (size_t i = 0; i < inserted_.size(); ++i) {
        inserted_[i]->primaryKey_ = keys[i];
        registered_[{inserted_[i]->entity()->name(), keys[i]}] = inserted_[i];
    }
    for (const auto& [o, keep] : deleted_) {
        registered_.erase({o->entity()->name(), o->primaryKey_});
        o->context_.reset();
        o->primaryKey_ = 0;
    }
    inserted_.clear();
    updated_.clear();
    deleted_.clear();
    return true;
}

std::optional<std::vector<std::shared_ptr<NSManagedObject>>>
NSManagedObjectContext::executeFetchRequest(const NSFetchRequest& request, NSErrorPtr* error) {
    const auto& entity = request.entity();
    if (!entity || !coordinator_) {
        if (error)
            *error = NSError::make(NSCocoaErrorDomain, NSSQLiteError, "no entity to fetch");
        return std::nullopt;
    }
    auto rows = coordinator_->fetchRows(*entity, error);
    if (!rows)
        return std::nullopt;
    std::vector<std::shared_ptr<NSManagedObject>> results;
    for (auto& row : *rows) {
        auto& slot = registered_[{entity->name(), row.primaryKey}];
        auto object = slot.lock();
        if (!object) {
            object = NSManagedObject::make(entity);
            object->values_ = std::move(row.values);
            object->primaryKey_ = row.primaryKey;
            object->context_ = weakly(this);
            slot = object;
        }
        if (!deleted_.count(object.get()))
            results.push_back(std::move(object));
    }
    for (const auto& o : inserted_)
        if (o->entity()->name() == entity->name())
            results.push_back(o);
    const auto& descriptors = request.sortDescriptors();
    std::stable_sort(results.begin(), results.end(), [&](const auto& a, const auto& b) {
        for (const auto& d : descriptors) {
            int c = d.compare(a->valueForKey(d.key()), b->valueForKey(d.key()));
            if (c != 0)
                return c < 0;
        }
        return false;
    });
    return results;
}
